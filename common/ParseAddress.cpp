#include "common/ParseAddress.h"

#include "common/CEventLog.h"

#include <cstring>

void ParseAddress(char* text, std::string& out)
{
    out.clear();
    if (text == nullptr)
        return;
    // The end of the header value: a CR that does not start "CR x SP|TAB".
    size_t end = 0;
    while (text[end] != '\0') {
        if (text[end] == '\r') {
            bool folded = text[end + 1] != '\0' && (text[end + 2] == ' ' || text[end + 2] == '\t');
            if (!folded)
                break;
        }
        ++end;
    }

    size_t pos = 0;
    while (pos < end && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    const void* angle = std::memchr(text + pos, '<', end - pos);
    if (angle)
        pos = static_cast<size_t>(static_cast<const char*>(angle) - text) + 1;

    // Every white space byte ends the copy, so it never holds any.
    for (; pos < end && out.size() < kMaxAddress; ++pos) {
        const auto c = static_cast<signed char>(text[pos]);
        if (c == ' ' || c == '>' || c == ',' || c == ';' || c < 0x20)
            break;
        out += static_cast<char>(c);
    }
    std::string original(text, end);
    CEventLog().LogEvent(1024, "Parsing address, got %s from %s", out.c_str(), original.c_str());
}
