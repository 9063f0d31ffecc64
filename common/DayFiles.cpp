#include "common/DayFiles.h"

#include "common/CEventLog.h"
#include "common/CVDateTime.h"
#include "common/CVDir.h"
#include "common/FileRetry.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <vector>

bool isDayFileName(const std::string& name, std::initializer_list<const char*> prefixes, const char* suffix)
{
    const size_t tail = std::strlen(suffix);
    if (name.size() != 8 + tail || ::strcasecmp(name.c_str() + 8, suffix) != 0)
        return false;
    for (size_t i = 2; i < 8; ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return false;
    for (const char* prefix : prefixes)
        if (::strncasecmp(name.c_str(), prefix, 2) == 0)
            return true;
    return false;
}

void tidyDayFiles(const std::string& folder, std::initializer_list<const char*> prefixes, const char* suffix,
                  int days)
{
    try {
        const std::string base = !folder.empty() && folder.back() == '/' ? folder : folder + "/";
        const std::string pattern = std::string("*") + suffix;
        const long now = CVDateTime::currentTime();
        std::vector<std::string> old;
        for (CVDir it(folder.c_str(), pattern.c_str()); !it.atEnd(); it.moveNext()) {
            const std::string name = it.fileName();
            if (it.isDir() || !isDayFileName(name, prefixes, suffix))
                continue;
            const int yy = std::stoi(name.substr(2, 2));
            const int mm = std::stoi(name.substr(4, 2));
            const int dd = std::stoi(name.substr(6, 2));
            const CVDateTime date(yy < 50 ? 2000 + yy : 1900 + yy, mm, dd, 0, 0, 0);
            if (date.daysTo(now) > days)
                old.push_back(base + name);
        }
        for (const std::string& path : old)
            deleteFileRetry(path);
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}
