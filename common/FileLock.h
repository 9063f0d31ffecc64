// FileLock: an exclusive inter-process lock held on a lock file.
//
// The lock is flock(2) on a file of its own that is never replaced or removed,
// so files guarded by it may be replaced by rename.  acquire() tries up to
// attempts times, pausing pauseMs between tries; the lock is released when
// the FileLock is destroyed, and by the kernel when the process dies.  Within
// one process each FileLock object is a separate holder.
#pragma once

#include "common/CommonExport.h"
#include "common/UniqueFd.h"

#include <optional>
#include <string>

class COMMONKIT_API FileLock
{
public:
    enum class Result { Acquired, Busy, Error };

    // Creates lockPath when missing.  Busy: every attempt found it held.
    static Result acquire(const std::string& lockPath, int attempts, int pauseMs,
                          std::optional<FileLock>& lock);

    FileLock(FileLock&&) = default;
    FileLock& operator=(FileLock&&) = default;

private:
    explicit FileLock(UniqueFd fd) : m_fd(std::move(fd)) {}
    UniqueFd m_fd;
};
