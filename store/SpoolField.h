// SpoolField: the second field of an account state record, which says
// where the spooled text of a message lies in the state folder.
//
// Two forms are written and nothing else is accepted, so that a damaged
// state file cannot name a path outside the state folder:
//   "<id>"                  the spool file of its own, "msg<id>.msg";
//   "<id>:<offset>:<length>" length bytes from offset of the header pack
//                           "hdr<id>.pack" that one collection wrote.
// id is 1 to 8 hex digits; offset and length are decimal.
#pragma once

#include "common/UniqueFd.h"

#include <string>

struct SpoolField {
    // The longest slice a pack record may name: a header of the largest
    // size a collection keeps, with room for what the filter adds.
    static constexpr long kMaxSlice = 4L << 20;

    std::string id;
    long offset = 0;
    long length = -1;   // -1: a spool file of its own

    bool inPack() const { return length >= 0; }
    // "msg<id>.msg" or "hdr<id>.pack".
    std::string fileName() const;
    static std::string spoolFileName(const std::string& id) { return "msg" + id + ".msg"; }
    static std::string packFileName(const std::string& id) { return "hdr" + id + ".pack"; }
    // The field as the state file has it.
    std::string text() const;
    // False, out unchanged, for anything but the two forms above.
    static bool parse(const std::string& field, SpoolField& out);
};

// Creates a new, empty file nameOf(id) in folder under a fresh id from
// GetNextId ("%05x"); a name in use is skipped, never replaced.  Its id, the
// file open for reading and writing into file; empty (errno set) when none could be made.
std::string createFreshFile(const std::string& folder, std::string (*nameOf)(const std::string& id),
                            UniqueFd& file);
