#include "common/CVDateTime.h"

namespace {

thread_local struct tm localBuffer;
thread_local struct tm gmBuffer;

struct tm localFields(long value)
{
    struct tm fields {};
    time_t t = static_cast<time_t>(value);
    localtime_r(&t, &fields);
    return fields;
}

} // namespace

CVDateTime::CVDateTime() : m_time(currentTime()) {}

CVDateTime::CVDateTime(int year, int month, int day, int hour, int minute, int second)
{
    setYMD(year, month, day);
    m_time += static_cast<long>(hour) * 3600 + static_cast<long>(minute) * 60 + second;
}

void CVDateTime::setYMD(int year, int month, int day)
{
    struct tm fields {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_isdst = -1;
    m_time = static_cast<long>(mktime(&fields));
}

uint32_t CVDateTime::tickCount()
{
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

long CVDateTime::currentTime()
{
    return static_cast<long>(time(nullptr));
}

long CVDateTime::currentDate()
{
    struct tm fields = localFields(currentTime());
    fields.tm_hour = 0;
    fields.tm_min = 0;
    fields.tm_sec = 0;
    return static_cast<long>(mktime(&fields));
}

int CVDateTime::year() const { return localFields(m_time).tm_year + 1900; }
int CVDateTime::month() const { return localFields(m_time).tm_mon + 1; }
int CVDateTime::day() const { return localFields(m_time).tm_mday; }
int CVDateTime::hour() const { return localFields(m_time).tm_hour; }
int CVDateTime::minute() const { return localFields(m_time).tm_min; }
int CVDateTime::second() const { return localFields(m_time).tm_sec; }
int CVDateTime::dayOfYear() const { return localFields(m_time).tm_yday; }

int CVDateTime::daysTo(long other) const
{
    return static_cast<int>((other - m_time) / 86400);
}

const struct tm* CVDateTime::getLocalTime() const
{
    localBuffer = localFields(m_time);
    return &localBuffer;
}

const struct tm* CVDateTime::getGMTime() const
{
    time_t t = static_cast<time_t>(m_time);
    gmtime_r(&t, &gmBuffer);
    return &gmBuffer;
}
