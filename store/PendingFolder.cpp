#include "store/PendingFolder.h"

#include "common/CEventLog.h"
#include "common/CVDir.h"

#include <algorithm>
#include <mutex>
#include <set>

namespace {

std::mutex claimsMutex;
std::set<std::string> claimed;

} // namespace

PendingClaim::~PendingClaim()
{
    const std::lock_guard<std::mutex> lock(claimsMutex);
    for (const std::string& path : m_paths)
        claimed.erase(path);
}

bool PendingClaim::claim(const std::string& path)
{
    if (std::find(m_paths.begin(), m_paths.end(), path) != m_paths.end())
        return true;
    const std::lock_guard<std::mutex> lock(claimsMutex);
    if (!claimed.insert(path).second)
        return false;
    m_paths.push_back(path);
    return true;
}

void addPendingMessages(const std::string& folder, Mailbox& mailbox, PendingClaim& claim)
{
    for (CVDir it(folder.c_str(), "*.msg"); !it.atEnd(); it.moveNext()) {
        if (it.isDir())
            continue;
        const std::string path = folder + "/" + it.fileName();
        if (!claim.claim(path))
            continue;   // another session is serving it
        auto message = std::make_unique<CMessage>();
        if (!message->readText(path))
            continue;
        message->local = true;
        message->pending = true;
        message->uid = CMessage::generatedUid();
        mailbox.push_back(std::move(message));
        CEventLog().LogEvent(4, "Pending queue message index %zu is %s", mailbox.size(), it.fileName());
    }
}
