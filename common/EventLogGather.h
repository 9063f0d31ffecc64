// EventLogGather: while an object lives, the event-log lines of its thread
// (CEventLog::LogEvent, EventLogBlock) are held in memory and reach the file
// together, in one write(2), when it ends; so that a step that logs a few
// lines (a message collected and judged) costs one write, not one a line.
//
// Lines keep their order and their own time stamps; lines of other threads
// are not held.  The held text is bounded by kMaxHeld: lines that would take
// it past the bound write what is held first.  Objects on one thread nest:
// the lines wait for the outermost.  Held lines are lost if the process is
// killed before the object ends, as a line being formatted would be.
// Create and destroy on the same thread.
#pragma once

#include "common/CommonExport.h"

#include <string>

class COMMONKIT_API EventLogGather
{
public:
    // Bounds the memory held for the log, as EventLogBlock does.
    static constexpr size_t kMaxHeld = 1 << 20;

    EventLogGather();
    ~EventLogGather();
    EventLogGather(const EventLogGather&) = delete;
    EventLogGather& operator=(const EventLogGather&) = delete;

private:
    std::string m_lines;
    std::string* m_outer;
};
