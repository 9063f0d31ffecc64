// HiveList: the hives of one settings family loaded in this process.
//
//   family      root                      file
//   eRegUser    per-user data root        <root>/config/<name>_usr.dat
//   eRegSystem  common data root          <root>/config/<name>_sys.dat
//   eRegShared  common data root          <root>/config/<name>_usr.dat
//   eRegGlobal  machine-wide data root    <root>/config/<name>_sys.dat
//
// The folder is found and created at the list's first use in the process and
// then stays fixed.  A hive, once loaded, stays loaded until the process
// ends; the list owns its hives.
#pragma once

#include "common/CVMutex.h"
#include "common/CommonExport.h"
#include "common/Hive.h"

#include <map>
#include <memory>
#include <string>

enum eRegKeyType { eRegUser = 0, eRegSystem = 1, eRegShared = 2, eRegGlobal = 3 };

class COMMONKIT_API HiveList
{
public:
    HiveList(eRegKeyType type, const char* suffix);
    virtual ~HiveList();
    HiveList(const HiveList&) = delete;
    HiveList& operator=(const HiveList&) = delete;

    // The named hive (any case), loaded on first use, with the key path
    // created in memory.  Null when the name is not a plain file name or the
    // key path is too long to be written.
    Hive* open(const char* name, const std::string& upperKey);
    // The named hive when it is loaded in this process, else null.
    Hive* find(const char* name);
    // The file the named hive is made from when its file is missing or
    // damaged (see Hive::setSeed), for this process.  Set it before the
    // hive's first use: a hive already loaded keeps what it read.
    void setSeed(const char* name, const std::string& seedPath);

    static HiveList user;
    static HiveList system;
    static HiveList shared;
    static HiveList global;

private:
    std::map<std::string, std::unique_ptr<Hive>> m_hives;
    std::map<std::string, std::string> m_seeds;   // hive name to seed file
    std::string m_suffix;
    std::string m_dir;
    bool m_dirReady = false;
    eRegKeyType m_type;
    CVMutex m_lock;
};
