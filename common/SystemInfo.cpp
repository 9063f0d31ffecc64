#include "common/SystemInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct SystemRecord {
    std::string version;
    int csdLevel = 0;

    SystemRecord()
    {
        struct utsname names {};
        if (::uname(&names) != 0) {
            version = "unknown";
            return;
        }
        int major = 0, minor = 0, build = 0, consumed = 0;
        std::sscanf(names.release, "%d.%d.%d%n", &major, &minor, &build, &consumed);
        if (consumed == 0)
            std::sscanf(names.release, "%d.%d%n", &major, &minor, &consumed);
        const char* rest = names.release + consumed;
        char text[512];
        std::snprintf(text, sizeof text, "%s %d.%d build %d %s", names.sysname, major, minor,
                      build, rest);
        version = text;
        const char* digits = rest;
        while (*digits && !std::isdigit(static_cast<unsigned char>(*digits)))
            ++digits;
        csdLevel = std::atoi(digits);
    }
};

const SystemRecord& systemRecord()
{
    static const SystemRecord record;
    return record;
}

// Gathered when the library is loaded, as callers expect.
[[maybe_unused]] const SystemRecord& loadTimeRecord = systemRecord();

} // namespace

const char* GetOSVersionString()
{
    return systemRecord().version.c_str();
}

bool IsWindowsNT()
{
    return false;
}

int GetCSDLevel()
{
    return systemRecord().csdLevel;
}

void* GetOpenSa()
{
    return nullptr;
}

int GetRootPath(char* buf, size_t size)
{
    if (buf == nullptr || size == 0)
        return 0;
    buf[0] = '\0';
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return 0;
    path[n] = '\0';
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr)
        return 0;
    *slash = '\0';
    const size_t length = static_cast<size_t>(slash - path);
    if (length + 1 <= size)
        std::memcpy(buf, path, length + 1);
    return 0;
}
