// withCrLf: text whose lines end in LF, written with CR LF line ends, as
// the lines the filter inserts into a spooled message must be.
#pragma once

#include <string>

inline std::string withCrLf(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}
