#include "common/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <thread>

FileLock::Result FileLock::acquire(const std::string& lockPath, int attempts, int pauseMs,
                                   std::optional<FileLock>& lock)
{
    lock.reset();
    UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd)
        return Result::Error;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            lock.emplace(FileLock(std::move(fd)));
            return Result::Acquired;
        }
        if (errno != EWOULDBLOCK && errno != EINTR)
            return Result::Error;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return Result::Busy;
}
