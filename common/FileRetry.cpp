#include "common/FileRetry.h"

#include "common/CEventLog.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

bool deleteFileRetry(const std::string& path)
{
    if (::access(path.c_str(), F_OK) != 0)
        return true;
    constexpr int kAttempts = 10;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
            CEventLog().LogEvent(4, "Deleted %s", path.c_str());
            return true;
        }
        if (attempt < kAttempts)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    CEventLog().LogEvent(1, "Unable to delete %s", path.c_str());
    return false;
}
