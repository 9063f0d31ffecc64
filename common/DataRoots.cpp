#include "common/DataRoots.h"

#include "common/SystemInfo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

const char kCompany[] = "Corvanta Ltd";
const char kSystemRoot[] = "/var/lib";

bool sharedUserData = false;

bool plainFolderName(const char* sub)
{
    return std::strcmp(sub, ".") != 0 && std::strcmp(sub, "..") != 0 &&
           std::strchr(sub, '/') == nullptr;
}

const char* nonEmptyEnv(const char* name)
{
    const char* value = std::getenv(name);
    return (value && *value) ? value : nullptr;
}

// Appends "/sub" (creating it when asked) and copies the result into buf.
char* finish(std::string path, const char* sub, bool create, char* buf, size_t size)
{
    if (buf == nullptr || size == 0)
        return buf;
    buf[0] = '\0';
    if (sub && *sub) {
        if (!plainFolderName(sub))
            return buf;
        path += '/';
        path += sub;
        if (create)
            ::mkdir(path.c_str(), 0700);
    }
    if (path.size() + 1 > size)
        return buf;
    std::memcpy(buf, path.c_str(), path.size() + 1);
    return buf;
}

void trimTrailingSlashes(std::string& path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
}

} // namespace

bool makeFolders(const std::string& path)
{
    if (path.empty())
        return false;
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1))
        ::mkdir(path.substr(0, pos).c_str(), 0700);
    ::mkdir(path.c_str(), 0700);
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

char* getAppDataRoot(const char* sub, char* buf, size_t size, bool create)
{
    std::string base;
    if (const char* xdg = nonEmptyEnv("XDG_DATA_HOME"))
        base = xdg;
    else if (const char* home = nonEmptyEnv("HOME"))
        base = std::string(home) + "/.local/share";
    else
        return getAppCommonDataRoot(sub, buf, size);
    trimTrailingSlashes(base);
    if (create)
        makeFolders(base);
    std::string root = base + "/" + kCompany;
    if (create)
        ::mkdir(root.c_str(), 0700);
    return finish(root, sub, create, buf, size);
}

char* getAppCommonDataRoot(const char* sub, char* buf, size_t size)
{
    std::string root;
    if (const char* env = nonEmptyEnv("QUILLFENCE_COMMON_ROOT")) {
        root = env;
        trimTrailingSlashes(root);
    } else {
        char folder[4096];
        GetRootPath(folder, sizeof folder);
        root = std::string(folder) + "/Application Data";
        // An installed program's folder is not the user's to write: the
        // folder there counts only when someone made it (an administrator,
        // for shared data) and it can be written.
        struct stat st {};
        const bool madeThere = ::stat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                               ::access(root.c_str(), W_OK) == 0;
        if (!madeThere) {
            if (const char* state = nonEmptyEnv("XDG_STATE_HOME"))
                root = std::string(state) + "/" + kCompany;
            else if (const char* home = nonEmptyEnv("HOME"))
                root = std::string(home) + "/.local/state/" + kCompany;
        }
    }
    makeFolders(root);
    return finish(root, sub, true, buf, size);
}

char* getAppGlobalDataRoot(const char* sub, char* buf, size_t size)
{
    if (const char* env = nonEmptyEnv("QUILLFENCE_GLOBAL_ROOT"))
        return finish(env, nullptr, false, buf, size);
    std::string root = std::string(kSystemRoot) + "/" + kCompany;
    ::mkdir(root.c_str(), 0700);
    return finish(root, sub, true, buf, size);
}

void setSharedUserData(bool shared)
{
    sharedUserData = shared;
}

bool isSharedUserData()
{
    return sharedUserData;
}

void convertSeparatorsToInternal(std::string&) {}

void convertSeparatorsToLocal(std::string&) {}
