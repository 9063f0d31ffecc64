// CVDateTime: a point in time as seconds since 1970-01-01 00:00 UTC.
//
// Calendar fields are derived in local time through the C library (so they
// follow TZ).  Dates built from year/month/day are local dates; values out of
// range are normalised by the C library (29 February 2003 is 1 March 2003).
// The value is kept in a long, so it does not wrap in 2038.
#pragma once

#include "common/CommonExport.h"

#include <cstdint>
#include <ctime>

class COMMONKIT_API CVDateTime
{
public:
    CVDateTime();                                   // now
    CVDateTime(int year, int month, int day, int hour, int minute, int second);
    explicit CVDateTime(long value) : m_time(value) {}

    // Local midnight at the start of the date (month 1 to 12, day 1 to 31).
    void setYMD(int year, int month, int day);

    static long currentTime();
    // A monotonic millisecond tick, 32 bits wide: differences taken as
    // uint32_t stay right across its wrap.
    static uint32_t tickCount();
    // Local midnight at the start of today.
    static long currentDate();

    long value() const { return m_time; }

    int year() const;
    int month() const;       // 1 to 12
    int day() const;         // 1 to 31
    int hour() const;
    int minute() const;
    int second() const;
    int dayOfYear() const;   // 0 to 365
    // (other - this) / 86400, cut toward zero.
    int daysTo(long other) const;

    // Broken-down local or UTC time in a per-thread buffer, valid until the
    // next such call on the same thread.
    const struct tm* getLocalTime() const;
    const struct tm* getGMTime() const;

    bool operator<(const CVDateTime& o) const { return m_time < o.m_time; }
    bool operator>(const CVDateTime& o) const { return m_time > o.m_time; }
    bool operator<=(const CVDateTime& o) const { return m_time <= o.m_time; }
    bool operator>=(const CVDateTime& o) const { return m_time >= o.m_time; }
    bool operator==(const CVDateTime& o) const { return m_time == o.m_time; }
    bool operator!=(const CVDateTime& o) const { return m_time != o.m_time; }
    bool operator==(long value) const { return m_time == value; }
    bool operator!=(long value) const { return m_time != value; }
    CVDateTime& operator=(long value)
    {
        m_time = value;
        return *this;
    }

private:
    long m_time;
};
