#include "store/ArchiveEntries.h"

#include "common/AtomicFile.h"
#include "common/HeaderLines.h"
#include "common/MD5.h"
#include "common/UniqueFd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <regex>

namespace {

// A day file of the proxy's is far smaller; a larger one is not read whole.
constexpr off_t kMaxDayFile = 1024L * 1024 * 1024;

bool readOpen(int fd, const std::string& path, std::string& text, std::string& error);

bool readWhole(const std::string& path, std::string& text, std::string& error)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return readOpen(fd.get(), path, text, error);
}

bool readOpen(int fd, const std::string& path, std::string& text, std::string& error)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode) || info.st_size > kMaxDayFile) {
        error = path + ": not a day file of the archive";
        return false;
    }
    // What is there when it is read: a copy being appended is cut off
    // where the reading ended, and splitArchiveAt marks it incomplete.
    text.clear();
    text.reserve(static_cast<size_t>(info.st_size));
    if (!readToEnd(fd, text, static_cast<size_t>(kMaxDayFile))) {
        error = path + ": " + (text.size() > static_cast<size_t>(kMaxDayFile) ? "not a day file of the archive"
                                                                              : std::strerror(errno));
        return false;
    }
    return true;
}

bool startsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t length = std::strlen(prefix);
    return text.size() >= length && ::strncasecmp(text.c_str(), prefix, length) == 0;
}

std::string fieldValue(const std::string& line, size_t nameLength)
{
    std::string value = line.substr(nameLength);
    const size_t first = value.find_first_not_of(" \t");
    value = first == std::string::npos ? std::string() : value.substr(first);
    return value.substr(0, kMaxField);
}

std::string hexDigest(const std::string& text)
{
    MD5_CTX context;
    MD5Init(&context);
    for (size_t at = 0; at < text.size(); at += 1u << 20) {
        const size_t piece = std::min<size_t>(text.size() - at, 1u << 20);
        MD5Update(&context, reinterpret_cast<const unsigned char*>(text.data() + at), static_cast<unsigned>(piece));
    }
    unsigned char digest[16];
    MD5Final(digest, &context);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    return hex;
}

ArchiveEntry entryOf(const std::string& dayFile, const ArchivePlace& place, const std::string& message)
{
    ArchiveEntry entry;
    entry.dayFile = dayFile;
    entry.place = place;
    entry.digest = hexDigest(message);
    for (const std::string& line : unfoldedHeaderLines(message, 4 * kMaxField, 10000)) {
        if (entry.from.empty() && startsWithNoCase(line, "From:"))
            entry.from = fieldValue(line, 5);
        else if (entry.subject.empty() && startsWithNoCase(line, "Subject:"))
            entry.subject = fieldValue(line, 8);
        else if (entry.date.empty() && startsWithNoCase(line, "Date:"))
            entry.date = fieldValue(line, 5);
        else if (startsWithNoCase(line, "X-Quillfence-Pro:"))
            entry.decisions.push_back(fieldValue(line, 17));
    }
    for (const std::string& decision : entry.decisions) {
        const size_t at = decision.rfind("rating total ");
        if (at == std::string::npos)
            continue;
        char* end = nullptr;
        const double rating = std::strtod(decision.c_str() + at + 13, &end);
        if (end != decision.c_str() + at + 13) {
            entry.rated = true;
            entry.rating = rating;
        }
    }
    return entry;
}

// The macro as a pattern of the marked subject: its text literal, each
// "%%NAME%%" any run, "%%SUBJECT%%" the subject itself (once).
bool unmarkedSubject(const std::string& subject, const std::string& macro, std::string& original)
{
    static const std::string kSubject = "%%SUBJECT%%";
    const size_t at = macro.find(kSubject);
    if (at == std::string::npos || macro.find(kSubject, at + 1) != std::string::npos || subject.size() > 4096)
        return false;
    auto pattern = [](const std::string& text) {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 2, "%%") == 0) {
                const size_t close = text.find("%%", i + 2);
                if (close != std::string::npos) {
                    out += ".*?";
                    i = close + 1;
                    continue;
                }
            }
            if (std::strchr(".^$|()[]{}*+?\\", text[i]) != nullptr)
                out += '\\';
            out += text[i];
        }
        return out;
    };
    try {
        const std::regex marked("^" + pattern(macro.substr(0, at)) + "([\\s\\S]*)" +
                                pattern(macro.substr(at + kSubject.size())) + "$");
        std::smatch match;
        if (!std::regex_match(subject, match, marked))
            return false;
        original = match[1].str();
        return true;
    } catch (const std::regex_error&) {
        return false;
    }
}

} // namespace

bool readArchiveEntries(const std::string& dayFile, std::vector<ArchiveEntry>& entries, std::string& error)
{
    std::string text;
    if (!readWhole(dayFile, text, error))
        return false;
    splitArchiveAt(text, [&](const ArchivePlace& place, const std::string& message) {
        if (place.complete)
            entries.push_back(entryOf(dayFile, place, message));
    });
    return true;
}

namespace {

// The message at entry's place in day, when a whole one is there.
bool messageAt(const ArchiveEntry& entry, const std::string& day, std::string& text, std::string& error)
{
    if (entry.place.offset + entry.place.length > day.size()) {
        error = entry.dayFile + " no longer holds this message";
        return false;
    }
    bool found = false;
    splitArchiveAt(day.substr(entry.place.offset, entry.place.length),
                   [&](const ArchivePlace& place, const std::string& message) {
                       if (place.offset == 0 && place.complete && place.length == entry.place.length) {
                           text = message;
                           found = true;
                       }
                   });
    if (!found)
        error = entry.dayFile + " no longer holds this message whole";
    return found;
}

} // namespace

bool readArchiveText(const ArchiveEntry& entry, std::string& text, std::string& error)
{
    std::string day;
    return readWhole(entry.dayFile, day, error) && messageAt(entry, day, text, error);
}

UniqueFd openLockedDayFile(const std::string& path)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        UniqueFd day(::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
        if (!day)
            return day;
        int locked;
        while ((locked = ::flock(day.get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0)
            return UniqueFd();
        // Replaced while this waited: the file at the path now is the one.
        struct stat opened {}, named {};
        if (::fstat(day.get(), &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
            return day;
    }
    return UniqueFd();
}

bool deleteArchiveEntry(const ArchiveEntry& entry, std::string& error)
{
    UniqueFd day(::open(entry.dayFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (!day) {
        error = entry.dayFile + ": " + std::strerror(errno);
        return false;
    }
    int locked;
    while ((locked = ::flock(day.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    struct stat opened {}, named {};
    if (locked != 0 || ::fstat(day.get(), &opened) != 0 || ::stat(entry.dayFile.c_str(), &named) != 0 ||
        opened.st_ino != named.st_ino || opened.st_dev != named.st_dev) {
        error = entry.dayFile + " changed meanwhile: look again";
        return false;
    }
    std::string text, message;
    if (!readOpen(day.get(), entry.dayFile, text, error) || !messageAt(entry, text, message, error))
        return false;
    // The day file anew, in the old one's place: whole, or not at all.
    AtomicFile replacement(entry.dayFile, opened.st_mode & 0777);
    if (!replacement.isOpen() || !replacement.write(text.data(), entry.place.offset) ||
        !replacement.write(text.data() + entry.place.offset + entry.place.length,
                           text.size() - entry.place.offset - entry.place.length) ||
        !replacement.commit()) {
        error = entry.dayFile + ": could not be written again";
        return false;
    }
    return true;
}

std::string restoredText(const std::string& archived, const std::string& subjectMacro)
{
    std::string out;
    size_t at = 0;
    bool dropping = false;
    while (at < archived.size()) {
        size_t end = archived.find('\n', at);
        end = end == std::string::npos ? archived.size() : end + 1;
        const std::string line = archived.substr(at, end - at);
        at = end;
        if (line == "\r\n" || line == "\n") {
            out += line;
            break;   // the body stays as it is
        }
        if (dropping && (line[0] == ' ' || line[0] == '\t'))
            continue;
        dropping = startsWithNoCase(line, "X-Quillfence-Pro:");
        if (dropping)
            continue;
        std::string original;
        if (startsWithNoCase(line, "Subject:")) {
            const size_t endOfText = line.find_last_not_of("\r\n") + 1;
            const std::string value = line.substr(8, endOfText - 8);
            const std::string lead = value.substr(0, value.find_first_not_of(" \t"));
            if (unmarkedSubject(value.substr(lead.size()), subjectMacro, original)) {
                out += "Subject:" + lead + original + line.substr(endOfText);
                continue;
            }
        }
        out += line;
    }
    out.append(archived, at, std::string::npos);
    return out;
}

bool restoreToPending(const std::string& pendingFolder, const std::string& text, std::string& path,
                      std::string& error)
{
    static std::atomic<unsigned> serial{0};
    if (::mkdir(pendingFolder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = pendingFolder + ": " + std::strerror(errno);
        return false;
    }
    const long long now = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = pendingFolder + "/restored-" + std::to_string(now) + "-" + std::to_string(::getpid()) + "-" +
               std::to_string(serial++) + ".msg";
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0)
            continue;
        AtomicFile file(path, 0600);
        if (file.isOpen() && file.write(text) && file.commit())
            return true;
        error = path + ": could not be written";
        return false;
    }
    error = pendingFolder + ": no free name for the restored message";
    return false;
}
