#include "proxy/Housekeeping.h"

#include "common/CVDateTime.h"
#include "common/DayFiles.h"
#include "filter/Archive.h"
#include "learning/LearnFolders.h"
#include "store/StateTidy.h"

#include <mutex>

void tidyBeforeSession(const std::string& dataRoot)
{
    // Sessions start side by side: one tidies and learns at a time, and a
    // session that starts meanwhile leaves the work to it rather than wait
    // (its client is not greeted until this is done).
    static std::mutex housekeeping;
    const std::unique_lock<std::mutex> lock(housekeeping, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    tidyStateFolderDaily(dataRoot + "/state", CVDateTime::currentTime());
    dailyTidy();
    learnSavedMessages(dataRoot);
}

void tidyOldLogs(const std::string& dataRoot, int days)
{
    tidyDayFiles(dataRoot + "/log", {"qf", "sf"}, ".log", days);
}
