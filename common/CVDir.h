// CVDir: the entries of one folder whose names match a wildcard pattern.
//
// The search starts in the constructor; fileName(), isDir() and lastModified()
// describe the current entry while !atEnd().  Entries come in the order the
// file system returns them; "." and ".." are returned like any other entry
// when they match.  A folder that does not exist or cannot be read is at its
// end at once.  Names are matched with WildcardMatch (case-insensitive).
#pragma once

#include "common/CommonExport.h"

#include <dirent.h>

#include <string>

class COMMONKIT_API CVDir
{
public:
    CVDir(const char* dir, const char* pattern);
    virtual ~CVDir();
    CVDir(const CVDir&) = delete;
    CVDir& operator=(const CVDir&) = delete;

    // Moves to the next matching entry; false when there is none.
    bool moveNext();
    bool atEnd() const { return m_find == nullptr || !m_valid; }

    const char* fileName() const { return m_name.c_str(); }
    bool isDir() const { return m_isDir; }
    long lastModified() const { return m_modified; }

    // Creates one folder, private to the user (0700); false when it exists
    // already or its parent is missing.
    static bool mkdir(const char* path);

private:
    bool fetch();   // reads the next entry, whether it matches or not

    std::string m_dir;
    std::string m_pattern;
    DIR* m_find = nullptr;
    bool m_valid = false;
    std::string m_name;
    bool m_isDir = false;
    long m_modified = 0;
};
