#include "filter/MessageInfo.h"

#include "filter/SessionLink.h"

#include "common/CEventLog.h"

#include <sys/file.h>

#include <climits>
#include <cstdio>

MessageInfo::~MessageInfo()
{
    reset(nullptr);
}

void MessageInfo::reset(const MessageDescriptor* message)
{
    closeFile();
    m_open = false;
    m_segments.clear();
    m_current = nullptr;
    m_currentSegment = 0;
    m_structureParsed = false;
    m_message = message;
}

bool MessageInfo::open(const MessageDescriptor* message)
{
    if (m_open)
        return true;
    try {
        m_message = message;
        if (message == nullptr || message->path == nullptr)
            return false;
        m_file = std::fopen(message->path, "rb");
        if (m_file == nullptr) {
            CEventLog().LogEvent(1, "mailmgr: Unable to open %s", message->path);
            return false;
        }
        // A usual message in a read or two, not one for every 4 KB (stdio
        // takes the size only with a buffer given).
        if (!m_readBuffer)
            m_readBuffer = std::make_unique<char[]>(kReadBuffer);
        std::setvbuf(m_file, m_readBuffer.get(), _IOFBF, kReadBuffer);
        // Other writers are kept out while the rules read it.
        ::flock(::fileno(m_file), LOCK_SH);
        m_segments.clear();
        m_segments.push_back(std::make_unique<Chunk>(0));
        m_current = m_segments.front().get();
        m_currentSegment = 1;
        for (int n = 1; n <= 4; ++n)
            m_current->setUserMacro(n, m_userMacros[n - 1]);
        m_current->parseStructure(false, m_file, m_segments, nullptr);
        m_open = true;
        const long size = m_session ? m_session->currentMessageSize() : 0;
        m_messageSize = static_cast<int>(size > INT_MAX ? INT_MAX : size);
        std::rewind(m_file);
        return true;
    } catch (...) {
        DebugX("messageinfo", __LINE__);
        reset(message);
        return false;
    }
}

void MessageInfo::closeFile()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

void MessageInfo::ensureWholeMessage(const MessageDescriptor* message)
{
    if (m_session == nullptr || !m_session->isCurrentHeaderOnly())
        return;
    reset(message);
    m_session->fetchWholeMessage();
    open(message);
}

int MessageInfo::segmentCount()
{
    try {
        if (!m_structureParsed) {
            ensureWholeMessage(m_message);
            if (!open(m_message))
                return 0;
            // The parts of the whole message, found below chunk 1; what the
            // rules had chunk 1 work out already (header, words, decoded
            // body) stays, as the file has not changed since open().
            m_segments.resize(1);
            m_segments.front()->parseStructure(true, m_file, m_segments, nullptr);
            m_current = m_segments.front().get();
            m_currentSegment = 1;
            m_structureParsed = true;
        }
        return static_cast<int>(m_segments.size());
    } catch (...) {
        DebugX("messageinfo", __LINE__);
        return 0;
    }
}

bool MessageInfo::selectSegment(int n)
{
    if (!open(m_message) || n < 1)
        return false;
    if (n == 1) {
        m_current = m_segments.front().get();
        m_currentSegment = 1;
        return true;
    }
    if (n > segmentCount())
        return false;
    m_current = m_segments[static_cast<size_t>(n - 1)].get();
    m_currentSegment = n;
    return true;
}

bool MessageInfo::matchBody(const char* pattern)
{
    try {
        ensureWholeMessage(m_message);
        return open(m_message) && pattern && m_current->matchDecodedBody(m_file, pattern);
    } catch (...) {
        DebugX("messageinfo", __LINE__);
        return false;
    }
}

void MessageInfo::decodedBody(const char*& text, size_t& length)
{
    text = nullptr;
    length = 0;
    try {
        ensureWholeMessage(m_message);
        if (!open(m_message))
            return;
        m_current->decodeBody(m_file);
        text = m_current->decodedBody();
        length = text ? m_current->decodedLength() : 0;
    } catch (...) {
        DebugX("messageinfo", __LINE__);
        text = nullptr;
    }
}

bool MessageInfo::matchRawBody(const char* pattern)
{
    try {
        ensureWholeMessage(m_message);
        return open(m_message) && pattern && m_current->matchRawBody(m_file, pattern);
    } catch (...) {
        DebugX("messageinfo", __LINE__);
        return false;
    }
}

void MessageInfo::setUserMacro(int n, const std::string& text)
{
    if (n < 1 || n > 4)
        return;
    m_userMacros[n - 1] = text;
    if (m_open)
        m_segments.front()->setUserMacro(n, text);
}

void MessageInfo::clearUserMacros()
{
    for (std::string& macro : m_userMacros)
        macro.clear();
}
