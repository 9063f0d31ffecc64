#include "common/HiveNotices.h"

#include "common/CEventLog.h"

#include <mutex>

namespace {

struct Pending {
    HiveSetAside notice;
    bool logged = false;
};

// A handful at most: one per damaged hive file.
std::mutex g_lock;
std::vector<Pending> g_pending;

bool logNotice(const HiveSetAside& notice)
{
    if (!CEventLog::enabled(1))
        return false;
    if (notice.asidePath.empty())
        CEventLog().LogEvent(1, "Damaged settings file %s could not be set aside; its values are not used",
                             notice.path.c_str());
    else
        CEventLog().LogEvent(1, "Damaged settings file %s set aside as %s; using the %s settings",
                             notice.path.c_str(), notice.asidePath.c_str(), notice.shipped ? "shipped" : "default");
    return true;
}

} // namespace

void noteHiveSetAside(HiveSetAside notice)
{
    std::lock_guard<std::mutex> lock(g_lock);
    const bool logged = logNotice(notice);
    g_pending.push_back({std::move(notice), logged});
}

std::vector<HiveSetAside> takeHiveSetAsides()
{
    std::lock_guard<std::mutex> lock(g_lock);
    std::vector<HiveSetAside> out;
    for (Pending& pending : g_pending) {
        if (!pending.logged)
            pending.logged = logNotice(pending.notice);
        out.push_back(std::move(pending.notice));
    }
    g_pending.clear();
    return out;
}

void logHiveSetAsides()
{
    std::lock_guard<std::mutex> lock(g_lock);
    for (Pending& pending : g_pending)
        if (!pending.logged)
            pending.logged = logNotice(pending.notice);
}
