#include "proxy/Housekeeping.h"

#include "common/CVDateTime.h"
#include "common/DayFiles.h"
#include "filter/Archive.h"
#include "learning/LearnFolders.h"
#include "store/StateTidy.h"

#include <mutex>

void tidyBeforeSession(const std::string& dataRoot)
{
    // Sessions start side by side: one tidies and learns at a time, and
    // the next finds the work done.
    static std::mutex housekeeping;
    const std::lock_guard<std::mutex> lock(housekeeping);
    tidyStateFolderDaily(dataRoot + "/state", CVDateTime::currentTime());
    dailyTidy();
    learnSavedMessages(dataRoot);
}

void tidyOldLogs(const std::string& dataRoot, int days)
{
    tidyDayFiles(dataRoot + "/log", {"qf", "sf"}, ".log", days);
}
