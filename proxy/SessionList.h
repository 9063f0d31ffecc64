// The sessions alive in the process, and the way a thread finds its own.
// A session is in the list from its making until the last of its members
// has gone (it holds an Entry as its first member).
#pragma once

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>

class CSession;

class SessionList
{
public:
    // Adds session for as long as it lives.
    class Entry
    {
    public:
        explicit Entry(CSession* session) : m_session(session) { add(session); }
        ~Entry() { remove(m_session); }
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

    private:
        CSession* m_session;
    };

    static void add(CSession* session);
    static void remove(CSession* session);
    static size_t size();
    // Waits until no session is alive, at most limit: true when none is.
    static bool waitUntilEmpty(std::chrono::milliseconds limit);
    // The session whose thread is the calling thread, or null.
    static CSession* find(unsigned long threadId);
    // Records the thread that runs session, under the list's lock.
    static void setThreadId(CSession* session, unsigned long threadId);

private:
    static std::mutex s_lock;
    static std::condition_variable s_changed;
    static std::list<CSession*> s_sessions;
};

// The session running on the calling thread, or null (main thread, listener).
CSession* currentSession();
