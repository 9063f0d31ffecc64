// UniqueFd: sole owner of a file descriptor, closed when the owner goes.
// writeFully() writes a whole buffer, retrying short writes and EINTR.
#pragma once

#include "common/CommonExport.h"

#include <unistd.h>

#include <cstddef>
#include <string>
#include <utility>

class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// True when all size bytes were written.
COMMONKIT_API bool writeFully(int fd, const void* data, size_t size);
// The same at offset, the file's position unchanged.
COMMONKIT_API bool pwriteFully(int fd, const void* data, size_t size, off_t offset);
// True when all size bytes from offset were read; a file that ends before
// them gives false (errno EIO).
COMMONKIT_API bool preadFully(int fd, void* data, size_t size, off_t offset);

// Appends what fd reads to its end onto out, retrying EINTR.  False on a
// read error, and as soon as out holds more than limit bytes.
COMMONKIT_API bool readToEnd(int fd, std::string& out, size_t limit);
