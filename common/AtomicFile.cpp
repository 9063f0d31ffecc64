#include "common/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

bool writeFully(int fd, const void* data, size_t size)
{
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool pwriteFully(int fd, const void* data, size_t size, off_t offset)
{
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

bool preadFully(int fd, void* data, size_t size, off_t offset)
{
    auto p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;   // shorter than the caller knows it to be
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

bool readToEnd(int fd, std::string& out, size_t limit)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out.append(buffer, static_cast<size_t>(n));
        if (out.size() > limit)
            return false;
    }
}

bool syncParentFolder(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir && ::fsync(dir.get()) == 0;
}

bool syncFileSystem(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd && ::syncfs(fd.get()) == 0;
}

AtomicFile::AtomicFile(std::string target, unsigned mode)
    : m_target(std::move(target)), m_temp(m_target + ".tmpXXXXXX")
{
    m_fd.reset(::mkostemp(m_temp.data(), O_CLOEXEC));
    if (m_fd && ::fchmod(m_fd.get(), static_cast<mode_t>(mode)) != 0)
        m_failed = true;
}

AtomicFile::~AtomicFile()
{
    if (m_fd) {
        m_fd.reset();
        ::unlink(m_temp.c_str());
    }
}

bool AtomicFile::write(const void* data, size_t size)
{
    if (!m_fd || m_failed)
        return false;
    if (!writeFully(m_fd.get(), data, size))
        m_failed = true;
    return !m_failed;
}

bool AtomicFile::commit(Durability durability)
{
    if (!m_fd || m_failed)
        return false;
    const bool durable = durability == Durability::Now;
    if ((durable && ::fsync(m_fd.get()) != 0) || ::close(m_fd.release()) != 0) {
        ::unlink(m_temp.c_str());
        return false;
    }
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        ::unlink(m_temp.c_str());
        return false;
    }
    if (durable)
        syncParentFolder(m_target);
    return true;
}
