// MessageText: reads the spooled text of a mailbox entry for the client, in
// blocks: textLength bytes of its file from textOffset, then its textTail.
//
// The file is opened by the constructor; a text whose file has gone or
// shrunk since it was measured reads as an error, never as a shorter text.
#pragma once

#include "common/UniqueFd.h"
#include "store/CMessage.h"

#include <string>

class MessageText
{
public:
    explicit MessageText(const CMessage& message);

    // A text held in memory alone (no file bytes) needs no file.
    bool isOpen() const { return m_length == 0 || static_cast<bool>(m_fd); }
    // The whole text's length, tail included.
    long size() const { return m_length + static_cast<long>(m_tail.size()); }
    // Up to size bytes of the text from the current position: the count,
    // 0 at its end, -1 when the file cannot give what was measured.
    long read(char* buf, size_t size);

private:
    UniqueFd m_fd;
    long m_offset;
    long m_length;
    std::string m_tail;
    long m_position = 0;
};
