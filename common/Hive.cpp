#include "common/Hive.h"

#include "common/AtomicFile.h"
#include "common/CEventLog.h"
#include "common/CVDir.h"
#include "common/HiveNotices.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// Attempts to create a missing hive file, and the pause between them.
constexpr int kCreateAttempts = 20;
// Attempts to take the update lock while another process holds it (about a
// second in all), and the pause between them.
constexpr int kLockAttempts = 200;
constexpr int kPauseMs = 5;
// Hives are small; a larger file is not a hive.
constexpr off_t kMaxHiveFile = 64 << 20;
// Set-aside copies of one hive file: ".damaged", then ".damaged.2" to this.
constexpr int kMaxSetAside = 1000;

// "/A" continues as "/A/..."; the root "/" is continued by every other path.
std::string childPrefix(const std::string& upperPath)
{
    return (!upperPath.empty() && upperPath.back() == '/') ? upperPath : upperPath + "/";
}

} // namespace

Hive::Hive(std::string path, std::string name) : m_path(std::move(path)), m_name(std::move(name)) {}

Hive::~Hive() = default;

bool Hive::readFile(std::string& data) const
{
    data.clear();
    UniqueFd fd;
    for (int attempt = 0; attempt < kCreateAttempts && !fd; ++attempt) {
        fd.reset(::open(m_path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600));
        if (!fd && attempt + 1 < kCreateAttempts)
            std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
    }
    if (!fd) {
        CEventLog().LogEvent(1, "Unable to open hive file %s for 'a'", m_path.c_str());
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || st.st_size > kMaxHiveFile) {
        CEventLog().LogEvent(1, "Unable to open hive file %s for '%s'", m_path.c_str(), "r+");
        return false;
    }
    if (readToEnd(fd.get(), data, static_cast<size_t>(kMaxHiveFile)))
        return true;
    if (data.size() <= static_cast<size_t>(kMaxHiveFile))
        CEventLog().LogEvent(1, "Unable to open hive file %s for '%s'", m_path.c_str(), "r+");
    return false;
}

void Hive::setSeed(std::string seedPath)
{
    CVMutexLocker lock(m_lock);
    m_seed = std::move(seedPath);
}

bool Hive::load()
{
    CVMutexLocker lock(m_lock);
    m_entries.clear();
    m_sequence = 0;
    m_unsaved = false;
    std::optional<FileLock> fileLock;
    if (!m_seed.empty() && ::access(m_path.c_str(), F_OK) != 0 &&
        FileLock::acquire(m_path + ".lock", kLockAttempts, kPauseMs, fileLock) == FileLock::Result::Acquired)
        installSeed();
    std::string data;
    if (!readFile(data))
        return false;
    hiveformat::Parsed parsed = hiveformat::parseHive(data);
    if (!data.empty() && !parsed.whole) {
        // A damaged file is set aside under the lock, so that of several
        // processes loading it only one moves it.  Without the lock the hive
        // stays empty: a partial content is never used.
        if (!fileLock &&
            FileLock::acquire(m_path + ".lock", kLockAttempts, kPauseMs, fileLock) != FileLock::Result::Acquired)
            return true;
        replaceDamaged(data, parsed);
    }
    if (!parsed.hasSequence)
        return true;   // an empty file: a new, empty hive
    m_sequence = parsed.sequence;
    m_entries = std::move(parsed.entries);
    return true;
}

bool Hive::replaceDamaged(std::string& data, hiveformat::Parsed& parsed)
{
    // Another process may have set it aside since it was read here.
    if (!readFile(data))
        data.clear();
    parsed = hiveformat::parseHive(data);
    if (data.empty() || parsed.whole)
        return true;
    HiveSetAside notice;
    notice.path = m_path;
    notice.asidePath = setAside();
    bool replaced = !notice.asidePath.empty();
    if (replaced) {
        notice.shipped = installSeed();
        if (!readFile(data))
            data.clear();
        parsed = hiveformat::parseHive(data);
    }
    noteHiveSetAside(std::move(notice));
    if (!parsed.whole)
        parsed = hiveformat::Parsed();   // empty, or a damaged seed: not used either
    return replaced;
}

std::string Hive::setAside() const
{
    for (int copy = 1; copy <= kMaxSetAside; ++copy) {
        const std::string aside = m_path + ".damaged" + (copy > 1 ? "." + std::to_string(copy) : "");
        // link() never replaces an existing file, as rename() would.
        if (::link(m_path.c_str(), aside.c_str()) == 0) {
            ::unlink(m_path.c_str());
            return aside;
        }
        if (errno != EEXIST)
            return {};
    }
    return {};
}

bool Hive::installSeed() const
{
    if (m_seed.empty() || ::access(m_path.c_str(), F_OK) == 0)
        return false;
    std::string data;
    {
        UniqueFd fd(::open(m_seed.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd)
            return false;
        if (!readToEnd(fd.get(), data, static_cast<size_t>(kMaxHiveFile)))
            return false;
    }
    AtomicFile file(m_path, 0600);
    return file.write(data) && file.commit();
}

void Hive::ensureLoaded()
{
    CVMutexLocker lock(m_lock);
    if (!m_loaded) {
        load();
        m_loaded = true;
    }
}

bool Hive::createKeyPath(const std::string& upperKey)
{
    if (!hiveformat::recordFits(upperKey, ""))
        return false;
    CVMutexLocker lock(m_lock);
    std::string path = upperKey;
    while (!path.empty()) {
        if (m_entries.emplace(path, "").second)
            noteUnsavedChange();
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            break;
        path.resize(slash);
    }
    return true;
}

bool Hive::get(const std::string& upperPath, std::string& value) const
{
    CVMutexLocker lock(m_lock);
    auto it = m_entries.find(upperPath);
    if (it == m_entries.end())
        return false;
    value = it->second;
    return true;
}

bool Hive::contains(const std::string& upperPath) const
{
    CVMutexLocker lock(m_lock);
    return m_entries.count(upperPath) != 0;
}

bool Hive::beginUpdate()
{
    if (m_updateFile)
        return true;
    std::optional<FileLock> fileLock;
    switch (FileLock::acquire(m_path + ".lock", kLockAttempts, kPauseMs, fileLock)) {
    case FileLock::Result::Acquired:
        break;
    case FileLock::Result::Busy:
        return false;
    case FileLock::Result::Error:
        CEventLog().LogEvent(1, "Unable to open hive file %s for '%s'", m_path.c_str(), "r+");
        return false;
    }
    std::string data;
    if (!readFile(data))
        return false;
    hiveformat::Parsed parsed = hiveformat::parseHive(data);
    // Never written over before it is set aside; when it cannot be, no
    // update opens and changes stay in memory.
    if (!data.empty() && !parsed.whole && !replaceDamaged(data, parsed))
        return false;
    const uint32_t onDisk = parsed.hasSequence ? parsed.sequence : 0;
    if (onDisk != m_sequence) {
        // Another process has written the file since it was read here.
        m_sequence = onDisk;
        m_entries = std::move(parsed.entries);
        m_unsaved = false;
    }
    m_updateFile = std::move(fileLock);
    if (!m_swept) {
        removeStaleTemporaries();
        m_swept = true;
    }
    return true;
}

void Hive::removeStaleTemporaries() const
{
    // Left by a writer that died before its rename; only the lock holder
    // writes temporaries, so none is in use now.
    const size_t slash = m_path.rfind('/');
    const std::string folder = m_path.substr(0, slash);
    const std::string pattern = m_path.substr(slash + 1) + ".tmp*";
    std::vector<std::string> stale;
    for (CVDir it(folder.c_str(), pattern.c_str()); !it.atEnd(); it.moveNext())
        stale.push_back(folder + "/" + it.fileName());
    for (const std::string& path : stale)
        ::unlink(path.c_str());
}

bool Hive::set(const std::string& upperPath, const std::string& value)
{
    if (!hiveformat::recordFits(upperPath, value))
        return false;
    CVMutexLocker lock(m_lock);
    // Storing what the hive holds already changes nothing, provided no other
    // process has written the file since it was read here: no update, no
    // write-back (settings stored again at every session cost no flush).
    if (!m_updateFile && !m_unsaved) {
        auto it = m_entries.find(upperPath);
        if (it != m_entries.end() && it->second == value && unchangedOnDisk())
            return true;
    }
    beginUpdate();
    m_entries[upperPath] = value;
    noteUnsavedChange();
    return true;
}

void Hive::noteUnsavedChange()
{
    if (!m_updateFile)
        m_unsaved = true;
}

bool Hive::unchangedOnDisk() const
{
    std::string data;
    if (!readFile(data))
        return false;
    const hiveformat::Parsed parsed = hiveformat::parseHive(data);
    return parsed.hasSequence && parsed.sequence == m_sequence;
}

bool Hive::increment(const std::string& upperPath, int delta, int& result)
{
    if (!hiveformat::recordFits(upperPath, "-2147483648"))
        return false;
    CVMutexLocker lock(m_lock);
    // A counter read without the lock may be stale: the sum could repeat one
    // that another process has handed out already.
    if (!beginUpdate())
        return false;
    std::string& stored = m_entries[upperPath];
    const long current = std::strtol(stored.c_str(), nullptr, 10);
    // Wraps like the 32-bit counter it is, without undefined overflow.
    result = static_cast<int>(static_cast<uint32_t>(current) + static_cast<uint32_t>(delta));
    stored = std::to_string(result);
    return true;
}

bool Hive::erase(const std::string& upperPath)
{
    CVMutexLocker lock(m_lock);
    if (m_entries.erase(upperPath) == 0)
        return false;
    noteUnsavedChange();
    return true;
}

bool Hive::eraseBelow(const std::string& upperPath, bool withKey)
{
    CVMutexLocker lock(m_lock);
    bool erased = withKey && m_entries.erase(upperPath) != 0;
    const std::string prefix = childPrefix(upperPath);
    auto it = m_entries.lower_bound(prefix);
    while (it != m_entries.end() && it->first.compare(0, prefix.size(), prefix) == 0) {
        if (it->first == upperPath) {   // the root key "/" itself
            ++it;
            continue;
        }
        it = m_entries.erase(it);
        erased = true;
    }
    if (erased)
        noteUnsavedChange();
    return erased;
}

bool Hive::enumerate(const std::string& upperPath, unsigned long index, bool keys,
                     std::string& name) const
{
    if (index == static_cast<unsigned long>(-1))
        return false;
    CVMutexLocker lock(m_lock);
    if (m_entries.count(upperPath) == 0)
        return false;
    const std::string prefix = childPrefix(upperPath);
    unsigned long seen = 0;
    for (auto it = m_entries.lower_bound(prefix);
         it != m_entries.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->first.size() == prefix.size())
            continue;
        const bool isKey = it->second.empty();
        if (isKey != keys || it->first.find('/', prefix.size()) != std::string::npos)
            continue;
        if (seen++ == index) {
            name = it->first.substr(prefix.size());
            return true;
        }
    }
    return false;
}

bool Hive::save()
{
    CVMutexLocker lock(m_lock);
    if (!m_updateFile)
        return true;
    struct stat st {};
    // Settings are private to the user, whatever an older file allowed.
    const unsigned mode = ::stat(m_path.c_str(), &st) == 0 ? ((st.st_mode & 0700) | 0600) : 0600;
    AtomicFile file(m_path, mode);
    const bool written = file.write(hiveformat::formatHive(m_sequence + 1, m_entries)) && file.commit();
    if (written) {
        ++m_sequence;
        m_unsaved = false;
    } else {
        CEventLog().LogEvent(1, "Unable to write hive file %s", m_path.c_str());
        m_unsaved = true;
    }
    // The update ends either way; a failed write leaves the previous file
    // whole, and the next update starts from it.
    m_updateFile.reset();
    return written;
}

bool Hive::updateOpen() const
{
    CVMutexLocker lock(m_lock);
    return m_updateFile.has_value();
}

bool Hive::unsaved() const
{
    CVMutexLocker lock(m_lock);
    return m_unsaved;
}

bool Hive::reloadWhenChanged()
{
    CVMutexLocker lock(m_lock);
    if (m_updateFile || m_unsaved)
        return false;
    std::string data;
    if (!readFile(data))
        return false;
    hiveformat::Parsed parsed = hiveformat::parseHive(data);
    if (!parsed.whole || !parsed.hasSequence || parsed.sequence == m_sequence)
        return false;
    m_sequence = parsed.sequence;
    m_entries = std::move(parsed.entries);
    return true;
}

unsigned long Hive::sequenceNumber() const
{
    CVMutexLocker lock(m_lock);
    if (m_updateFile)
        return m_sequence;
    std::string data;
    if (!readFile(data))
        return 0;
    return hiveformat::parseHive(data).sequence;
}
