// AtomicFile: replaces a file so that at any instant the path holds either its
// old or its new complete content, even across a crash or power cut.
//
// The new content goes to a temporary file in the target's folder; commit()
// flushes it to disk, renames it over the target and flushes the folder.  An
// AtomicFile destroyed without a successful commit() removes its temporary
// file and leaves the target untouched.  A failed write (disk full) makes
// commit() fail.  Not thread-safe; one writer per object.
//
// commit(Durability::Deferred) renames without flushing: the path then holds
// the whole new content for every process, and survives the writer being
// killed, but a power cut may still lose or empty it until the file system
// has been flushed (syncFileSystem).  It is for files written in numbers,
// made durable together before anything that names them is committed.
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

    enum class Durability { Now, Deferred };
    // True when the target now holds everything written.
    bool commit(Durability durability = Durability::Now);

private:
    std::string m_target;
    std::string m_temp;
    UniqueFd m_fd;
    bool m_failed = false;
};

// Flushes the folder holding path, so that a rename into it is durable.
COMMONKIT_API bool syncParentFolder(const std::string& path);

// Flushes the whole file system that holds path (a file or a folder) with one
// syncfs(2): the data and names of every file written there, deferred
// commits included, are on disk when it returns true.
COMMONKIT_API bool syncFileSystem(const std::string& path);
