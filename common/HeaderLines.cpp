#include "common/HeaderLines.h"

std::vector<std::string> unfoldedHeaderLines(const std::string& message, size_t maxLength, size_t maxLines)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < message.size()) {
        size_t end = message.find('\n', at);
        end = end == std::string::npos ? message.size() : end;
        std::string line = message.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            break;
        if (line[0] == ' ' || line[0] == '\t') {
            const size_t text = line.find_first_not_of(" \t");
            if (!lines.empty() && text != std::string::npos && lines.back().size() < maxLength)
                lines.back() += " " + line.substr(text);
            continue;
        }
        if (lines.size() == maxLines)
            break;
        lines.push_back(line);
    }
    return lines;
}
