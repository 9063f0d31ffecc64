#include "common/CWorkerThread.h"

#include "common/CEventLog.h"
#include "common/StopToken.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

std::list<CWorkerThread*> CWorkerThread::m_Threads;
CVMutex CWorkerThread::m_mutex;

CWorkerThread::CWorkerThread()
{
    const int error = ::pthread_create(&m_hThread, nullptr, &CWorkerThread::ThreadEntry, this);
    if (error != 0) {
        CEventLog().LogEvent(1, "Unable to create a worker thread, error %d", error);
        throw std::system_error(error, std::generic_category(), "pthread_create");
    }
    m_hasThread = true;
    CVMutexLocker lock(m_mutex);
    m_Threads.push_back(this);
}

CWorkerThread::~CWorkerThread()
{
    try {
        if (m_hasThread) {
            if (::pthread_equal(::pthread_self(), m_hThread)) {
                // Deleted by its own thread at the end of ThreadEntry.
                ::pthread_detach(m_hThread);
            } else {
                // Deleted from outside: take the object away from the thread
                // first, then wait for the thread to leave.  Only a thread
                // still at its gate can be ended this way without its body
                // ever using a destroyed object.
                {
                    std::lock_guard<std::mutex> gate(m_gateMutex);
                    m_abandoned = true;
                    m_stop.store(true, std::memory_order_release);
                }
                m_gate.notify_all();
                ::pthread_join(m_hThread, nullptr);
            }
            m_hasThread = false;
        }
        CVMutexLocker lock(m_mutex);
        for (auto it = m_Threads.begin(); it != m_Threads.end(); ++it) {
            if (*it == this) {
                m_Threads.erase(it);
                break;
            }
        }
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}

void CWorkerThread::start()
{
    try {
        // Signalled under the lock: once it is released the body may run to
        // its end and delete this object, condition variable and all.
        std::lock_guard<std::mutex> gate(m_gateMutex);
        m_started = true;
        m_gate.notify_all();
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}

void CWorkerThread::requestStop()
{
    m_stop.store(true, std::memory_order_release);
}

void* CWorkerThread::ThreadEntry(void* self)
{
    auto* thread = static_cast<CWorkerThread*>(self);
    thread->m_threadId.store(currentThread());
    StopToken::bind(&thread->m_stop);

    {
        std::unique_lock<std::mutex> gate(thread->m_gateMutex);
        thread->m_gate.wait(gate, [thread] { return thread->m_started || thread->m_abandoned; });
        if (thread->m_abandoned) {
            StopToken::bind(nullptr);
            return nullptr;
        }
        thread->m_state.store(State::Running);
    }

    unsigned result = 0;
    if (!thread->stopRequested()) {
        try {
            result = thread->run();
        } catch (...) {
            DebugX(__FILE__, __LINE__);
            result = 0;
        }
    }

    const unsigned long id = thread->m_threadId.load();
    bool abandoned;
    {
        CVMutexLocker lock(m_mutex);
        thread->m_bFinished.store(true);
        thread->m_state.store(State::Finished);
        std::lock_guard<std::mutex> gate(thread->m_gateMutex);
        abandoned = thread->m_abandoned;
    }
    // Logged while still registered, so that an empty registry means no
    // worker is busy any more.
    CEventLog().LogEvent(1024, "Worker thread %08lx ended with exit code %u", id, result);
    // An object already being destroyed from outside is not deleted twice.
    if (!abandoned)
        delete thread;
    StopToken::bind(nullptr);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(result));
}

void CWorkerThread::Initialise() {}

int CWorkerThread::TerminateAllThreads(int waitMs)
{
    try {
        {
            CVMutexLocker lock(m_mutex);
            for (CWorkerThread* thread : m_Threads)
                thread->requestStop();
        }
        // Started bodies end by themselves and delete their objects.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            bool running = false;
            {
                CVMutexLocker lock(m_mutex);
                for (CWorkerThread* thread : m_Threads)
                    running = running || thread->m_started.load();
            }
            if (!running || std::chrono::steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // Objects never started: only worker bodies create workers, and
        // those bodies have ended, so no constructor is still running.
        CVMutexLocker lock(m_mutex);
        std::vector<CWorkerThread*> gated;
        for (CWorkerThread* thread : m_Threads) {
            std::lock_guard<std::mutex> gate(thread->m_gateMutex);
            if (!thread->m_started) {
                thread->m_abandoned = true;
                gated.push_back(thread);
            }
        }
        for (CWorkerThread* thread : gated)
            delete thread;
        for (CWorkerThread* thread : m_Threads)
            CEventLog().LogEvent(1, "Worker thread %08lx did not stop", thread->m_threadId.load());
        return static_cast<int>(m_Threads.size());
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        return -1;
    }
}

CWorkerThread* CWorkerThread::FindThread()
{
    try {
        const unsigned long id = currentThread();
        CVMutexLocker lock(m_mutex);
        for (CWorkerThread* thread : m_Threads) {
            if (thread->m_threadId.load() == id)
                return thread;
        }
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
    return nullptr;
}

unsigned long CWorkerThread::currentThread()
{
    return static_cast<unsigned long>(::gettid());
}
