// MessageWalk: one message's way through the virus scanner: its MIME
// entities copied in file order to the rewritten copy, the body of every
// entity whose type is not exempt (and every uuencoded block) decoded into a
// work file and judged, and a judged-bad attachment replaced by the notice
// part, quarantined or deleted, and listed in the run report
// "<state>/infection.txt".  Blocks inside bodies are judged too: uuencoded
// and BinHex 4.0 blocks in copied text, and the attachments of an MS TNEF
// block (winmail.dat) found clean as a whole.
//
// Each entity's header is read by the rules' parser (Chunk), so the walk
// looks at the parts the rules see; a header naming several content types
// is split or judged by any of them.  Body lines are read whole (however
// long), NUL bytes becoming blanks.  Nesting is bounded (kMaxDepth), so is
// the number of entities (kMaxEntities); a message beyond either is copied
// as it stands from there on.
#pragma once

#include "analysis/Chunk.h"
#include "antivirus/ClamEngine.h"

#include <cstdio>
#include <string>
#include <vector>

class VirusScanner;

class MessageWalk
{
public:
    // Multiparts nested deeper than this are copied whole, and no more
    // entities than this are examined in one message: the limits of the
    // rules' parser, so that the walk looks at every part the rules see.
    static constexpr int kMaxDepth = Chunk::kMaxDepth;
    static constexpr int kMaxEntities = static_cast<int>(Chunk::kMaxChunks);
    // Attachment names are cut to this many bytes: file names on disk.
    static constexpr size_t kMaxName = 200;
    // No more of a BinHex data fork than this is written out and judged
    // (run-length sequences can expand a small block a hundredfold).
    static constexpr size_t kMaxBinHexFork = size_t{64} << 20;
    // The error number of the notice for a TNEF block that ends inside an
    // attribute, holds more components than kMaxEntities, or cannot be
    // read: it is never delivered unjudged.
    static constexpr int kTnefUnreadable = 38;

    MessageWalk(VirusScanner& scanner, FILE* in, FILE* out, const std::string& spoolPath,
                const std::string& stateFolder);
    // The message's envelope, for the log line of an encrypted archive let
    // through.
    void setEnvelope(const std::string& sender, const std::string& recipient)
    {
        m_sender = sender;
        m_recipient = recipient;
    }
    // Walks the whole message; false when it could not be walked to its end
    // (the copy is then not to be used).
    bool run();

    bool clean() const { return m_clean; }
    const std::string& subject() const { return m_subject; }
    const std::string& fromAddress() const { return m_fromAddress; }

    // Cleans an attachment name for use as a file name: no folder part, no
    // characters that are unsafe in names, at most kMaxName bytes; an empty
    // result is "unnamed.att".
    static std::string cleanName(const std::string& name);

private:
    enum class Ending { Sibling, Closing, End };

    // One entity: header and body.  delimiter: the enclosing multipart's
    // "--boundary", empty at the top level.
    Ending processEntity(const std::string& delimiter, int depth, bool top);
    bool readLine(std::string& line);
    void unread(const std::string& line);
    // Copies the bytes [from, to) of the message as they stand, leaving the
    // file at to.
    void copyRange(long from, long to);
    void write(const std::string& text);
    // The body from the current position: decoded into a work file and
    // judged; true when it was replaced by a notice (the lines read then
    // are gone), false when it is to be copied (the position is back).
    bool extractBody(const std::string& name, const std::string& encoding, const std::string& delimiter,
                     std::string& endLine, bool& ended);
    // A uuencoded block starting at line: judged, then written (or its
    // notice); false when line does not begin one.
    bool checkUuencode(const std::string& line, const std::string& delimiter);
    // A BinHex 4.0 block starting at line: its data fork judged, then the
    // block written unchanged (or its notice); false when line does not
    // begin one or the block's header cannot be read (nothing consumed).
    bool checkBinHex(const std::string& line, const std::string& delimiter);
    // The attachments of an MS TNEF block in workfile (already judged clean
    // as a whole), each judged on its own.  True when the entity was
    // replaced: by one TNEF notice when a component is bad, by the
    // engine-error notice when the block cannot be read; name is the
    // entity's attachment name.
    bool checkTnef(const std::string& workfile);
    // A decoded block's work file judged: replaced by its notice, or the
    // block's original lines (first, then block) written back.  True.
    bool judgeBlock(const std::string& workfile, const std::string& first,
                    const std::vector<std::string>& block);
    // Creates a work file for name in the work folder, never replacing a
    // file; path receives its name.  Null when none can be made.
    FILE* createWorkfile(const std::string& name, std::string& path);
    // The verdict on a work file; writes the notice and returns true when
    // the attachment is to be replaced.
    bool judge(const std::string& workfile);
    void writeNotice(const EngineVerdict& verdict, const std::string& workfile);
    struct TnefFinding {
        EngineVerdict verdict;
        std::string component;   // the component's cleaned name
    };
    void writeTnefNotice(const std::vector<TnefFinding>& findings, const std::string& workfile);
    // True when an encrypted archive is to be delivered as it is.
    bool passesLocked(const EngineVerdict& verdict, const std::string& workfile);
    // The notice part's header and alert line for the work file's name.
    static std::string noticeHead(const std::string& file);
    // Quarantines (keep) or deletes a replaced work file; the line naming
    // the quarantined file ("The <what> has been quarantined as ...").
    std::string keepOrDelete(const std::string& workfile, bool keep, EngineVerdict::Kind worst, const char* what);
    std::string quarantineFile(const std::string& workfile);
    void report(const std::string& line);
    // Logs that no work file could be made for name, and notes the
    // attachment as unscanned.
    void workfileFailed(const std::string& name);
    std::string workFolder() const;
    // The bare content type ("text/plain") is one the settings leave unscanned.
    bool exemptType(const std::string& type) const;

    VirusScanner& m_scanner;
    FILE* m_in;
    FILE* m_out;
    std::string m_spoolPath;
    std::string m_stateFolder;
    std::vector<std::string> m_pushedBack;
    // The header fields (content fields left out) the notice replacing a
    // single-part message begins with; empty otherwise.
    std::string m_keptHeader;
    bool m_clean = true;
    bool m_failed = false;
    int m_entities = 0;
    std::string m_subject;
    std::string m_fromAddress;
    std::string m_sender;
    std::string m_recipient;
};
