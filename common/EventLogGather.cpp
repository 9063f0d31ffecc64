#include "common/EventLogGather.h"

#include "common/CEventLog.h"

EventLogGather::EventLogGather() : m_outer(CEventLog::holdLines(nullptr))
{
    // An outer object already holds this thread's lines: it keeps them.
    CEventLog::holdLines(m_outer ? m_outer : &m_lines);
}

EventLogGather::~EventLogGather()
{
    CEventLog::holdLines(m_outer);
    if (m_outer || m_lines.empty())
        return;
    try {
        CEventLog::writeLines(m_lines.data(), m_lines.size());
    } catch (...) {
        // The lines are lost; logging never fails its caller.
    }
}
