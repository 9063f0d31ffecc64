// FilterContext: the filter's state for one session, owned by the session
// for its whole life.
//
// Every live context is counted, and initialiseFilter() waits until none is
// left before it reloads: a new session is only made after the previous one
// has released its context, so sessions run one after another and rule data
// stays read-only while a session uses it.
#pragma once

class FilterContext
{
public:
    FilterContext();
    ~FilterContext();
    FilterContext(const FilterContext&) = delete;
    FilterContext& operator=(const FilterContext&) = delete;

    static int liveCount();
};

// Waits, without a time limit, until no FilterContext is alive, then loads
// the rules and filter settings.  Returns false (nothing loaded) when the
// calling worker thread is asked to stop while it waits.
bool initialiseFilter();
