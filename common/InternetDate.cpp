#include "common/InternetDate.h"

#include "common/CEventLog.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

struct NamedZone {
    const char* name;
    int hours;   // east of UTC
};

const NamedZone kZones[] = {
    {"GMT", 0},    {"UC", 0},     {"UTC", 0},    {"WET", 0},    {"WAT", -1},   {"AT", -2},
    {"AST", -4},   {"EST", -5},   {"CST", -6},   {"MST", -7},   {"PST", -8},   {"YST", -9},
    {"AHST", -10}, {"CAT", -10},  {"HST", -10},  {"EAST", -10}, {"NT", -11},   {"IDWL", -12},
    {"CET", 1},    {"FWT", 1},    {"MET", 1},    {"MEWT", 1},   {"SWT", 1},    {"EET", 2},
    {"BT", 3},     {"ZP4", 4},    {"ZP5", 5},    {"ZP6", 6},    {"WAST", 7},   {"CCT", 8},
    {"JST", 9},    {"GST", 10},   {"IDLE", 12},  {"NZST", 12},  {"NZT", 12},   {"BST", 1},
    {"ADT", -3},   {"EDT", -4},   {"CDT", -5},   {"MDT", -6},   {"PDT", -7},   {"YDT", -8},
    {"HDT", -9},   {"MEST", 2},   {"MESZ", 2},   {"SST", 2},    {"FST", 2},    {"WADT", 8},
    {"EADT", 11},  {"NZDT", 13},
};

const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                               "jul", "aug", "sep", "oct", "nov", "dec"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// Seconds east of UTC.
long zoneOffset(const char* zone)
{
    if ((zone[0] == '+' || zone[0] == '-') && std::isdigit(static_cast<unsigned char>(zone[1]))) {
        // hhmm: at most four digits count.
        long hhmm = 0;
        for (int i = 1; i <= 4 && std::isdigit(static_cast<unsigned char>(zone[i])); ++i)
            hhmm = hhmm * 10 + (zone[i] - '0');
        const long seconds = (hhmm / 100) * 3600 + (hhmm % 100) * 60;
        return zone[0] == '+' ? seconds : -seconds;
    }
    for (const NamedZone& z : kZones) {
        if (::strcasecmp(zone, z.name) == 0)
            return static_cast<long>(z.hours) * 3600;
    }
    return 0;
}

} // namespace

int getm(const char* name)
{
    if (name == nullptr)
        return -1;
    for (int i = 0; i < 12; ++i) {
        if (::strncasecmp(name, kMonths[i], 3) == 0)
            return i;
    }
    return -1;
}

long commonkit::getdate(const char* text)
{
    if (text == nullptr)
        return 0;
    char weekday[31] = "", month[31] = "", zone[31] = "";
    char sep1 = 0, sep2 = 0;
    int mday = 0, year = 0, hour = 0, minute = 0, second = 0;
    int fields = std::sscanf(text, "%30s %d%c%30[^- ]%c%d %d:%d:%d %30s", weekday, &mday, &sep1,
                             month, &sep2, &year, &hour, &minute, &second, zone);
    const int mon = getm(month);
    // Bounds keep the calendar arithmetic far from overflow.
    if (fields < 8 || mon < 0 || year < 0 || year > 9999 || mday < 0 || mday > 100000 ||
        hour < 0 || hour > 100000 || minute < 0 || minute > 100000 || second < 0 ||
        second > 100000) {
        CEventLog().LogEvent(2, "Invalid format date %s", text);
        return 0;
    }

    struct tm fields_tm {};
    fields_tm.tm_mday = mday;
    fields_tm.tm_mon = mon;
    fields_tm.tm_year = year > 200 ? year - 1900 : year;
    fields_tm.tm_hour = hour;
    fields_tm.tm_min = minute;
    fields_tm.tm_sec = second;
    fields_tm.tm_isdst = 0;
    // The fields are the sender's wall clock; its zone says how far east of
    // UTC that clock runs.
    const long utc = static_cast<long>(::timegm(&fields_tm)) - zoneOffset(zone);
    return utc < 0 ? 0 : utc;
}

const char* GetInternetTimeString(char* buf, size_t size)
{
    static const char kError[] = "<error>";
    if (buf == nullptr || size == 0)
        return kError;
    time_t now = time(nullptr);
    struct tm local {};
    if (localtime_r(&now, &local) == nullptr)
        return kError;
    int n = std::snprintf(buf, size, "%s, %d %s %d %02d:%02d:%02d", kDayNames[local.tm_wday % 7],
                          local.tm_mday, kMonthNames[local.tm_mon % 12], local.tm_year + 1900,
                          local.tm_hour, local.tm_min, local.tm_sec);
    // The zone needs " +hhmm" and the terminator.
    if (n < 0 || static_cast<size_t>(n) >= size || size - static_cast<size_t>(n) < 7)
        return kError;
    const long east = local.tm_gmtoff / 60;
    const long magnitude = east < 0 ? -east : east;
    std::snprintf(buf + n, size - static_cast<size_t>(n), " %c%02ld%02ld", east >= 0 ? '+' : '-',
                  magnitude / 60, magnitude % 60);
    return buf;
}
