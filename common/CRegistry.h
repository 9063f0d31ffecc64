// CRegistry: a handle on one key of one settings hive.
//
// Open it with CreateKey or OpenKey, query and set values under the key, and
// close it (or let it go out of scope).  A handle opened with writeBack
// writes its hive to disk when closed, which ends any update that changes
// through any handle of this process have opened.  Keys and value names are
// case-insensitive (stored in upper case).  Every operation on a closed
// handle returns false.  Any thread may use its own handles.
//
// Value forms: int "%d", unsigned "%u", float "%f", bool "1"/"0" (reads true
// unless it starts with "0"), string as an encoded quoted text, list of
// strings as {"a","b"}, text list as the list of a text's non-empty lines.
// QueryValue leaves its target unchanged when the value is missing or cannot
// be read in that form.
#pragma once

#include "common/CommonExport.h"
#include "common/Hive.h"
#include "common/HiveList.h"

#include <string>
#include <vector>

class COMMONKIT_API CRegistry
{
public:
    using StringList = std::vector<std::string>;

    CRegistry() = default;
    virtual ~CRegistry();
    // A copy shares the hive and key; each copy closes itself.
    CRegistry(const CRegistry&) = default;
    CRegistry& operator=(const CRegistry&) = default;

    // Opens key (a leading "/" is added when missing) in the named hive,
    // creating the key's entries in memory.  False when already open, for an
    // unknown family, a hive name that is not a plain file name, or a key
    // too long to be stored.
    bool CreateKey(eRegKeyType type, const char* hive, const char* key, bool writeBack = true);
    bool OpenKey(eRegKeyType type, const char* hive, const char* key, bool writeBack = true);
    // parent's key + "/" + subKey in parent's hive; OpenKey creates nothing.
    bool OpenKey(CRegistry& parent, const char* subKey, bool writeBack = true);
    bool CreateKey(CRegistry& parent, const char* subKey, bool writeBack = true);
    bool CloseKey();

    bool isOpen() const { return m_hive != nullptr; }
    Hive* regKey() const { return m_hive; }

    // Writes the named hive back when it is loaded in this process.
    static bool flush(eRegKeyType type, const char* hive);
    // Takes in what other processes have written to the named hive since
    // this one read it (Hive::reloadWhenChanged); nothing when it is not
    // loaded.
    static void refresh(eRegKeyType type, const char* hive);
    // The file (the program's shipped settings) copied in as the named hive
    // when its file is missing or found damaged and set aside; call before
    // the hive is first opened.  False for an unknown family.
    static bool setSeedFile(eRegKeyType type, const char* hive, const std::string& seedPath);
    unsigned long sequenceNumber() const;

    bool QueryValue(const char* name, int& value) const;
    bool QueryValue(const char* name, unsigned int& value) const;
    bool QueryValue(const char* name, unsigned long& value) const;
    bool QueryValue(const char* name, float& value) const;
    bool QueryValue(const char* name, bool& value) const;
    bool QueryValue(const char* name, std::string& value) const;
    bool QueryValue(const char* name, StringList& value) const;

    // False when closed, or when the name is too long to be stored.
    bool SetValue(const char* name, int value);
    bool SetValue(const char* name, unsigned int value);
    bool SetValue(const char* name, float value);
    bool SetValue(const char* name, bool value);
    bool SetValue(const char* name, const char* value);
    bool SetValue(const char* name, const StringList& value);

    // Stores the lines of text (CR and LF both end a line; empty lines are
    // dropped, except that a leading line break gives an empty first line).
    bool SetTextList(const char* name, const char* text);
    // The stored lines joined with CR LF.
    bool QueryTextList(const char* name, std::string& text) const;

    // Adds delta to a number value under the hive's inter-process lock; false,
    // with nothing changed, when the lock could not be had within its wait.
    bool IncValue(const char* name, int delta, int& result);
    bool DeleteValue(const char* name);
    // Removes the sub-key and everything below it; false when it is missing.
    bool DeleteKey(const char* subKey);
    // Removes everything below the key, keeping the key.
    bool EmptyKey();
    // The index-th direct sub-key or value of the key, in byte order of the
    // upper-case names.
    bool EnumKey(unsigned long index, std::string& name) const;
    bool EnumValue(unsigned long index, std::string& name, unsigned long& type) const;

    static bool encode(const std::string& in, std::string& out);
    static bool decode(const std::string& in, std::string& out);
    static bool wrap(const std::string& in, std::string& out);

protected:
    static HiveList* GetHive(eRegKeyType type);
    std::string valuePath(const char* name) const;
    bool getHiveValue(const char* name, std::string& value) const;
    bool setHiveValue(const char* name, const std::string& value);

private:
    bool open(eRegKeyType type, const char* hive, const char* key, bool writeBack);
    bool openChild(CRegistry& parent, const char* subKey, bool writeBack);

    Hive* m_hive = nullptr;
    std::string m_key;
    bool m_writeBack = false;
};

// The next installation-wide identifier, as its low 20 bits (0 to 1048575).
// Numbers come from the value "NextId" at the root of the system hive
// "global": a process reserves a block of them with one locked update of the
// counter, written back at once, and hands them out in order from memory.
// The first block is 64 numbers; each next one is four times larger (up to
// 4096) while the previous one was used up within a minute, else 64 again.
// No number is handed out twice by the processes sharing the hive (a child
// made by fork reserves its own); numbers a process never hands out are
// skipped.  Thread-safe.  When the counter stays locked through ten lock
// waits (about ten seconds) it logs an error and falls back to a number made
// from the clock and the process id.  Defined in NextId.cpp.
COMMONKIT_API int GetNextId();
