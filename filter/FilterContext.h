// FilterContext: the filter's state for one session, owned by the session
// for its whole life.
//
// Every live context is counted, and initialiseFilter() waits until none is
// left before it reloads: a new session is only made after the previous one
// has released its context, so sessions run one after another and rule data
// stays read-only while a session uses it.
//
// It also owns the session report file "<data root>/state/session%08x.log"
// (the creating thread's id): report entries of judged messages go there,
// and the session turns it into the collection report.  The file is
// removed when the context goes.
#pragma once

#include <cstdio>
#include <string>

class FilterContext
{
public:
    FilterContext();
    ~FilterContext();
    FilterContext(const FilterContext&) = delete;
    FilterContext& operator=(const FilterContext&) = delete;

    static int liveCount();

    // Appends text (lines ending in "\n") to the session report.
    void writeReportEntry(const std::string& text);
    // Ends writing; the file stays until the context goes.
    void closeReport();

    std::string reportPath;
    bool reportWritten = false;   // at least one entry was written

private:
    FILE* m_reportFile = nullptr;
};

// Waits, without a time limit, until no FilterContext is alive, then loads
// the rules and filter settings.  Returns false (nothing loaded) when the
// calling worker thread is asked to stop while it waits.
bool initialiseFilter();
