#include "common/TextUtils.h"

#include <strings.h>

#include <cstring>

const char* stristr(const char* haystack, const char* needle)
{
    if (haystack == nullptr || needle == nullptr || *haystack == '\0')
        return nullptr;
    const size_t length = std::strlen(needle);
    for (const char* p = haystack; *p; ++p) {
        if (::strncasecmp(p, needle, length) == 0)
            return p;
    }
    return nullptr;
}

namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

} // namespace

void stringLower(std::string& text)
{
    for (char& c : text)
        c = asciiLower(c);
}

void stringUpper(std::string& text)
{
    for (char& c : text)
        c = asciiUpper(c);
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
