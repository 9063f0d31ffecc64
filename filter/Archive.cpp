#include "filter/Archive.h"

#include "filter/FileRetry.h"
#include "filter/FilterSettings.h"
#include "filter/LineEnds.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/CVDateTime.h"
#include "common/CVDir.h"
#include "common/ProgramContext.h"
#include "common/UniqueFd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Serialises the appends to day files.
std::mutex archiveMutex;

// A staging file held by another writer is tried this often, 100 ms apart.
constexpr int kStagingAttempts = 20;

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "sf" + six digits + suffix, any letter case.
bool isArchiveName(const std::string& name, const char* suffix)
{
    const std::string low = lower(name);
    const std::string tail = suffix;
    if (low.size() != 8 + tail.size() || low.compare(0, 2, "sf") != 0 || low.compare(8, tail.size(), tail) != 0)
        return false;
    for (size_t i = 2; i < 8; ++i)
        if (!std::isdigit(static_cast<unsigned char>(low[i])))
            return false;
    return true;
}

bool readFully(int fd, std::vector<char>& block, ssize_t& got)
{
    do {
        got = ::read(fd, block.data(), block.size());
    } while (got < 0 && errno == EINTR);
    return got >= 0;
}

// Where the header's blank line starts (the offset of its CR LF), or -1.
long blankLineOffset(int fd)
{
    std::vector<char> block(65536);
    static const char kBlank[] = "\r\n\r\n";
    int matched = 2;   // the file's start counts as a line start
    long offset = 0;
    for (;;) {
        ssize_t got = 0;
        if (!readFully(fd, block, got) || got == 0)
            return -1;
        for (ssize_t i = 0; i < got; ++i) {
            const char c = block[static_cast<size_t>(i)];
            matched = (c == kBlank[matched]) ? matched + 1 : (c == '\r' ? 1 : 0);
            if (matched == 4)
                return offset + i - 1;
        }
        offset += got;
    }
}

// Copies length bytes (all, when negative) from in to out.
bool copyBytes(int in, int out, long length)
{
    std::vector<char> block(65536);
    while (length != 0) {
        const size_t want = length < 0 ? block.size() : std::min<size_t>(block.size(), static_cast<size_t>(length));
        ssize_t got;
        do {
            got = ::read(in, block.data(), want);
        } while (got < 0 && errno == EINTR);
        if (got < 0)
            return false;
        if (got == 0)
            return length < 0;
        if (!writeFully(out, block.data(), static_cast<size_t>(got)))
            return false;
        if (length > 0)
            length -= got;
    }
    return true;
}


// The names of the staging files in folder.
std::vector<std::string> stagingFiles(const std::string& folder)
{
    std::vector<std::string> staged;
    for (CVDir it(folder.c_str(), "sf*.tmp"); !it.atEnd(); it.moveNext())
        if (!it.isDir() && isArchiveName(it.fileName(), ".tmp"))
            staged.push_back(it.fileName());
    return staged;
}

// Today's staging or day file name: "SFyymmdd" + suffix.
std::string todaysName(const char* suffix)
{
    CVDateTime now;
    char name[32];
    std::snprintf(name, sizeof name, "SF%02d%02d%02d%s", now.year() % 100, now.month(), now.day(), suffix);
    return name;
}

} // namespace

void archiveMessage(FilterContext& context, const MessageDescriptor& message, int band)
{
    try {
        const RatingBand& settings = filterSettings().bands[band];
        if (!settings.archive || message.path == nullptr)
            return;
        context.message.ensureWholeMessage(&message);
        const std::string staging = settings.archivePath + todaysName(".tmp");
        UniqueFd out;
        for (int attempt = 1; attempt <= kStagingAttempts; ++attempt) {
            out.reset(::open(staging.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
            if (!out)
                break;   // no folder, no room: waiting changes nothing
            struct stat st {};
            if (::flock(out.get(), LOCK_EX | LOCK_NB) == 0) {
                if (::fstat(out.get(), &st) == 0 && st.st_nlink > 0)
                    break;
                out.reset();   // merged and removed meanwhile: a new one
                continue;
            }
            out.reset();   // held by another writer for a moment
            if (attempt < kStagingAttempts)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!out) {
            CEventLog().LogEvent(1, "Unable to create/open %s", staging.c_str());
            return;
        }
        UniqueFd in(::open(message.path, O_RDONLY | O_CLOEXEC));
        if (!in) {
            CEventLog().LogEvent(1, "Unable to open %s", message.path);
            return;
        }
        // The message as spooled, its X-Quillfence-Pro block ahead of the
        // blank line that ends its header; a band that marks subjects has
        // put the block into the spool already.
        const long blank = settings.subject ? -1 : blankLineOffset(in.get());
        ::lseek(in.get(), 0, SEEK_SET);
        bool written = true;
        if (blank >= 0) {
            written = copyBytes(in.get(), out.get(), blank);
            const std::string block = withCrLf(context.decisionHeaders);
            written = written && writeFully(out.get(), block.data(), block.size());
        }
        written = written && copyBytes(in.get(), out.get(), -1);
        if (!written)
            CEventLog().LogEvent(1, "Unable to write %s", staging.c_str());
        if (std::find(context.stagedArchives.begin(), context.stagedArchives.end(), staging) ==
            context.stagedArchives.end())
            context.stagedArchives.push_back(staging);
    } catch (...) {
        DebugX("filter", __LINE__);
    }
}

bool flushStagedArchives(const FilterContext& context)
{
    try {
        bool flushed = true;
        std::vector<std::string> folders;
        for (const std::string& staging : context.stagedArchives) {
            UniqueFd file(::open(staging.c_str(), O_RDONLY | O_CLOEXEC));
            if (!file && errno == ENOENT)
                continue;   // merged meanwhile: its day file is on disk
            if (!file || ::fdatasync(file.get()) != 0) {
                CEventLog().LogEvent(1, "Unable to flush %s to disk", staging.c_str());
                flushed = false;
            }
            const std::string folder = staging.substr(0, staging.rfind('/') + 1);
            if (std::find(folders.begin(), folders.end(), folder) == folders.end())
                folders.push_back(folder);
        }
        // A staging file made this session is found through its folder.
        // Some file systems cannot flush a folder (EINVAL): they need not.
        for (const std::string& folder : folders) {
            UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!directory || (::fsync(directory.get()) != 0 && errno != EINVAL)) {
                CEventLog().LogEvent(1, "Unable to flush %s to disk", folder.c_str());
                flushed = false;
            }
        }
        return flushed;
    } catch (...) {
        DebugX("filter", __LINE__);
        return false;
    }
}

void mergeArchives(bool commit)
{
    try {
        for (const RatingBand& band : filterSettings().bands) {
            const std::string& folder = band.archivePath;
            for (const std::string& name : stagingFiles(folder)) {
                const std::string staging = folder + name;
                // Held while it is read and removed: a copy being staged
                // meanwhile waits, then goes to a new staging file.
                UniqueFd in(::open(staging.c_str(), O_RDONLY | O_CLOEXEC));
                if (in)
                    ::flock(in.get(), LOCK_EX);
                if (!commit) {
                    ::unlink(staging.c_str());
                    continue;
                }
                const std::string day = folder + name.substr(0, name.find('.')) + ".txt";
                std::lock_guard<std::mutex> lock(archiveMutex);
                UniqueFd out(::open(day.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
                // The copy goes only once the day file holds it on disk.
                if (!in || !out || !copyBytes(in.get(), out.get(), -1) || ::fsync(out.get()) != 0) {
                    CEventLog().LogEvent(1, "Unable to merge archive!");
                    return;
                }
                ::unlink(staging.c_str());
            }
        }
    } catch (...) {
        DebugX("filter", __LINE__);
    }
}

void tidyBandArchive(int band)
{
    try {
        const FilterSettings& settings = filterSettings();
        const std::string& folder = settings.bands[band].archivePath;
        std::vector<std::string> old;
        const long now = CVDateTime::currentTime();
        for (CVDir it(folder.c_str(), "sf*.txt"); !it.atEnd(); it.moveNext()) {
            const std::string name = it.fileName();
            if (it.isDir() || !isArchiveName(name, ".txt"))
                continue;
            const int yy = std::stoi(name.substr(2, 2));
            const int mm = std::stoi(name.substr(4, 2));
            const int dd = std::stoi(name.substr(6, 2));
            const CVDateTime date(yy < 50 ? 2000 + yy : 1900 + yy, mm, dd, 0, 0, 0);
            if (date.daysTo(now) > settings.tidyDays)
                old.push_back(folder + name);
        }
        for (const std::string& path : old)
            deleteFileRetry(path);
    } catch (...) {
        DebugX("filter", __LINE__);
    }
}

void dailyTidy()
{
    try {
        FilterSettings& settings = filterSettings();
        const int today = CVDateTime().dayOfYear();
        if (today == settings.lastReportDay)
            return;
        if (settings.tidy)
            for (int band = 0; band < FilterSettings::kBands; ++band)
                tidyBandArchive(band);
        CRegistry reg;
        if (reg.CreateKey(programContext().settingsHive, "quilfpro", "/", true)) {
            reg.SetValue("LastReportDay", today);
            settings.lastReportDay = today;
        }
    } catch (...) {
        DebugX("filter", __LINE__);
    }
}

void registerArchiveLocation(int band)
{
    try {
        const eRegKeyType hive = programContext().settingsHive;
        std::string path;
        {
            CRegistry reg;
            if (reg.CreateKey(hive, "quilfpro", "/", true))
                reg.QueryValue(("ArchivePath" + std::to_string(band)).c_str(), path);
        }
        CRegistry viewer;
        const std::string name = "Rating Band " + std::to_string(band);
        const std::string key = "/Locations/Quillfence Pro/" + name;
        if (viewer.CreateKey(hive, "cvmsgvwr", key.c_str(), true)) {
            const std::string data =
                !path.empty() ? path : programContext().dataRoot + "/archive/rating" + std::to_string(band);
            viewer.SetValue("Type", 2);
            viewer.SetValue("File", "sf*.txt");
            viewer.SetValue("Parse", "sf%02d%02d%02d");
            viewer.SetValue("DisplayName", name.c_str());
            viewer.SetValue("Data", data.c_str());
            viewer.SetValue("Icon", 11 - band);
            viewer.CloseKey();
        }
        CRegistry top;
        if (top.CreateKey(hive, "cvmsgvwr", "/Locations/Quillfence Pro", true))
            top.SetValue("DisplayName", "Quillfence Pro");
    } catch (...) {
        DebugX("filter", __LINE__);
    }
}

void registerArchiveLocations()
{
    for (int n = 1; n <= FilterSettings::kBands; ++n)
        registerArchiveLocation(n);
}
