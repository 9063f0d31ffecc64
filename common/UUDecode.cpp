#include "common/UUDecode.h"

namespace {

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

inline bool isDataChar(char c)
{
    return c >= 0x20 && c <= 0x60;
}

} // namespace

int UUDecodeLine(const char* in, char* out)
{
    if (in == nullptr || out == nullptr)
        return 0;
    const char* p = in;
    while (isBlank(*p))
        ++p;
    // "end" needs no test of its own: "n" and "d" are no data characters.
    if (*p == '\0')
        return 0;
    const int count = static_cast<signed char>(*p) - 0x20;
    if (count < 1 || count == 0x40)
        return 0;
    ++p;

    int written = 0;
    while (written < count && isDataChar(p[0]) && isDataChar(p[1]) && isDataChar(p[2]) &&
           isDataChar(p[3])) {
        const unsigned a = unsigned(p[0] - 0x20) & 63, b = unsigned(p[1] - 0x20) & 63;
        const unsigned c = unsigned(p[2] - 0x20) & 63, d = unsigned(p[3] - 0x20) & 63;
        const char bytes[3] = {static_cast<char>((a << 2) | (b >> 4)),
                               static_cast<char>((b << 4) | (c >> 2)),
                               static_cast<char>((c << 6) | d)};
        for (int i = 0; i < 3 && written < count; ++i)
            out[written++] = bytes[i];
        p += 4;
    }
    if (written != count)
        return 0;
    while (isBlank(*p))
        ++p;
    return *p == '\0' ? count : 0;
}
