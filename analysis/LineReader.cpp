#include "analysis/LineReader.h"

#include "common/DotLine.h"

#include <sys/stat.h>

LineReader::LineReader(FILE* file, size_t limit)
    : m_file(file), m_limit(limit == 0 ? 1 : limit), m_buffer(m_limit)
{
    const off_t here = file ? ::ftello(file) : -1;
    m_position = here < 0 ? 0 : here;
    m_start = m_position;
}

bool LineReader::next()
{
    m_size = 0;
    if (m_file == nullptr)
        return false;
    m_start = m_position;
    m_lineStart = m_nextStartsLine;
    int c = EOF;
    while (m_size < m_limit && (c = getc_unlocked(m_file)) != EOF) {
        m_buffer[m_size++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    m_position += static_cast<int64_t>(m_size);
    m_nextStartsLine = m_size > 0 && m_buffer[m_size - 1] == '\n';
    return m_size > 0;
}

bool LineReader::isBlankLine() const
{
    const std::string_view line = text();
    return m_lineStart && (line == "\r\n" || line == "\n");
}

bool LineReader::isDotLine() const
{
    const std::string_view line = text();
    return m_lineStart && ::isDotLine(line);
}

bool LineReader::lineBeginsWith(std::string_view prefix) const
{
    return m_lineStart && text().starts_with(prefix);
}

int64_t messageFileLength(FILE* file)
{
    if (file == nullptr)
        return 0;
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0)
        return 0;
    return info.st_size;
}
