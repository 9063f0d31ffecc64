#include "common/EventLogBlock.h"

#include "common/CEventLog.h"

#include <cstdarg>

EventLogBlock::EventLogBlock(unsigned short level, const char* category)
    : m_category(category ? category : ""), m_level(level)
{
}

EventLogBlock::~EventLogBlock()
{
    try {
        flush();
    } catch (...) {
        // The lines are lost; logging never fails its caller.
    }
}

void EventLogBlock::add(const char* format, ...)
{
    if (!CEventLog::enabled(m_level))
        return;
    char line[CEventLog::kMaxLine + 1];
    va_list args;
    va_start(args, format);
    const size_t length =
        CEventLog::formatLine(line, m_level, m_category.empty() ? CEventLog::logapp : m_category, format, args);
    va_end(args);
    try {
        if (m_lines.size() + length > kMaxBlock)
            flush();
        m_lines.append(line, length);
    } catch (...) {
        // The line is lost; logging never fails its caller.
    }
}

void EventLogBlock::flush()
{
    if (m_lines.empty())
        return;
    CEventLog::writeLines(m_lines.data(), m_lines.size());
    m_lines.clear();
}
