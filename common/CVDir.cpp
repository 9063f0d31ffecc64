#include "common/CVDir.h"

#include "common/WildcardMatch.h"

#include <sys/stat.h>

#include <vector>

CVDir::CVDir(const char* dir, const char* pattern)
    : m_dir(dir ? dir : ""), m_pattern(pattern ? pattern : "")
{
    m_find = ::opendir(m_dir.c_str());
    if (m_find == nullptr)
        return;
    m_valid = fetch();
    if (m_valid) {
        std::vector<char> name(m_name.begin(), m_name.end());
        name.push_back('\0');
        if (!WildcardMatch(name.data(), m_pattern.c_str()))
            moveNext();
    }
}

CVDir::~CVDir()
{
    if (m_find)
        ::closedir(m_find);
}

bool CVDir::fetch()
{
    struct dirent* entry = ::readdir(m_find);
    if (entry == nullptr)
        return false;
    m_name = entry->d_name;
    struct stat st {};
    std::string path = m_dir + "/" + m_name;
    if (::stat(path.c_str(), &st) == 0) {
        m_isDir = S_ISDIR(st.st_mode);
        m_modified = static_cast<long>(st.st_mtime);
    } else {
        m_isDir = entry->d_type == DT_DIR;
        m_modified = 0;
    }
    return true;
}

bool CVDir::moveNext()
{
    if (m_find == nullptr)
        return false;
    m_valid = false;
    std::vector<char> name;
    while (fetch()) {
        name.assign(m_name.begin(), m_name.end());
        name.push_back('\0');
        if (WildcardMatch(name.data(), m_pattern.c_str())) {
            m_valid = true;
            break;
        }
    }
    return m_valid;
}

bool CVDir::mkdir(const char* path)
{
    return path != nullptr && ::mkdir(path, 0700) == 0;
}
