#include "common/CVEvent.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// The creator's hold: a write lock on the whole file, owned by the open file
// description, so that it goes with the creator and can be queried.
struct flock wholeFile(short type)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

bool usableFolder(const std::string& folder)
{
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Event names become file names.
std::string fileName(const std::string& name)
{
    std::string out = name;
    for (char& c : out)
        if (c == '/' || c == '\0')
            c = '_';
    return out;
}

} // namespace

std::string CVEvent::runtimeFolder()
{
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = (xdg && *xdg) ? xdg : "/tmp/quillfence-" + std::to_string(::getuid());
    if (!(xdg && *xdg))
        ::mkdir(folder.c_str(), 0700);
    return usableFolder(folder) ? folder : std::string();
}

CVEvent::CVEvent(std::string base, Reset mode, bool creator, UniqueFd lock)
    : m_base(std::move(base)), m_mode(mode), m_creator(creator), m_lock(std::move(lock))
{}

CVEvent::~CVEvent()
{
    if (m_creator) {
        // Gone with its creator: nothing of it is left for the next one.
        ::unlink((m_base + ".set").c_str());
        ::unlink((m_base + ".event").c_str());
    }
}

std::unique_ptr<CVEvent> CVEvent::create(const std::string& name, Reset mode, bool& existed)
{
    existed = false;
    const std::string folder = runtimeFolder();
    if (folder.empty())
        return nullptr;
    const std::string base = folder + "/" + fileName(name);
    UniqueFd fd(::open((base + ".event").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd)
        return nullptr;
    struct flock hold = wholeFile(F_WRLCK);
    if (::fcntl(fd.get(), F_OFD_SETLK, &hold) != 0) {
        if (errno != EAGAIN && errno != EACCES)
            return nullptr;
        existed = true;
        return std::unique_ptr<CVEvent>(new CVEvent(base, mode, false, UniqueFd()));
    }
    // A marker left by an earlier creator that died does not count.
    ::unlink((base + ".set").c_str());
    return std::unique_ptr<CVEvent>(new CVEvent(base, mode, true, std::move(fd)));
}

std::unique_ptr<CVEvent> CVEvent::open(const std::string& name, Reset mode)
{
    const std::string folder = runtimeFolder();
    if (folder.empty())
        return nullptr;
    const std::string base = folder + "/" + fileName(name);
    UniqueFd fd(::open((base + ".event").c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd)
        return nullptr;
    // Asked without taking the lock, so a creator starting now is not misled.
    struct flock probe = wholeFile(F_WRLCK);
    if (::fcntl(fd.get(), F_OFD_GETLK, &probe) != 0 || probe.l_type == F_UNLCK)
        return nullptr;
    return std::unique_ptr<CVEvent>(new CVEvent(base, mode, false, UniqueFd()));
}

bool CVEvent::set()
{
    UniqueFd marker(::open((m_base + ".set").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    return static_cast<bool>(marker);
}

bool CVEvent::reset()
{
    return ::unlink((m_base + ".set").c_str()) == 0 || errno == ENOENT;
}

bool CVEvent::test()
{
    const std::string marker = m_base + ".set";
    if (m_mode == Reset::Auto)
        return ::unlink(marker.c_str()) == 0;   // one tester wins each set
    return ::access(marker.c_str(), F_OK) == 0;
}
