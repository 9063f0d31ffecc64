// AtomicFile: replaces a file so that at any instant the path holds either its
// old or its new complete content, even across a crash or power cut.
//
// The new content goes to a temporary file in the target's folder; commit()
// flushes it to disk, renames it over the target and flushes the folder.  An
// AtomicFile destroyed without a successful commit() removes its temporary
// file and leaves the target untouched.  A failed write (disk full) makes
// commit() fail.  Not thread-safe; one writer per object.
#pragma once

#include "common/CommonExport.h"
#include "common/UniqueFd.h"

#include <string>

class COMMONKIT_API AtomicFile
{
public:
    // mode: permissions of the new file, applied as given.
    explicit AtomicFile(std::string target, unsigned mode = 0600);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // False when the temporary file could not be created.
    bool isOpen() const { return static_cast<bool>(m_fd); }
    int fd() const { return m_fd.get(); }

    bool write(const void* data, size_t size);
    bool write(const std::string& text) { return write(text.data(), text.size()); }

    // True when the target now holds everything written.
    bool commit();

private:
    std::string m_target;
    std::string m_temp;
    UniqueFd m_fd;
    bool m_failed = false;
};

// Flushes the folder holding path, so that a rename into it is durable.
COMMONKIT_API bool syncParentFolder(const std::string& path);
