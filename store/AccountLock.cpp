#include "store/AccountLock.h"

#include "common/StopToken.h"

#include <condition_variable>
#include <mutex>
#include <set>

namespace {

std::mutex holdersMutex;
std::condition_variable released;
std::set<std::string> holders;

} // namespace

bool AccountLock::acquire(const std::string& account, std::chrono::milliseconds limit)
{
    release();
    if (account.empty())
        return false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock<std::mutex> lock(holdersMutex);
    while (holders.contains(account)) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline || StopToken::requested())
            return false;
        released.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                    deadline - now, std::chrono::milliseconds(StopToken::kSliceMs)));
    }
    holders.insert(account);
    m_account = account;
    return true;
}

void AccountLock::release()
{
    if (m_account.empty())
        return;
    {
        const std::lock_guard<std::mutex> lock(holdersMutex);
        holders.erase(m_account);
    }
    m_account.clear();
    released.notify_all();
}
