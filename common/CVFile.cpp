#include "common/CVFile.h"

#include "common/AtomicFile.h"
#include "common/UniqueFd.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool CVFile::exists(const char* path)
{
    struct stat st {};
    return path != nullptr && ::stat(path, &st) == 0;
}

bool CVFile::remove(const char* path)
{
    struct stat st {};
    return path != nullptr && ::lstat(path, &st) == 0 && !S_ISDIR(st.st_mode) &&
           ::unlink(path) == 0;
}

bool CVFile::rename(const char* from, const char* to)
{
    if (from == nullptr || to == nullptr)
        return false;
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // This file system cannot refuse to replace in one step: hard-link the
    // file to its new name (which fails when the name is taken), then drop
    // the old name.
    if (::link(from, to) == 0)
        return ::unlink(from) == 0;
    return false;
}

bool CVFile::copy(const char* from, const char* to)
{
    if (from == nullptr || to == nullptr)
        return false;
    UniqueFd in(::open(from, O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!in || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;

    // Copies are private to the user, whatever the source allows others.
    AtomicFile out(to, (st.st_mode & 0700) | 0600);
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(in.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (!out.write(buffer, static_cast<size_t>(n)))
            return false;
    }
    return out.commit();
}
