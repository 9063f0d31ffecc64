#include "store/TopCut.h"

TopCut::TopCut(long lines, long total) : m_lines(lines), m_bodyEnd(total - 3) {}

long TopCut::take(const char* block, long got)
{
    if (m_done)
        return 0;
    if (m_lines < 0) {
        m_taken += got;
        return got;
    }
    static const char kBlank[] = "\r\n\r\n";
    long upTo = got;   // bytes of this block that belong to the reply
    for (long i = 0; i < got; ++i) {
        const long at = m_offset + i;
        const char c = block[i];
        const bool lineEnd = m_previous == '\r' && c == '\n';
        m_previous = c;
        if (m_headerEnd < 0) {
            m_blankMatched = (c == kBlank[m_blankMatched]) ? m_blankMatched + 1 : (c == '\r' ? 1 : 0);
            if (m_blankMatched == 4) {
                m_headerEnd = at + 1;
                if (m_lines == 0 || m_headerEnd >= m_bodyEnd) {
                    upTo = i + 1;
                    m_done = true;
                    break;
                }
            }
            continue;
        }
        if (at >= m_bodyEnd) {
            upTo = i;
            m_done = true;
            break;
        }
        ++m_bodyBytes;
        if (lineEnd && ++m_bodyLines == m_lines) {
            upTo = i + 1;
            m_done = true;
            break;
        }
    }
    m_offset += got;
    m_taken += upTo;
    return upTo;
}
