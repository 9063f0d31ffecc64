#include "filter/FilterContext.h"

#include "common/StopToken.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

std::mutex liveMutex;
std::condition_variable liveChanged;
int live = 0;

} // namespace

FilterContext::FilterContext()
{
    std::lock_guard<std::mutex> lock(liveMutex);
    ++live;
}

FilterContext::~FilterContext()
{
    std::lock_guard<std::mutex> lock(liveMutex);
    --live;
    liveChanged.notify_all();
}

int FilterContext::liveCount()
{
    std::lock_guard<std::mutex> lock(liveMutex);
    return live;
}

bool initialiseFilter()
{
    std::unique_lock<std::mutex> lock(liveMutex);
    while (live > 0) {
        // In slices, so that a stop request ends the wait.
        liveChanged.wait_for(lock, std::chrono::milliseconds(StopToken::kSliceMs));
        if (StopToken::requested())
            return false;
    }
    return true;
}
