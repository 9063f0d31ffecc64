// FilterContext: the filter's state for one session, owned by the session
// for its whole life (the rule test makes a short-lived one).
//
// Every live context is counted under the rules lock, and the rule reload
// (initialiseFilter) waits until none is left: a new session is only made
// after the previous one has released its context, so sessions run one
// after another and rule data stays read-only while a session uses it.
//
// It owns the session report file "<data root>/state/session%08x.log" (the
// creating thread's id): report entries of judged messages go there, and the
// session turns it into the collection report.  The file is removed when the
// context goes.  It also owns the files a rule opened with FILEOPEN (closed
// after each message and when the context goes) and the message record.
//
// The rule functions reach the context of their thread through
// currentContext(); the session registers it for its thread with a
// ContextRegistration.
#pragma once

#include "antivirus/VirusScanner.h"
#include "common/UniqueFd.h"
#include "filter/MessageDescriptor.h"
#include "filter/MessageInfo.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

class LearnedRating;
class SessionLink;

class FilterContext
{
public:
    explicit FilterContext(SessionLink* session = nullptr);
    virtual ~FilterContext();
    FilterContext(const FilterContext&) = delete;
    FilterContext& operator=(const FilterContext&) = delete;

    static int liveCount();

    // Appends text (lines ending in "\n") to the session report.
    void writeReportEntry(const std::string& text);
    // Ends writing; the file stays until the context goes.
    void closeReport();

    // A tab, text and a line feed on decisionDetails, unless text is blank.
    // CR and LF inside text become blanks: message text never breaks the
    // lines the filter writes.
    void addDetail(const std::string& text);
    // "X-Quillfence-Pro: " line, "\n" and the details on decisionHeaders;
    // line, "\n" and the details on reportText (CR and LF made blanks).
    void addDecision(const std::string& line);
    // The FROM header of chunk 1 into out, unless out holds text already.
    void getFromAddress(std::string& out);

    // FILEOPEN and FILECLOSE: small numbers (from 1) standing for the files
    // a rule opened in this context.  0 when the file cannot be opened.
    int openFile(const char* path, const char* mode);
    bool closeFile(int handle);
    void closeOpenFiles();

    SessionLink* session() const { return m_session; }
    // What the filter asks about the message being judged goes to session
    // from now on (null: nothing is being judged).
    void setSession(SessionLink* session);
    // The session's virus scanner, made (its settings read) on first use.
    VirusScanner& scanner();
    // The scanner when this session has made one, else null.
    const VirusScanner* scannerIfMade() const { return m_scanner.get(); }
    // What the token store has learned, opened on first use (so once per
    // session): training committed later is seen by the next session.
    LearnedRating& learnedRating();

    std::string currentRule;
    std::string reportPath;
    std::string reportText;
    std::string addressCopy;       // the header value the address walk runs over
    size_t addressCursor = std::string::npos;   // npos: no walk under way
    int ruleRating = 0;
    bool reportWritten = false;    // at least one entry was written
    std::string decisionDetails;
    std::string decisionHeaders;
    // "X-Quillfence-Pro: " lines the message gets whatever its band does
    // (attachments that could not be scanned), each ending in "\n";
    // cleared with decisionHeaders.
    std::string headerNotes;
    // The archive staging files this session has written copies to (see
    // Archive.h), each held locked for as long as the context lives: no
    // other session takes a file that is still being written for a
    // leftover.
    struct StagedArchive {
        std::string path;
        std::string folder;
        std::string day;   // "SFyymmdd"
        UniqueFd file;
        bool closed;       // takes no more copies: a failed one could not be cut off
    };
    std::vector<StagedArchive> stagedArchives;
    // Whose copies this session stages (the account state file's name),
    // and the state key of the message being judged ("" for none).
    std::string archiveAccount;
    std::string archiveKey;
    // Lines the session's collection report carries whatever else it
    // holds: what went wrong with a message that the user must know of.
    // Kept in memory, so that a full disk cannot lose them.
    std::vector<std::string> notices;
    bool isOk = false;
    bool isSpam = false;
    bool stopChecking = false;
    MessageInfo message;
    const MessageDescriptor* currentMessage = nullptr;

    // Rating only (quillfnc -rate): evaluation judges, but writes no
    // report entry and neither rewrites nor archives the message.
    bool ratingOnly = false;
    // The last evaluation let through a message its band deletes, as no
    // whole archive copy of it could be staged.
    bool keptUnarchived = false;
    // The last evaluation's outcome: its total and band (0 to 4).
    double lastTotal = 0.0;
    int lastBand = 0;

private:
    FILE* m_reportFile = nullptr;
    SessionLink* m_session;
    std::map<int, FILE*> m_openFiles;
    std::unique_ptr<VirusScanner> m_scanner;
    std::unique_ptr<LearnedRating> m_learnedRating;
    int m_nextFile = 1;
};

// The context registered for the calling thread, or null.
FilterContext* currentContext();

// Registers context for the calling thread for as long as it lives.
class ContextRegistration
{
public:
    explicit ContextRegistration(FilterContext& context);
    ~ContextRegistration();
    ContextRegistration(const ContextRegistration&) = delete;
    ContextRegistration& operator=(const ContextRegistration&) = delete;

private:
    unsigned long m_thread;
};

// Once per process, copies the program's rules folder into the data root's
// (a file only when missing there or not newer) and creates an empty
// user.sfr; then waits, without a time limit, until no FilterContext is
// alive, and reloads the rules, lists and settings.  False (nothing loaded)
// when the calling worker thread is asked to stop while it waits.
bool initialiseFilter();
