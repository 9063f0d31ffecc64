// MessageInfo: the filter's view of the message being judged: its spooled
// file, opened on the first request of a rule, the MIME chunks of it (chunk
// 1 is the whole message, built at once; the parts only when a rule asks for
// them), which chunk the rules look at, and the user macros USER1 to USER4.
//
// It reads the spool only; the whole message is fetched through the session
// (SessionLink) when a rule needs the body of a header-only spool.  Failures
// are logged ("mailmgr: Unable to open %s") or trapped, and the query then
// answers false or 0.  Used by one thread at a time.
#pragma once

#include "analysis/Chunk.h"
#include "filter/MessageDescriptor.h"

#include <cstdio>
#include <memory>
#include <string>

class SessionLink;

class MessageInfo
{
public:
    MessageInfo() = default;
    ~MessageInfo();
    MessageInfo(const MessageInfo&) = delete;
    MessageInfo& operator=(const MessageInfo&) = delete;

    // The session that spooled the messages (may be null: no downloads,
    // size 0).
    void setSession(SessionLink* session) { m_session = session; }

    // Attaches to message: the file closed, the chunks gone; macros kept.
    void reset(const MessageDescriptor* message);
    // Opens the spool and parses chunk 1's header; true at once when open.
    bool open(const MessageDescriptor* message);
    void closeFile();
    // A header-only spool is replaced by the whole message (once), and the
    // record opened again on it.
    void ensureWholeMessage(const MessageDescriptor* message);
    // The number of chunks; builds them (whole message) on first call.
    int segmentCount();
    // Makes chunk n (1-based) current; 1 never builds the parts.
    bool selectSegment(int n);
    bool matchBody(const char* pattern);
    // The current chunk's decoded body (the whole message fetched first):
    // its text and strlen into text and length; text null without one.
    void decodedBody(const char*& text, size_t& length);
    bool matchRawBody(const char* pattern);
    // n of 1 to 4: kept for subject templates, and set on chunk 1 when the
    // record is open; others ignored.
    void setUserMacro(int n, const std::string& text);
    const std::string& userMacro(int n) const { return m_userMacros[(n >= 1 && n <= 4) ? n - 1 : 0]; }
    void clearUserMacros();

    bool isOpen() const { return m_open; }
    int messageSize() const { return m_messageSize; }
    int currentSegment() const { return m_currentSegment; }
    // The current chunk and the open file: null when not open.
    Chunk* chunk() const { return m_open ? m_current : nullptr; }
    FILE* file() const { return m_file; }
    const MessageDescriptor* message() const { return m_message; }

private:
    int m_messageSize = 0;
    bool m_structureParsed = false;
    Chunk* m_current = nullptr;
    Chunk::List m_segments;
    std::string m_userMacros[4];
    bool m_open = false;
    // The spool is read through this buffer: a usual message in one read.
    static constexpr size_t kReadBuffer = 65536;
    std::unique_ptr<char[]> m_readBuffer;

    FILE* m_file = nullptr;
    const MessageDescriptor* m_message = nullptr;
    int m_currentSegment = 0;
    SessionLink* m_session = nullptr;
};
