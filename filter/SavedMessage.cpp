#include "filter/SavedMessage.h"

#include <algorithm>
#include <fstream>
#include <iterator>

std::string asSpooled(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 8);
    bool lineStart = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (lineStart && c == '.')
            out += '.';
        if (c == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += c;
        lineStart = c == '\n';
    }
    if (!lineStart)
        out += "\r\n";
    out += ".\r\n";
    return out;
}

bool SavedMessage::spool(const std::string& source, const std::string& spoolPath)
{
    std::ifstream in(source, std::ios::binary);
    std::string original;
    if (in)
        original.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in || in.bad())
        return false;
    std::ofstream out(spoolPath, std::ios::binary | std::ios::trunc);
    out << asSpooled(original);
    out.close();
    if (!out)
        return false;
    size = static_cast<long>(std::min<size_t>(original.size(), 0x7FFFFFFF));
    return true;
}
