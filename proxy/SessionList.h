// The sessions alive in the process, and the way a thread finds its own.
#pragma once

#include "common/CVMutex.h"

#include <list>

class CSession;

class SessionList
{
public:
    static void add(CSession* session);
    static void remove(CSession* session);
    static size_t size();
    // The session whose thread is the calling thread, or null.
    static CSession* find(unsigned long threadId);
    // Records the thread that runs session, under the list's lock.
    static void setThreadId(CSession* session, unsigned long threadId);

private:
    static CVMutex s_lock;
    static std::list<CSession*> s_sessions;
};

// The session running on the calling thread, or null (main thread, listener).
CSession* currentSession();
