#include "proxy/SessionList.h"

#include "common/CWorkerThread.h"
#include "proxy/CSession.h"

std::mutex SessionList::s_lock;
std::condition_variable SessionList::s_changed;
std::list<CSession*> SessionList::s_sessions;

void SessionList::add(CSession* session)
{
    const std::lock_guard lock(s_lock);
    s_sessions.push_back(session);
}

void SessionList::remove(CSession* session)
{
    const std::lock_guard lock(s_lock);
    s_sessions.remove(session);
    s_changed.notify_all();
}

bool SessionList::waitUntilEmpty(std::chrono::milliseconds limit)
{
    std::unique_lock lock(s_lock);
    return s_changed.wait_for(lock, limit, [] { return s_sessions.empty(); });
}

size_t SessionList::size()
{
    const std::lock_guard lock(s_lock);
    return s_sessions.size();
}

void SessionList::setThreadId(CSession* session, unsigned long threadId)
{
    const std::lock_guard lock(s_lock);
    session->threadId = threadId;
}

CSession* SessionList::find(unsigned long threadId)
{
    const std::lock_guard lock(s_lock);
    for (CSession* session : s_sessions)
        if (session->threadId == threadId)
            return session;
    return nullptr;
}

CSession* currentSession()
{
    return SessionList::find(CWorkerThread::currentThread());
}
