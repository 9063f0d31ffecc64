// CollectionSpools: where one collection puts the messages it fetches.
//
// Each message is fetched into the scratch spool, a spool file of the state
// folder ("msg<id>.msg") that stays open for the whole collection, and is
// judged (and, when its band marks it, rewritten) there.  A text that is
// kept, header or whole message, is then appended to the collection's pack
// ("hdr<id>.pack"), so that a collection of many messages creates two
// files, not one per message.  Only a text the pack cannot take keeps the
// scratch file as its own spool, and the next message gets a new scratch
// file.
//
// Nothing here is flushed: the session flushes the file system once before
// a state file names what was kept.  The scratch file is deleted when the
// object ends; after a crash it, and a pack no state names, are left to
// the state folder's tidy.  For the session's thread alone.
#pragma once

#include "common/UniqueFd.h"

#include <cstddef>
#include <string>

class CollectionSpools
{
public:
    // folder: the state folder.
    explicit CollectionSpools(std::string folder);
    ~CollectionSpools();
    CollectionSpools(const CollectionSpools&) = delete;
    CollectionSpools& operator=(const CollectionSpools&) = delete;

    // The scratch spool: its path into path; its file, open for reading
    // and writing, positioned at its start, which stays this object's (the
    // same file for every message, unless something was renamed over it).
    // -1 (logged) when there is none.
    int scratch(std::string& path);
    // Ends the scratch file where file's writing has got to, dropping what
    // an earlier message left after that; false when it cannot.
    static bool finish(int file);
    // Keeps what the scratch spool now holds: appended to the pack when it
    // fits, else the scratch file itself.  The state field (SpoolField)
    // that names it; empty when there is no scratch spool.
    std::string keep();

private:
    std::string scratchPath() const;
    // Whether m_scratch is (again) the file at the scratch path; false, the
    // scratch spool given up, when that cannot be opened.
    bool attached();
    bool appendToPack(const std::string& text, std::string& field);

    const std::string m_folder;
    std::string m_scratchId;   // empty: none at present
    UniqueFd m_scratch;
    bool m_attached = false;   // m_scratch is known to be the file at its path
    UniqueFd m_pack;
    std::string m_packId;
    std::string m_packPath;
    long m_packSize = 0;
};
