// SpoolReserve: the spool files of a collection, created on a thread of
// their own a few messages ahead of the session, so that the session does
// not wait for the file system to create a file for each message.
//
// Each file is new, empty and created exclusively under a fresh name from
// GetNextId ("msg%05x.msg" in the state folder); a name in use is skipped,
// never replaced.  At most kAhead files wait to be taken; count files are
// made in all, fewer if creating one fails (take then returns what was made
// and after that nothing).  The files left untaken are deleted when the
// object ends; after a crash they are empty files that no state file names,
// for the state folder's tidy.  take() is for one thread, the session's.
#pragma once

#include "common/UniqueFd.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

class SpoolReserve
{
public:
    // Enough to keep the session from waiting; few enough that an early
    // end (a time-out, a lost server) wastes little.
    static constexpr size_t kAhead = 16;

    // Starts making count files in folder.
    SpoolReserve(std::string folder, size_t count);
    ~SpoolReserve();
    SpoolReserve(const SpoolReserve&) = delete;
    SpoolReserve& operator=(const SpoolReserve&) = delete;

    // The next file, open for writing, into file; its id ("%05x").  Waits
    // while one is being made.  Empty when no more can be had.
    std::string take(UniqueFd& file);

    // Creates one spool file in folder as described above: its id, the
    // file into file; empty (errno set) when it could not be made.
    static std::string create(const std::string& folder, UniqueFd& file);

private:
    void make(size_t count);

    const std::string m_folder;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<std::string, UniqueFd>> m_ready;
    bool m_done = false;       // the maker has ended
    bool m_stopping = false;   // the owner is ending
    std::thread m_maker;
};
