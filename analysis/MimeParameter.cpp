#include "analysis/MimeParameter.h"

#include <cctype>
#include <cstring>

namespace {

std::string valueAt(const std::string& text, size_t at)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    if (at < text.size() && text[at] == '"') {
        const size_t close = text.find('"', at + 1);
        return text.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
    }
    size_t end = at;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) && text[end] != ';')
        ++end;
    return text.substr(at, end - at);
}

} // namespace

std::optional<std::string> mimeParameter(const std::string& field, const char* name)
{
    std::string lower = field;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t length = std::strlen(name);
    for (size_t at = 0; (at = lower.find(name, at)) != std::string::npos; at += length) {
        const bool starts = at == 0 || std::strchr(" \t;:\r\n", lower[at - 1]) != nullptr;
        size_t equals = at + length;
        while (equals < lower.size() && (lower[equals] == ' ' || lower[equals] == '\t'))
            ++equals;
        if (starts && equals < lower.size() && lower[equals] == '=')
            return valueAt(field, equals + 1);
    }
    return std::nullopt;
}
