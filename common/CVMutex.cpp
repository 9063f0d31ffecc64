#include "common/CVMutex.h"

#include <unistd.h>

#include <cerrno>

namespace {

long currentTid()
{
    thread_local const long tid = static_cast<long>(::gettid());
    return tid;
}

} // namespace

CVMutex::CVMutex()
{
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0)
        return;
    // Robust, so that a holder that dies is reported instead of blocking
    // every later caller for ever.
    if (pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
        pthread_mutex_init(&m_handle, &attr) == 0)
        m_valid = true;
    pthread_mutexattr_destroy(&attr);
}

CVMutex::~CVMutex()
{
    if (m_valid)
        pthread_mutex_destroy(&m_handle);
}

bool CVMutex::lock()
{
    if (!m_valid)
        return false;
    int rc = pthread_mutex_lock(&m_handle);
    if (rc == EOWNERDEAD) {
        // The previous holder died with the mutex locked: its locks are gone.
        pthread_mutex_consistent(&m_handle);
        m_count = 0;
        m_owner.store(0);
        pthread_mutex_unlock(&m_handle);
        return false;
    }
    if (rc != 0)
        return false;
    m_owner.store(currentTid());
    ++m_count;
    return true;
}

bool CVMutex::unlock()
{
    if (!m_valid || m_owner.load() != currentTid() || m_count == 0)
        return false;
    if (--m_count == 0)
        m_owner.store(0);
    pthread_mutex_unlock(&m_handle);
    return true;
}
