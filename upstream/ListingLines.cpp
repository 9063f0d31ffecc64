#include "upstream/ListingLines.h"

#include <cctype>

namespace {

// A decimal number of at most 18 digits (no sign): false otherwise.
bool decimal(const char*& p, long& value)
{
    const char* start = p;
    value = 0;
    while (std::isdigit(static_cast<unsigned char>(*p)) && p - start < 18)
        value = value * 10 + (*p++ - '0');
    return p > start && !std::isdigit(static_cast<unsigned char>(*p));
}

} // namespace

bool parseListLine(const std::string& line, long limit, long& size)
{
    const char* p = line.c_str();
    long number = 0;
    if (!decimal(p, number) || *p != ' ')
        return false;
    while (*p == ' ')
        ++p;
    if (!decimal(p, size) || size > limit)
        return false;
    return *p == '\0' || *p == ' ' || *p == '\t';
}

std::string uidOfUidlLine(const std::string& line)
{
    const size_t blank = line.find(' ');
    return blank == std::string::npos ? std::string() : line.substr(blank + 1);
}
