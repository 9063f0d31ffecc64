#include "store/MessageText.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

MessageText::MessageText(const CMessage& message)
    : m_fd(message.path.empty() ? -1 : ::open(message.path.c_str(), O_RDONLY | O_CLOEXEC)), m_offset(message.textOffset),
      m_length(std::max(message.textLength, 0L)),
      m_tail(message.textTail)
{}

long MessageText::read(char* buf, size_t size)
{
    if (m_position < m_length) {
        if (!m_fd)
            return -1;
        const size_t want = std::min(size, static_cast<size_t>(m_length - m_position));
        ssize_t n;
        do {
            n = ::pread(m_fd.get(), buf, want, m_offset + m_position);
        } while (n < 0 && errno == EINTR);
        if (n <= 0)
            return -1;   // gone short of the measured text
        m_position += n;
        return n;
    }
    const long tailDone = m_position - m_length;
    const size_t left = m_tail.size() - static_cast<size_t>(tailDone);
    const size_t n = std::min(size, left);
    std::memcpy(buf, m_tail.data() + tailDone, n);
    m_position += static_cast<long>(n);
    return static_cast<long>(n);
}
