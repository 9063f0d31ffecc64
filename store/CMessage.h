// CMessage: one entry of a session's mailbox, as the client sees it.
//
// A message is either on the server (serverNumber > 0) or local to the proxy
// (a virtual message or one from the pending folder).  Its spooled text stays
// on disk: textLength bytes of the file at path from textOffset, followed
// by textTail, always ending with CR LF "." CR LF.  Entries are numbered
// from 1 in mailbox order and are never removed during a session; DELE only
// marks them.
#pragma once

#include <memory>
#include <string>
#include <vector>

class CMessage
{
public:
    virtual ~CMessage() = default;

    // size when it is 0 or more; otherwise the length of the message's file
    // (its spool file in stateFolder when spoolId is set, else path), or 0
    // when there is no file.
    long sizeQuery(const std::string& stateFolder) const;
    // The file the message is read from: its spool file, else path.
    std::string filePath(const std::string& stateFolder) const;
    // Measures the spool that the state field id names in stateFolder (see
    // SpoolField and readText) and takes it as the text, spoolId = id; a
    // slice of a header pack must be one whole text.  False, the message
    // unchanged, when it cannot be read ("Unable to open" logged) or when
    // id is no such field.
    bool load(const std::string& id, const std::string& stateFolder);
    // Takes the pack slice id names (a SpoolField of a pack) as the text
    // without reading it: for a text just written there whole, ended by CR
    // LF "." CR LF.  False, the message unchanged, for any other field.
    bool takePacked(const std::string& id, const std::string& stateFolder);
    // The text of file from offset, within limit bytes when limit is 0 or
    // more (false when the file ends short of them): its bytes up to and
    // including the first CR LF "." CR LF; a text without one is served with
    // the terminator appended.  size = the text's length; path = file.
    // Nothing is kept in memory.
    bool readText(const std::string& file, long offset = 0, long limit = -1);
    // bytes as readText would serve them: cut after the first CR LF "." CR
    // LF, or with the terminator appended.
    static std::string wholeText(const std::string& bytes);
    bool hasText() const { return textLength >= 0; }
    // A header-only spool is not the message: the client is told the size
    // the server listed, as RETR relays the whole message.
    void keepListedSize(long listed)
    {
        if (headerOnly)
            size = listed;
    }
    // "QF%08x%04d%02d%02d%02d%02d%02d": a fresh id and the local time.
    static std::string generatedUid();
    // RFC 1939's unique-id: 1 to 70 characters from 0x21 to 0x7E.  Only such
    // an id names a message in the account state file.
    static bool isValidUid(const std::string& id);
    // A stable stand-in shown to the client for a server id that is not a
    // valid unique-id or that the server gave more than one message:
    // "QFX" and the MD5 of the id and its occurrence, in hex.
    static std::string substituteUid(const std::string& serverId, int occurrence);

    bool deleted = false;
    bool local = false;
    bool pending = false;
    bool headerOnly = false;
    // The client has had the whole text (RETR, or a TOP of every line).
    bool retrieved = false;
    // The whole message could not be fetched while it was judged.
    bool wholeRefused = false;
    // The key its staged archive copy carries (see archiveKeyOf in proxy/Collection.h).
    std::string archiveKey;
    long textOffset = 0;    // where in path the text begins
    long textLength = -1;   // bytes of path that are the text; -1: no text
    std::string textTail;   // served after them when the file lacks the end
    long size = -1;
    std::string uid;        // the id the client is shown
    // The server's id when it names the message in the account state file;
    // empty for messages that are never recorded (no valid, unique id).
    std::string stateKey;
    int serverNumber = 0;
    std::string spoolId;    // the state file's SpoolField of the spool, or empty
    std::string path;

    // The uid field of the account state file: RFC 1939's 70 characters.
    static constexpr size_t kMaxUid = 70;
};

// A session's mailbox, in the order the client numbers it.
using Mailbox = std::vector<std::unique_ptr<CMessage>>;
