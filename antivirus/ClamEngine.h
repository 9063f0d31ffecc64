// ClamEngine: ClamAV's scanning engine (libclamav), compiled once per
// process on first use and shared by every session (a compiled engine may
// scan from several threads at once).  It is compiled again when the
// database folder changes (another folder, or files added or replaced).
//
// Without any database in the folder, scanning is inactive: that is logged
// once per reload ("virus: No virus database in %s, scanning inactive") and
// every file is Unscanned, so that no attachment is ever stripped for want
// of signatures, and none passes for scanned either.
#pragma once

#include <string>
#include <vector>

struct EngineVerdict {
    // Unscanned: the engine could not look at the file at all (no
    // signatures, no scanner); the file is delivered as it is.
    enum Kind { Clean, Virus, EncryptedArchive, Error, Unscanned };
    Kind kind = Clean;
    std::string virus;   // Virus: the signature's name
    int error = 0;       // Error: ClamAV's error code
    std::string reason;  // Unscanned: why, as a phrase ("no virus signatures in /x")
};

struct ClamOptions {
    std::string databaseFolder;
    bool scanArchives = true;
    bool fullScan = true;
    bool macroCheck = true;
};

// The verdict on one file.
EngineVerdict clamScanFile(const std::string& path, const ClamOptions& options);
// The system's ClamAV database folder.
std::string clamDefaultDatabaseFolder();
// Forgets the "no database" report, so that the next reload logs it again.
void clamNewReload();
