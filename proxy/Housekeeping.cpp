#include "proxy/Housekeeping.h"

#include "common/CVDateTime.h"
#include "common/DayFiles.h"
#include "filter/Archive.h"
#include "learning/LearnFolders.h"
#include "store/StateTidy.h"

void tidyBeforeSession(const std::string& dataRoot)
{
    tidyStateFolderDaily(dataRoot + "/state", CVDateTime::currentTime());
    dailyTidy();
    learnSavedMessages(dataRoot);
}

void tidyOldLogs(const std::string& dataRoot, int days)
{
    tidyDayFiles(dataRoot + "/log", {"qf", "sf"}, ".log", days);
}
