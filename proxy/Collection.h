// Collection: a login's mailbox, gathered from the server and judged.
//
// run() lists the server's messages and their ids, gives the messages
// judged in earlier sessions their texts from the account state, then
// spools the header (or, without TOP, the whole) of each new message and
// has the judge rate it: the others keep their spooled texts, and once all
// are judged the spam is deleted on the server and leaves the mailbox.
// While a message spooled whole is judged, the server is already sending
// the next one (the request for it goes out first).  The pending
// folder's messages follow (for the proxy's own user), then the collection
// report and the session's notices as messages of the proxy's own.  While
// it judges, the collection is the filter's link to the message judged.
// Failures of the server's connection are raised as UpstreamLost.
#pragma once

#include "filter/Evaluation.h"
#include "filter/FilterContext.h"
#include "filter/SessionLink.h"
#include "store/AccountState.h"
#include "store/PendingFolder.h"
#include "store/CMessage.h"
#include "upstream/UpstreamClient.h"

#include <functional>
#include <set>
#include <string>

class CollectionSpools;

class Collection : public SessionLink
{
public:
    // A message whose header is larger than this is not judged: the rules
    // would hold it in memory.  It is passed on to the client unjudged.
    static constexpr long kMaxHeaderBytes = 1 << 20;
    // Sizes in the server's listing beyond this are not sane: the filter
    // and the client are given sizes as int.
    static constexpr long kMaxMessageSize = 0x7FFFFFFF;
    // A listing of more messages than this fails the collection: every
    // entry costs memory for the whole session.
    static constexpr size_t kMaxMailbox = 1000000;
    // Spooled lines are written in runs of about this many bytes.
    static constexpr size_t kSpoolBuffer = 65536;

    struct Settings {
        int maxSeconds = 0;      // MaxCollectionTime; 0: no limit
        bool report = true;      // CollectionReport
        bool ownUser = true;     // the client is the proxy's own user
        // Once the rules have asked for the body of the message before, a
        // message of at most this many bytes (the rules' MaxSpamSize) is
        // fetched whole at once: rules that read one body read them all.
        // 0: headers first, always.
        long wholeAhead = 0;
    };
    struct Place {
        UpstreamClient& server;
        MessageJudge& judge;
        FilterContext& filter;
        AccountState& state;
        Mailbox& mailbox;
        PendingClaim& pending;   // the pending messages this session serves
        std::string stateFolder;
        std::string accountFile;
    };
    // status is shown the collection's progress (texts of at most 63
    // characters).
    Collection(Place place, Settings settings, std::function<void(const char*)> status);

    // True when the mailbox is complete for the client.
    bool run();
    // The server answered UIDL (else the client is refused it).
    bool uidlSupported() const { return m_uidlSupported; }
    // The server's numbers of the messages the filter deleted on the server
    // (they are no longer in the mailbox).
    const std::vector<int>& deletedOnServer() const { return m_deletedOnServer; }

    long currentMessageSize() const override;
    bool isCurrentHeaderOnly() const override;
    void fetchWholeMessage() override;

private:
    enum class Spooled { Done, Refused, Unwritable, HeaderTooLarge };

    // The request that fetches message now: its header, or the whole of it.
    std::string requestFor(const CMessage& message) const;
    bool fetchesWhole(const CMessage& message) const;
    // Sends request and reads its status line; a request sent ahead is
    // only read, and one sent ahead for something else is settled first.
    std::string ask(const std::string& request);
    // Reads (and drops) the reply of the request sent ahead, if any, so
    // that the connection is free for the next command.
    void settleAhead();
    // After message index was spooled whole: the request for the next
    // message to spool goes out now, so that the server sends it while
    // this one is judged.
    void sendAhead(size_t index);
    // DELE for every message judged spam, in the order judged: each one
    // deleted leaves the mailbox, one the server keeps is relayed.
    void deleteJudgedSpam();

    bool collectListing();
    bool collectIds();
    void assignUids(const std::vector<std::string>& ids);
    // Sends request and writes the reply's lines into file, the scratch
    // spool at path, from where it stands, and cuts the file there.  whole:
    // the request fetches the whole message, not its header.
    Spooled spoolMessage(CMessage& message, const std::string& request, const std::string& path, int file,
                         bool whole, long position);
    // The message lines of a reply whose status line has been read: into
    // the file spool (when not -1) up to kMaxHeaderBytes of header; read to
    // the end in every case.  written turns false when a write failed.
    // False when the header was too large.
    bool readMessageLines(int spool, bool& written, bool whole, long position);
    void spoolAndJudge(size_t index, bool& removed, CollectionSpools& spools);
    void createTimeoutNotice(int processed, int waiting);
    void createCollectionReport(const std::string& reportPath);
    void show(const char* format, ...) __attribute__((format(printf, 2, 3)));

    Place m_place;
    Settings m_settings;
    std::function<void(const char*)> m_status;
    bool m_useTop = true;
    bool m_bodyAsked = false;     // the rules asked for the last message's body
    bool m_uidlSupported = true;
    std::vector<int> m_deletedOnServer;
    // Judged spam, deleted on the server once every message is judged: a
    // DELE in between would wait for the reply of a request sent ahead.
    std::vector<CMessage*> m_judgedSpam;
    std::string m_sentAhead;      // a request whose reply is not read yet
    int m_current = -1;           // the entry being judged
    std::string m_currentPath;    // its spool
    CollectionSpools* m_spools = nullptr;   // while a message is judged
};

// The key a staged archive copy of message carries: its state key, or "-"
// and the id the client is shown for a message never recorded.
std::string archiveKeyOf(const CMessage& message);
// Whether the message a staged copy's key names is on the server and is
// judged and archived again by a later session, so that the copy must not
// go into the archive.  recorded null: while a collection settles
// leftovers (the message has no text from the state); else at QUIT (not
// deleted, and not among the keys the new state recorded).
bool judgedAgain(const Mailbox& mailbox, const std::string& key, const std::set<std::string>* recorded);
