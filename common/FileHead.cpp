#include "common/FileHead.h"

#include "common/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr long kBlock = 65536;

// Moves the bytes [from, end) of the file by shift (either way), in blocks
// taken from the side that the move does not overwrite first.
bool moveTail(int fd, long from, long end, long shift)
{
    char block[kBlock];
    if (shift > 0) {
        for (long at = end; at > from;) {
            const long size = at - from < kBlock ? at - from : kBlock;
            at -= size;
            if (!preadFully(fd, block, static_cast<size_t>(size), at) ||
                !pwriteFully(fd, block, static_cast<size_t>(size), at + shift))
                return false;
        }
    } else {
        for (long at = from; at < end;) {
            const long size = end - at < kBlock ? end - at : kBlock;
            if (!preadFully(fd, block, static_cast<size_t>(size), at) ||
                !pwriteFully(fd, block, static_cast<size_t>(size), at + shift))
                return false;
            at += size;
        }
    }
    return true;
}

} // namespace

bool readWholeFile(int fd, long limit, std::string& text)
{
    text.clear();
    char block[kBlock];
    for (;;) {
        const ssize_t n = ::pread(fd, block, sizeof block, static_cast<off_t>(text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (static_cast<long>(text.size()) + n > limit)
            return false;
        text.append(block, static_cast<size_t>(n));
    }
}

bool replaceFileHead(int fd, long oldLength, const std::string& head)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    const long size = static_cast<long>(st.st_size);
    if (oldLength < 0 || oldLength > size) {
        errno = EINVAL;
        return false;
    }
    const long shift = static_cast<long>(head.size()) - oldLength;
    if (shift > 0) {
        const int failed = ::posix_fallocate(fd, size, shift);
        // Some file systems cannot allocate ahead: writing then finds out.
        if (failed != 0 && failed != EOPNOTSUPP && failed != EINVAL) {
            errno = failed;
            return false;
        }
    }
    if (shift != 0 && !moveTail(fd, oldLength, size, shift))
        return false;
    if (!pwriteFully(fd, head.data(), head.size(), 0))
        return false;
    return shift >= 0 || ::ftruncate(fd, size + shift) == 0;
}
