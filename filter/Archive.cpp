#include "filter/Archive.h"

#include "filter/FilterSettings.h"
#include "filter/LineEnds.h"
#include "store/ArchiveEntries.h"
#include "store/StagingFile.h"
#include "filter/SessionLink.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/DayFiles.h"
#include "common/CVDateTime.h"
#include "common/CVDir.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "common/UniqueFd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

// Serialises the appends to day files, and the making of staging files
// against the sweep of leftovers.
std::mutex archiveMutex;

// A fresh name for a session's staging file is tried this often.
constexpr int kStagingAttempts = 20;

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


// A staging file's name: "sf", six digits, optionally "." and eight hex
// digits (the session's tag), suffix (".tmp"; ".new" while it is being
// made, always with a tag); any letter case.  A ".tmp" name without a tag
// is that of an earlier version's shared staging file.
bool isStagingName(const std::string& name, const char* suffix)
{
    // The day-file check and isxdigit take letters in either case.
    const bool tagged = name.size() == 21;
    if (name.size() != 12 && !tagged)
        return false;
    if (tagged && name[8] != '.')
        return false;
    if (tagged)
        for (size_t i = 9; i < 17; ++i)
            if (!std::isxdigit(static_cast<unsigned char>(name[i])))
                return false;
    return isDayFileName(name.substr(0, 8) + name.substr(name.size() - 4), {"sf"}, suffix);
}

// The names of the staging files in folder with suffix.
std::vector<std::string> stagingFiles(const std::string& folder, const char* suffix = ".tmp")
{
    std::vector<std::string> staged;
    const std::string pattern = std::string("sf*") + suffix;
    for (CVDir it(folder.c_str(), pattern.c_str()); !it.atEnd(); it.moveNext())
        if (!it.isDir() && isStagingName(it.fileName(), suffix))
            staged.push_back(it.fileName());
    return staged;
}

// Today's file name: "SFyymmdd" + suffix.
std::string todaysName(const char* suffix)
{
    CVDateTime now;
    char name[32];
    std::snprintf(name, sizeof name, "SF%02d%02d%02d%s", now.year() % 100, now.month(), now.day(), suffix);
    return name;
}

// The day file a staging file is merged into: its name up to the first ".",
// then ".txt".
std::string dayFileOf(const std::string& stagingPath)
{
    const size_t slash = stagingPath.rfind('/') + 1;
    return stagingPath.substr(0, stagingPath.find('.', slash)) + ".txt";
}

bool writeText(int fd, const std::string& text)
{
    return writeFully(fd, text.data(), text.size());
}

bool writeTextAt(int fd, const std::string& text, long offset)
{
    return pwriteFully(fd, text.data(), text.size(), offset);
}

// Appends length bytes of in from offset to out.
bool appendRange(int in, long offset, long length, int out)
{
    std::vector<char> block(65536);
    while (length > 0) {
        const size_t want = std::min<size_t>(block.size(), static_cast<size_t>(length));
        if (!preadFully(in, block.data(), want, offset) || !writeFully(out, block.data(), want))
            return false;
        offset += static_cast<long>(want);
        length -= static_cast<long>(want);
    }
    return true;
}

// The ranges of the staging file that go into the day file, in order.
std::vector<std::pair<long, long>> mergedRanges(const StagingContents& contents)
{
    std::vector<std::pair<long, long>> ranges;
    if (!contents.recorded) {
        ranges.emplace_back(0, contents.end);
        return ranges;
    }
    for (const StagedCopy& copy : contents.copies)
        if (!copy.dropped)
            ranges.emplace_back(copy.offset, copy.length);
    return ranges;
}

enum class DayFileHolds { Nothing, Part, All };

// How much of the ranges the day file holds from at on.
DayFileHolds dayFileHolds(int day, long at, int staging, const std::vector<std::pair<long, long>>& ranges)
{
    struct stat st {};
    if (::fstat(day, &st) != 0 || st.st_size <= at)
        return DayFileHolds::Nothing;
    std::vector<char> ours(65536), theirs(65536);
    long position = at;
    for (const auto& [offset, length] : ranges) {
        for (long done = 0; done < length;) {
            const long left = static_cast<long>(st.st_size) - position;
            if (left <= 0)
                return DayFileHolds::Part;
            const size_t want = static_cast<size_t>(std::min<long>({length - done, left, 65536L}));
            if (!preadFully(staging, ours.data(), want, offset + done) ||
                !preadFully(day, theirs.data(), want, position) ||
                std::memcmp(ours.data(), theirs.data(), want) != 0)
                return DayFileHolds::Nothing;   // something else is there
            done += static_cast<long>(want);
            position += static_cast<long>(want);
        }
    }
    return DayFileHolds::All;
}

// Appends the copies of the staging file open as staging (locked) to its
// day file, flushes it and removes the staging file.  A merge that fails
// leaves the day file as it was and the staging file for another try.
// The offset where the merge begins is noted in the staging file first,
// so that a merge cut short by a crash is neither doubled nor left half.
bool mergeStagingFile(const std::string& path, int staging, const StagingContents& contents)
{
    const std::vector<std::pair<long, long>> ranges = mergedRanges(contents);
    const std::string dayPath = dayFileOf(path);
    std::lock_guard<std::mutex> lock(archiveMutex);
    // Locked against the viewer, which writes a day file anew to take a
    // message out of it.
    UniqueFd day = openLockedDayFile(dayPath);
    if (!day) {
        CEventLog().LogEvent(1, "Unable to merge archive!");
        return false;
    }
    if (contents.mergeAt >= 0) {
        const DayFileHolds holds = dayFileHolds(day.get(), contents.mergeAt, staging, ranges);
        if (holds == DayFileHolds::All) {
            ::unlink(path.c_str());
            return true;
        }
        if (holds == DayFileHolds::Part && ::ftruncate(day.get(), contents.mergeAt) != 0) {
            CEventLog().LogEvent(1, "Unable to merge archive!");
            return false;
        }
    }
    struct stat st {};
    if (::fstat(day.get(), &st) != 0) {
        CEventLog().LogEvent(1, "Unable to merge archive!");
        return false;
    }
    const long start = static_cast<long>(st.st_size);
    bool merged = true;
    if (contents.recorded)
        merged = writeTextAt(staging, StagingFile::mergeLine(start), contents.end) && ::fdatasync(staging) == 0;
    for (const auto& [offset, length] : ranges)
        merged = merged && appendRange(staging, offset, length, day.get());
    merged = merged && ::fsync(day.get()) == 0;
    if (!merged) {
        // Whole copies or none: what this merge appended goes again.  Only
        // once that is sure does the note of where it began go too; else
        // the next try finds what is there by it.
        if (::ftruncate(day.get(), start) != 0 || ::fsync(day.get()) != 0)
            CEventLog().LogEvent(1, "Unable to restore %s", dayPath.c_str());
        else if (contents.recorded && ::ftruncate(staging, contents.end) != 0)
            CEventLog().LogEvent(1, "Unable to restore %s", path.c_str());
        CEventLog().LogEvent(1, "Unable to merge archive!");
        return false;
    }
    // A day file made now is found through its folder: that is on disk too
    // before the staging file goes.
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory || (::fsync(directory.get()) != 0 && errno != EINVAL)) {
        CEventLog().LogEvent(1, "Unable to flush %s to disk", folder.c_str());
        return false;
    }
    ::unlink(path.c_str());
    return true;
}

// Marks the copies of messages judged again as dropped, on disk; unless
// the file's merge had begun already, when every copy belongs in the day
// file.  False when the marks cannot be written.
bool dropJudgedAgain(int file, StagingContents& contents, const std::function<bool(const std::string&)>& judgedAgain)
{
    if (contents.mergeAt >= 0)
        return true;
    bool marked = false;
    for (StagedCopy& copy : contents.copies) {
        if (copy.dropped || copy.key == "-" || !judgedAgain(copy.key))
            continue;
        if (!writeTextAt(file, "D", copy.lengthAt))
            return false;
        copy.dropped = marked = true;
    }
    return !marked || ::fdatasync(file) == 0;
}

// This session's staging file of today in folder, made on first use: -1
// (logged) when it cannot be.  It is made under a name no other session
// takes for a leftover, locked, given its header and only then renamed
// into place.
int stagingFileFor(FilterContext& context, const std::string& folder)
{
    const std::string day = todaysName("");
    for (const FilterContext::StagedArchive& staged : context.stagedArchives)
        if (staged.folder == folder && staged.day == day && !staged.closed)
            return staged.file.get();
    std::random_device random;
    // The leftover sweep of a session beside this one must not take the
    // ".new" file for a dead session's before it is locked.
    const std::lock_guard<std::mutex> lock(archiveMutex);
    for (int attempt = 1; attempt <= kStagingAttempts; ++attempt) {
        char tag[16];
        std::snprintf(tag, sizeof tag, ".%08x", static_cast<unsigned>(random()));
        const std::string path = folder + day + tag + ".tmp";
        const std::string making = folder + day + tag + ".new";
        UniqueFd file(::open(making.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!file && errno == EEXIST)
            continue;
        if (!file)
            break;   // no folder, no room: waiting changes nothing
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            ::unlink(making.c_str());
            continue;   // the name is taken
        }
        if (::flock(file.get(), LOCK_EX) != 0 || !writeText(file.get(), StagingFile::headerLine(context.archiveAccount)) ||
            ::rename(making.c_str(), path.c_str()) != 0) {
            ::unlink(making.c_str());
            break;
        }
        context.stagedArchives.push_back({path, folder, day, std::move(file), false});
        return context.stagedArchives.back().file.get();
    }
    CEventLog().LogEvent(1, "Unable to create/open %s", (folder + todaysName(".tmp")).c_str());
    return -1;
}

} // namespace

bool archiveMessage(FilterContext& context, const MessageDescriptor& message, int band, bool wholeOnly)
{
    try {
        const RatingBand& settings = filterSettings().bands[band];
        if (!settings.archive || message.path == nullptr)
            return true;
        context.message.ensureWholeMessage(&message);
        if (context.spoolDamaged)
            return false;
        // A server that would not give the whole message leaves its header:
        // that may be archived, but it is no copy of the message.
        const bool whole = context.session() == nullptr || !context.session()->isCurrentHeaderOnly();
        if (!whole && wholeOnly)
            return false;
        // Settings never loaded leave no folder: a copy is not put in
        // whatever folder the program happens to run in.
        if (settings.archivePath.empty() || settings.archivePath[0] != '/') {
            CEventLog().LogEvent(1, "No archive folder for rating band %d", band + 1);
            return false;
        }
        const int out = stagingFileFor(context, settings.archivePath);
        if (out < 0)
            return false;
        UniqueFd in(::open(message.path, O_RDONLY | O_CLOEXEC));
        if (!in) {
            CEventLog().LogEvent(1, "Unable to open %s", message.path);
            return false;
        }
        // The message as spooled, its X-Quillfence-Pro block ahead of the
        // blank line that ends its header; a band that marks subjects has
        // put the block into the spool already.  It goes in as one record,
        // its length written last: a copy that cannot be written whole is
        // cut off again, and one cut short by a crash is no record.
        const long blank = settings.subject ? -1 : blankLineOffset(in.get());
        ::lseek(in.get(), 0, SEEK_SET);
        const long start = ::lseek(out, 0, SEEK_END);
        const std::string record = StagingFile::pendingRecordLine(context.archiveKey);
        bool written = start >= 0 && writeText(out, record);
        if (blank >= 0) {
            written = written && copyBytes(in.get(), out, blank);
            written = written && writeText(out, withCrLf(context.decisionHeaders));
        }
        written = written && copyBytes(in.get(), out, -1);
        const long end = written ? ::lseek(out, 0, SEEK_CUR) : -1;
        const long length = end - start - static_cast<long>(record.size());
        written = written && end >= 0 && length <= StagingFile::kMaxCopy &&
                  writeTextAt(out, StagingFile::lengthField(length), start);
        if (!written) {
            for (FilterContext::StagedArchive& staged : context.stagedArchives) {
                if (staged.file.get() != out)
                    continue;
                CEventLog().LogEvent(1, "Unable to write %s", staged.path.c_str());
                // What is left of the copy ends the file's records: the
                // copies before it stand, later ones go to a new file.
                if (start < 0 || ::ftruncate(out, start) != 0) {
                    CEventLog().LogEvent(1, "Unable to restore %s", staged.path.c_str());
                    staged.closed = true;
                }
            }
            return false;
        }
        return whole;
    } catch (...) {
        DebugX("filter", __LINE__);
        return false;
    }
}

bool flushStagedArchives(const FilterContext& context)
{
    try {
        bool flushed = true;
        std::vector<std::string> folders;
        for (const FilterContext::StagedArchive& staged : context.stagedArchives) {
            if (::fdatasync(staged.file.get()) != 0) {
                CEventLog().LogEvent(1, "Unable to flush %s to disk", staged.path.c_str());
                flushed = false;
            }
            if (std::find(folders.begin(), folders.end(), staged.folder) == folders.end())
                folders.push_back(staged.folder);
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

bool mergeStagedArchives(FilterContext& context, const std::function<bool(const std::string&)>& judgedAgain)
{
    try {
        bool merged = true;
        auto& staged = context.stagedArchives;
        for (auto it = staged.begin(); it != staged.end();) {
            StagingContents contents;
            if (StagingFile::read(it->file.get(), contents) &&
                (!judgedAgain || dropJudgedAgain(it->file.get(), contents, judgedAgain)) &&
                mergeStagingFile(it->path, it->file.get(), contents)) {
                it = staged.erase(it);
            } else {
                merged = false;
                ++it;   // left for the account's next session
            }
        }
        return merged;
    } catch (...) {
        DebugX("filter", __LINE__);
        return false;
    }
}

void discardStagedArchives(FilterContext& context)
{
    try {
        for (const FilterContext::StagedArchive& staged : context.stagedArchives)
            ::unlink(staged.path.c_str());
        context.stagedArchives.clear();
    } catch (...) {
        DebugX("filter", __LINE__);
    }
}

void mergeLeftoverArchives(const std::string& account, const std::function<bool(const std::string&)>& judgedAgain)
{
    try {
        for (const RatingBand& band : filterSettings().bands) {
            // A file a session was making when it died holds no copy.
            std::unique_lock<std::mutex> making(archiveMutex);
            for (const std::string& name : stagingFiles(band.archivePath, ".new")) {
                const std::string path = band.archivePath + name;
                UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
                if (file && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0)
                    ::unlink(path.c_str());
            }
            making.unlock();
            // Merges that a crash cut short first, then the rest: nothing
            // is appended to a day file while a merge into it is unfinished.
            for (const bool begunPass : {true, false}) {
                for (const std::string& name : stagingFiles(band.archivePath)) {
                    const std::string path = band.archivePath + name;
                    UniqueFd file(::open(path.c_str(), O_RDWR | O_CLOEXEC));
                    struct stat st {};
                    // Locked: its session is still alive.  Unlinked: merged
                    // meanwhile.
                    if (!file || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(file.get(), &st) != 0 ||
                        st.st_nlink == 0)
                        continue;
                    StagingContents contents;
                    if (!StagingFile::read(file.get(), contents) || (contents.mergeAt >= 0) != begunPass)
                        continue;
                    // A file waits for its own account's session, unless its
                    // merge had begun: then every copy belongs in the day
                    // file, before anything else is appended there.
                    if (contents.recorded && contents.account != StagingFile::accountField(account) &&
                        contents.mergeAt < 0)
                        continue;
                    if (!dropJudgedAgain(file.get(), contents, judgedAgain))
                        continue;
                    long bytes = 0;
                    for (const auto& range : mergedRanges(contents))
                        bytes += range.second;
                    if (bytes == 0)
                        ::unlink(path.c_str());
                    else
                        mergeStagingFile(path, file.get(), contents);
                }
            }
        }
    } catch (...) {
        DebugX("filter", __LINE__);
    }
}

void tidyBandArchive(int band)
{
    const FilterSettings& settings = filterSettings();
    tidyDayFiles(settings.bands[band].archivePath, {"sf"}, ".txt", settings.tidyDays);
}

void dailyTidy()
{
    try {
        FilterSettings& settings = filterSettings();
        const int today = CVDateTime().dayOfYear();
        {
            const std::lock_guard<std::mutex> lock(writtenSettingsMutex());
            if (today == settings.lastReportDay)
                return;
        }
        if (settings.tidy)
            for (int band = 0; band < FilterSettings::kBands; ++band)
                tidyBandArchive(band);
        CRegistry reg;
        if (reg.CreateKey(programContext().settingsHive, "quilfpro", "/", true)) {
            storeSetting(reg, Setting::LastReportDay, today);
            const std::lock_guard<std::mutex> lock(writtenSettingsMutex());
            settings.lastReportDay = today;
        }
    } catch (...) {
        DebugX("filter", __LINE__);
    }
}

namespace {

// Values are compared before they are stored: storing one that the hive
// holds already still reads the hive file, to be sure of that.
void storeWhenChanged(CRegistry& key, const char* name, const std::string& value)
{
    std::string stored;
    if (!key.QueryValue(name, stored) || stored != value)
        key.SetValue(name, value.c_str());
}

void storeWhenChanged(CRegistry& key, const char* name, int value)
{
    int stored = 0;
    if (!key.QueryValue(name, stored) || stored != value)
        key.SetValue(name, value);
}

// The viewer's entries of bands first to last (1 to 5), their folders read
// from ArchivePath<band>.  Each hive is read once (and the viewer's once
// more when another process has changed it since), and the viewer's is
// written back, when anything changed, once, as the top key closes.
void registerBands(int first, int last)
{
    try {
        const eRegKeyType hive = programContext().settingsHive;
        CRegistry settings;
        const bool haveSettings = settings.CreateKey(hive, "quilfpro", "/", false);
        CRegistry top;
        if (!top.CreateKey(hive, "cvmsgvwr", "/Locations/Quillfence Pro", true))
            return;
        CRegistry::refresh(hive, "cvmsgvwr");
        storeWhenChanged(top, "DisplayName", "Quillfence Pro");
        for (int band = first; band <= last; ++band) {
            std::string path;
            if (haveSettings)
                querySetting(settings, Setting::ArchivePath, path, band);
            const std::string name = "Rating Band " + std::to_string(band);
            CRegistry viewer;
            if (!viewer.CreateKey(top, name.c_str(), false))
                continue;
            const std::string data =
                !path.empty() ? path : programContext().dataRoot + "/archive/rating" + std::to_string(band);
            storeWhenChanged(viewer, "Type", 2);
            storeWhenChanged(viewer, "File", "sf*.txt");
            storeWhenChanged(viewer, "Parse", "sf%02d%02d%02d");
            storeWhenChanged(viewer, "DisplayName", name);
            storeWhenChanged(viewer, "Data", data);
            storeWhenChanged(viewer, "Icon", 11 - band);
        }
    } catch (...) {
        DebugX("filter", __LINE__);
    }
}

} // namespace

void registerArchiveLocation(int band)
{
    registerBands(band, band);
}

void registerArchiveLocations()
{
    registerBands(1, FilterSettings::kBands);
}

std::vector<ArchiveLocation> registeredArchiveLocations()
{
    std::vector<ArchiveLocation> locations;
    const eRegKeyType hive = programContext().settingsHive;
    CRegistry top;
    const bool registered = top.OpenKey(hive, "cvmsgvwr", "/Locations/Quillfence Pro", false);
    CRegistry settings;
    const bool haveSettings = settings.OpenKey(hive, "quilfpro", "/", false);
    for (int band = 1; band <= 5; ++band) {
        ArchiveLocation location{band, "Rating Band " + std::to_string(band), {}};
        CRegistry entry;
        if (registered && entry.OpenKey(top, location.name.c_str(), false))
            entry.QueryValue("Data", location.folder);
        if (location.folder.empty() && haveSettings)
            querySetting(settings, Setting::ArchivePath, location.folder, band);
        if (location.folder.empty())
            location.folder = programContext().dataRoot + "/archive/rating" + std::to_string(band);
        locations.push_back(location);
    }
    return locations;
}
