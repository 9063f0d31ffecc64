// CMessage: one entry of a session's mailbox, as the client sees it.
//
// A message is either on the server (serverNumber > 0) or local to the proxy
// (a virtual message or one from the pending folder).  Its text, when held in
// memory, always ends with CR LF "." CR LF.  Entries are numbered from 1 in
// mailbox order and are never removed during a session; DELE only marks them.
#pragma once

#include <memory>
#include <optional>
#include <string>

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
    // Reads the spool file "msg<spoolId>.msg" of stateFolder into text (see
    // readText); false, with "Unable to open" logged, when it cannot be read.
    bool load(const std::string& id, const std::string& stateFolder);
    // text = the file's bytes up to and including the first CR LF "." CR LF
    // (appended when missing); size = its length; path = file.
    bool readText(const std::string& file);
    // "QF%08x%04d%02d%02d%02d%02d%02d": a fresh id and the local time.
    static std::string generatedUid();

    bool deleted = false;
    bool local = false;
    bool pending = false;
    bool headerOnly = false;
    std::optional<std::string> text;
    long size = -1;
    std::string uid;        // at most kMaxUid characters
    int serverNumber = 0;
    std::string spoolId;    // the hex digits of "msg%s.msg", or empty
    std::string path;

    // The uid field of the account state file holds at most 79 characters.
    static constexpr size_t kMaxUid = 79;
};
