// StagingFile: the archive copies one session staged in one band folder
// for one day, "SFyymmdd.<tag>.tmp", waiting to be merged into that day's
// file "SFyymmdd.txt" once the server has confirmed the session's QUIT.
//
// The file says whose copies it holds and which message each one is:
//
//   QFSTAGE <account>CR LF                 the account state file's name
//   +<length> <key>CR LF <length bytes>    one copy, as the day file gets it
//   ...
//   QFMERGE <offset>CR LF                  optional: a merge into the day
//                                          file began at this offset
//
// <length> is ten decimal digits; a copy being written has eleven '?' in
// place of the mark and the length, so a copy cut short by a crash or a
// full disk reads as the file's end, never as a copy.  A copy dropped
// unmerged has 'D' in place of the '+'.  <key> names the message: its id
// in the account state file, or "-" and the id the client is shown for a
// message the state never records, or "-" alone.
//
// The parser is for files of any content: it returns what parses and
// stops at the first thing that does not.
#pragma once

#include <string>
#include <vector>

struct StagedCopy {
    std::string key;
    long lengthAt = 0;   // where the record's mark ('+' or 'D') is
    long offset = 0;     // where the copy's bytes begin
    long length = 0;
    bool dropped = false;
};

struct StagingContents {
    // False: the file does not begin with a QFSTAGE line (a staging file
    // of an earlier version: the copies one after another, no records).
    bool recorded = false;
    std::string account;
    std::vector<StagedCopy> copies;
    long end = 0;              // where the whole records end
    long mergeAt = -1;         // the QFMERGE offset, or -1
};

namespace StagingFile {

// At most this long: an account state file's name is at most 511 bytes.
constexpr size_t kMaxAccount = 511;
// The key field: RFC 1939's unique-id, at most 70 characters.
constexpr size_t kMaxKey = 70;
constexpr size_t kLengthDigits = 10;
// A copy longer than this is not staged: it is not one message.
constexpr long kMaxCopy = 9999999999L;

// account as the QFSTAGE line holds it: control bytes made '_', at most
// kMaxAccount bytes.  Compare a file's account with this, never with the
// name as given.
std::string accountField(const std::string& account);
// "QFSTAGE <accountField(account)>\r\n".
std::string headerLine(const std::string& account);
// The record line of a copy about to be written: its length unknown yet.
std::string pendingRecordLine(const std::string& key);
// The mark and the ten digits of length.
std::string lengthField(long length);
std::string mergeLine(long offset);
// The records of the file open as fd (read with pread from its start).
// False when it cannot be read (an I/O error, never its content).
bool read(int fd, StagingContents& contents);

} // namespace StagingFile
