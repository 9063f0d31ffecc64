// Hive: one settings file loaded into memory, shared by every handle on it.
//
// Entries map upper-case paths to values ("" marks a key entry).  Every
// method takes the hive's lock, so any thread may call any of them.
//
// Changes are made in memory.  The first change after a write-back opens an
// update: it takes the inter-process lock (the companion file "<file>.lock",
// 200 tries 5 ms apart) and, when another process has written the file since
// it was read, reloads it first.  save() writes the whole hive to a temporary
// file, flushes it, renames it over the hive file and releases the lock, so
// the file on disk always holds one complete content, even after a crash.
// When the lock cannot be had, changes stay in memory and save() writes
// nothing.
//
// A file that does not read whole (HiveFormat's Parsed::whole: cut short,
// or not a hive at all) is never used as it stands, nor written over: under
// the update lock it is renamed aside to "<file>.damaged" (".damaged.2" and
// on when taken: an earlier copy is never replaced), the seed file, when one
// is set, is copied in its place, and the notice goes to HiveNotices.  The
// seed is also copied in when the file does not exist.  Whoever takes the
// lock first sets the file aside; the others find the replacement whole.
#pragma once

#include "common/CVMutex.h"
#include "common/CommonExport.h"
#include "common/FileLock.h"
#include "common/HiveFormat.h"

#include <cstdint>
#include <optional>
#include <string>

class COMMONKIT_API Hive
{
public:
    Hive(std::string path, std::string name);
    virtual ~Hive();
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;

    const std::string& path() const { return m_path; }
    const std::string& name() const { return m_name; }
    // The file copied in when the hive file is missing or damaged (the
    // program's shipped settings); empty: none, the hive starts empty.
    void setSeed(std::string seedPath);

    // Reads the file, creating it (from the seed, or empty) when missing; a
    // damaged file is set aside first.  False when it could not be opened or
    // read (the hive is then empty).
    bool load();
    // load() once: every opener waits until the first load is complete.
    void ensureLoaded();
    // Adds key entries for the path and each ancestor ("/A/B": "/A/B", "/A").
    // False when the path is too long to be written.
    bool createKeyPath(const std::string& upperKey);

    bool get(const std::string& upperPath, std::string& value) const;
    bool contains(const std::string& upperPath) const;
    // False when the record is too long to be written; nothing changes then.
    // A value equal to the stored one opens no update while the file is as
    // this process last read or wrote it and holds every change made here.
    bool set(const std::string& upperPath, const std::string& value);
    // Adds delta to the stored decimal (0 when absent) and stores the sum,
    // under the update lock; false, with nothing changed, without it.
    bool increment(const std::string& upperPath, int delta, int& result);
    bool erase(const std::string& upperPath);
    // Erases every entry below upperPath ("/" for the root), and upperPath
    // itself when withKey.  True when something was erased.
    bool eraseBelow(const std::string& upperPath, bool withKey);
    // The index-th direct sub-key (keys) or value (!keys) of upperPath.
    bool enumerate(const std::string& upperPath, unsigned long index, bool keys,
                   std::string& name) const;

    // Writes back when an update is open; true when written (or nothing to do).
    bool save();
    bool updateOpen() const;
    // Changes made here that the file does not hold (the update lock could
    // not be had, or the write failed).
    bool unsaved() const;
    // Takes in what another process has written since the file was read
    // here, when this process holds no change of its own (an open update
    // reloads anyway); a file that does not read whole is left for the next
    // update to set aside.  True when the entries were replaced.
    bool reloadWhenChanged();
    // m_sequence while an update is open, else the number in the file.
    unsigned long sequenceNumber() const;

private:
    bool beginUpdate();
    bool readFile(std::string& data) const;
    // With the update lock held: reads the file again and, when it is still
    // not whole, sets it aside and puts the seed in its place; data and
    // parsed then hold what the file holds now (empty when not whole).
    // False when the damaged file could not be set aside.
    bool replaceDamaged(std::string& data, hiveformat::Parsed& parsed);
    // The damaged file renamed aside, never over another file; the new
    // path, or empty when it could not be moved.
    std::string setAside() const;
    // With the update lock held: the seed copied in when the file is
    // missing.  True when copied.
    bool installSeed() const;
    // The file's sequence number is still the one read or written here.
    bool unchangedOnDisk() const;
    // Marks the entries as holding a change the file lacks when no update
    // is open to write it.
    void noteUnsavedChange();
    void removeStaleTemporaries() const;

    hiveformat::Entries m_entries;
    const std::string m_path;
    const std::string m_name;
    std::string m_seed;
    mutable CVMutex m_lock;
    std::optional<FileLock> m_updateFile;
    uint32_t m_sequence = 0;
    bool m_loaded = false;
    bool m_swept = false;   // stale temporaries removed in this process
    // The entries hold a change the file may lack: it was made without an
    // update, or the update's write failed.
    bool m_unsaved = false;
};
