#include "proxy/SessionList.h"

#include "common/CWorkerThread.h"
#include "proxy/CSession.h"

CVMutex SessionList::s_lock;
std::list<CSession*> SessionList::s_sessions;

void SessionList::add(CSession* session)
{
    CVMutexLocker lock(s_lock);
    s_sessions.push_back(session);
}

void SessionList::remove(CSession* session)
{
    CVMutexLocker lock(s_lock);
    s_sessions.remove(session);
}

size_t SessionList::size()
{
    CVMutexLocker lock(s_lock);
    return s_sessions.size();
}

void SessionList::setThreadId(CSession* session, unsigned long threadId)
{
    CVMutexLocker lock(s_lock);
    session->threadId = threadId;
}

CSession* SessionList::find(unsigned long threadId)
{
    CVMutexLocker lock(s_lock);
    for (CSession* session : s_sessions)
        if (session->threadId == threadId)
            return session;
    return nullptr;
}

CSession* currentSession()
{
    return SessionList::find(CWorkerThread::currentThread());
}
