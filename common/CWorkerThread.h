// CWorkerThread: base of the program's long-running threads (the listener and
// each session).
//
// The constructor creates the thread and holds it at a start gate; the
// subclass calls start() as the last step of its own constructor, so run()
// never sees a half-built object.  When run() returns, the thread deletes its
// own object: allocate with new, and do not use the pointer once the body can
// have ended.  Never delete a started worker from another thread; ask it to
// stop instead.
//
// Stopping: requestStop() sets the thread's stop flag.  Every socket wait
// looks at it at least every StopToken::kSliceMs and then throws
// long Socket::kInterrupted, so a body blocked in the network unwinds and
// returns promptly.  Long loops of a body should test stopRequested().
//
// A registry of live objects (m_Threads, oldest first) serves FindThread and
// TerminateAllThreads.  Every operation traps exceptions with DebugX.
#pragma once

#include "common/CVMutex.h"
#include "common/CommonExport.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>

class COMMONKIT_API CWorkerThread
{
public:
    // How long TerminateAllThreads waits for bodies to end, by default.
    static constexpr int kTerminateWaitMs = 3000;

    // Throws std::system_error when the thread cannot be created: a new
    // expression then frees the object itself, and the creator never holds
    // a pointer it would have to guess about.
    CWorkerThread();
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // The body; its result is the thread's exit code.
    virtual unsigned run() = 0;

    void requestStop();
    bool stopRequested() const { return m_stop.load(std::memory_order_acquire); }
    // The kernel thread id, once the thread has started running.
    unsigned long threadId() const { return m_threadId.load(); }

    // Nothing to do: the registry exists from library load.
    static void Initialise();
    // Asks every registered thread to stop and waits up to waitMs for their
    // bodies to end (they delete themselves), then destroys objects that
    // were never started.  Returns how many threads did not stop in time:
    // those stay registered and are never freed under a running body.
    static int TerminateAllThreads(int waitMs = kTerminateWaitMs);
    // The registered object of the calling thread, or null.
    static CWorkerThread* FindThread();
    // The calling thread's kernel thread id.
    static unsigned long currentThread();

    static std::list<CWorkerThread*> m_Threads;
    static CVMutex m_mutex;

protected:
    // Opens the start gate.  Called once, at the end of the subclass's
    // constructor.
    void start();
    static void* ThreadEntry(void* self);

private:
    enum class State { Gated, Running, Finished };   // where the thread itself is

    pthread_t m_hThread{};
    bool m_hasThread = false;
    std::atomic<unsigned long> m_threadId{0};
    std::atomic<bool> m_bFinished{false};
    std::atomic<bool> m_stop{false};
    std::atomic<State> m_state{State::Gated};

    // The start gate.  m_abandoned: the object is being destroyed from
    // another thread, so the thread must leave without touching it.
    std::mutex m_gateMutex;
    std::condition_variable m_gate;
    std::atomic<bool> m_started{false};   // written under m_gateMutex
    bool m_abandoned = false;
};
