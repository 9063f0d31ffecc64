// CVMutex: the system's one lock type, a recursive mutex.
//
// The owning thread may lock again without blocking; each lock() needs its own
// unlock().  Only the thread that holds the mutex may unlock it: unlock() from
// any other thread, or with nothing locked, returns false and changes nothing.
// lock() returns false when the mutex could not be created, or when the
// previous owner died while holding it (the mutex is then made usable again
// and released, and the caller carries on unlocked).
//
// CVMutexLocker holds a CVMutex for the lifetime of a scope.
#pragma once

#include "common/CommonExport.h"

#include <pthread.h>

#include <atomic>

class COMMONKIT_API CVMutex
{
public:
    CVMutex();
    ~CVMutex();
    CVMutex(const CVMutex&) = delete;
    CVMutex& operator=(const CVMutex&) = delete;

    bool lock();
    bool unlock();

    // Number of locks not yet unlocked; meaningful to the holding thread.
    unsigned long count() const { return m_count; }

private:
    pthread_mutex_t m_handle;
    bool m_valid = false;
    unsigned long m_count = 0;          // changed only by the holder
    std::atomic<long> m_owner{0};       // kernel thread id of the holder, 0 when free
};

class COMMONKIT_API CVMutexLocker
{
public:
    explicit CVMutexLocker(CVMutex& mutex) : m_mutex(mutex), m_locked(mutex.lock()) {}
    ~CVMutexLocker()
    {
        if (m_locked)
            m_mutex.unlock();
    }
    CVMutexLocker(const CVMutexLocker&) = delete;
    CVMutexLocker& operator=(const CVMutexLocker&) = delete;

    bool locked() const { return m_locked; }

private:
    CVMutex& m_mutex;
    bool m_locked;
};
