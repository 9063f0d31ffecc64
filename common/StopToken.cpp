#include "common/StopToken.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

thread_local const std::atomic<bool>* t_flag = nullptr;

} // namespace

bool StopToken::requested()
{
    return t_flag != nullptr && t_flag->load(std::memory_order_acquire);
}

void StopToken::bind(const std::atomic<bool>* flag)
{
    t_flag = flag;
}

bool StopToken::sleepFor(int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (requested())
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return true;
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kSliceMs)));
    }
}
