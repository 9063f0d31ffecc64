#include "store/StateTidy.h"

#include "common/CEventLog.h"
#include "common/CVDir.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

namespace {

struct NamedIds {
    std::set<std::string> spools;   // of "msg<id>.msg"
    std::set<std::string> packs;    // of "hdr<id>.pack", from "<id>:<offset>:<length>"
};

// The ids, in lower case, that the account state files of folder name.
NamedIds namedIds(const std::string& folder)
{
    NamedIds named;
    for (CVDir it(folder.c_str(), "*.dat"); !it.atEnd(); it.moveNext()) {
        if (it.isDir())
            continue;
        std::ifstream state(folder + "/" + it.fileName(), std::ios::binary);
        for (std::string line; std::getline(state, line);) {
            std::istringstream fields(line);
            std::string uid, id;
            if (!(fields >> uid >> id))
                continue;
            for (char& c : id)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const size_t colon = id.find(':');
            if (colon == std::string::npos)
                named.spools.insert(id);
            else
                named.packs.insert(id.substr(0, colon));
        }
    }
    return named;
}

// "<prefix><id><suffix>": the id in lower case, or empty for any other name.
std::string spoolIdOf(const std::string& name, const std::string& prefix, const std::string& suffix)
{
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return {};
    std::string id = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    for (char& c : id)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return id;
}

// "session%08x.log": true when the thread it names no longer exists.
bool reportOfGoneThread(const std::string& name)
{
    if (name.size() != 19 || name.compare(0, 7, "session") != 0)
        return false;
    char* end = nullptr;
    const std::string hex = name.substr(7, 8);
    const unsigned long tid = std::strtoul(hex.c_str(), &end, 16);
    if (end == nullptr || *end != '\0' || tid == 0)
        return false;
    return ::access(("/proc/" + std::to_string(tid)).c_str(), F_OK) != 0;
}

} // namespace

int tidyStateFolder(const std::string& folder, time_t now)
{
    const NamedIds named = namedIds(folder);
    std::vector<std::string> doomed;
    auto collect = [&](const char* pattern, auto stale) {
        for (CVDir it(folder.c_str(), pattern); !it.atEnd(); it.moveNext()) {
            const std::string name = it.fileName();
            if (!it.isDir() && stale(name, now - it.lastModified() > kOrphanAge))
                doomed.push_back(name);
        }
    };
    collect("msg*.msg", [&](const std::string& name, bool old) {
        return old && named.spools.count(spoolIdOf(name, "msg", ".msg")) == 0;
    });
    collect("hdr*.pack", [&](const std::string& name, bool old) {
        return old && named.packs.count(spoolIdOf(name, "hdr", ".pack")) == 0;
    });
    collect("*.tmp*", [](const std::string&, bool old) { return old; });
    collect("session*.log", [](const std::string& name, bool) { return reportOfGoneThread(name); });
    int removed = 0;
    for (const std::string& name : doomed) {
        if (::unlink((folder + "/" + name).c_str()) == 0) {
            ++removed;
            CEventLog().LogEvent(4, "Removed orphaned %s/%s", folder.c_str(), name.c_str());
        }
    }
    return removed;
}

bool tidyStateFolderDaily(const std::string& folder, time_t now)
{
    static std::mutex mutex;
    static time_t lastRun = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (lastRun != 0 && now >= lastRun && now - lastRun < kOrphanAge)
            return false;
        lastRun = now;
    }
    tidyStateFolder(folder, now);
    return true;
}
