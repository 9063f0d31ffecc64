// CollectionSpools: where one collection puts the messages it fetches.
//
// Each message is fetched into the scratch spool, a spool file of the state
// folder ("msg<id>.msg"), and judged there.  A header that is kept is then
// appended to the collection's header pack ("hdr<id>.pack"), so that a
// collection of many headers creates two files, not one per message.  A
// whole message, or a header the pack cannot take, keeps the scratch file
// as its own spool, and the next message gets a new scratch file (made
// ahead by a SpoolReserve once that happens).
//
// Nothing here is flushed: the session flushes the file system once before
// a state file names what was kept.  The scratch file is deleted when the
// object ends; after a crash it, and a pack no state names, are left to
// the state folder's tidy.  For the session's thread alone.
#pragma once

#include "common/UniqueFd.h"
#include "store/SpoolReserve.h"

#include <cstddef>
#include <memory>
#include <string>

class CollectionSpools
{
public:
    // folder: the state folder; messages: how many may be fetched.
    CollectionSpools(std::string folder, size_t messages);
    ~CollectionSpools();
    CollectionSpools(const CollectionSpools&) = delete;
    CollectionSpools& operator=(const CollectionSpools&) = delete;

    // The scratch spool: its path into path and its file, open for writing
    // at its start, into file.  False (logged) when there is none.
    bool scratch(std::string& path, UniqueFd& file);
    // Ends the scratch file where file's writing has got to, dropping what
    // an earlier message left after that; false when it cannot.
    static bool finish(int file);
    // Keeps what the scratch spool now holds: appended to the pack when
    // header is true and it fits, else the scratch file itself.  The state
    // field (SpoolField) that names it; empty when there is no scratch
    // spool.
    std::string keep(bool header);

private:
    std::string scratchPath() const;
    bool appendToPack(const std::string& text, std::string& field);

    const std::string m_folder;
    size_t m_left;                           // messages not yet given a scratch spool
    std::string m_scratchId;                 // empty: none at present
    std::unique_ptr<SpoolReserve> m_reserve;   // started when a scratch spool is kept
    UniqueFd m_pack;
    std::string m_packId;
    std::string m_packPath;
    long m_packSize = 0;
};
