// EventLogBlock: lines of the event log gathered and written together, so
// that a reply of many lines costs one write(2) and reaches the file whole,
// in order, and never mixed with another thread's or process's lines.
//
// add() formats a line as CEventLog::LogEvent does (same level letter,
// time, thread id and kMaxLine limit) when the level is enabled at that
// moment, else does nothing.  flush() writes the gathered lines; so does the
// destructor.  The gathered text is bounded by kMaxBlock: a line that would
// take it past the bound flushes what is there first, so a very long reply
// goes in several writes, each of whole lines.  One thread per object.
#pragma once

#include "common/CommonExport.h"

#include <string>

class COMMONKIT_API EventLogBlock
{
public:
    // A header of the largest size a session judges fits in one write; a
    // whole message logged line by line may need several.
    static constexpr size_t kMaxBlock = 1 << 20;

    // category: as CEventLog's; the default category when null.
    explicit EventLogBlock(unsigned short level, const char* category = nullptr);
    ~EventLogBlock();
    EventLogBlock(const EventLogBlock&) = delete;
    EventLogBlock& operator=(const EventLogBlock&) = delete;

    void add(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void flush();

private:
    std::string m_lines;
    std::string m_category;
    unsigned short m_level;
};
