#include "store/ArchiveMessages.h"

#include "common/CVDir.h"
#include "common/DotLine.h"

#include <algorithm>
#include <cctype>

namespace {

// "sf", six digits, ".txt", any letter case.
bool isDayFile(const std::string& name)
{
    if (name.size() != 12)
        return false;
    std::string low = name;
    for (char& c : low)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (low.compare(0, 2, "sf") != 0 || low.compare(8, 4, ".txt") != 0)
        return false;
    return std::all_of(low.begin() + 2, low.begin() + 8, [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::vector<std::string> archiveDayFiles(const std::string& folder)
{
    std::vector<std::string> files;
    for (CVDir it(folder.c_str(), "sf*.txt"); !it.atEnd(); it.moveNext())
        if (!it.isDir() && isDayFile(it.fileName()))
            files.push_back(folder + (folder.empty() || folder.back() == '/' ? "" : "/") + it.fileName());
    std::sort(files.begin(), files.end());
    return files;
}

void splitArchive(const std::string& dayText, const std::function<void(const std::string&)>& message)
{
    splitArchiveAt(dayText, [&message](const ArchivePlace&, const std::string& text) { message(text); });
}

void splitArchiveAt(const std::string& dayText,
                    const std::function<void(const ArchivePlace&, const std::string&)>& message)
{
    std::string current;
    size_t at = 0;
    size_t begun = 0;
    while (at < dayText.size()) {
        size_t end = dayText.find('\n', at);
        end = end == std::string::npos ? dayText.size() : end + 1;
        const std::string_view line(dayText.data() + at, end - at);
        at = end;
        if (isDotLine(line) || line == ".") {   // the last may be unended
            if (!current.empty())
                message(ArchivePlace{begun, at - begun, true}, current);
            current.clear();
            begun = at;
            continue;
        }
        current.append(unstuffed(line));
    }
    if (!current.empty())
        message(ArchivePlace{begun, dayText.size() - begun, false}, current);
}
