#include "store/StagingFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>

namespace {

constexpr char kStage[] = "QFSTAGE ";
constexpr char kMerge[] = "QFMERGE ";

// A record or trailer line is read in one piece of at most this many
// bytes: the longest is a QFSTAGE line with the longest account.
constexpr size_t kMaxLine = StagingFile::kMaxAccount + 16;

enum class Line { Read, None, Error };

// The line at offset (without its CR LF) into line; None when there is no
// whole line of at most kMaxLine bytes there.
Line lineAt(int fd, long offset, long fileSize, std::string& line)
{
    char buf[kMaxLine + 2];
    const long want = std::min<long>(static_cast<long>(sizeof buf), fileSize - offset);
    if (want <= 0)
        return Line::None;
    ssize_t got;
    do {
        got = ::pread(fd, buf, static_cast<size_t>(want), offset);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return Line::Error;
    const std::string_view text(buf, static_cast<size_t>(got));
    const size_t end = text.find("\r\n");
    if (end == std::string_view::npos)
        return Line::None;
    line.assign(text.substr(0, end));
    return Line::Read;
}

bool isKey(const std::string& key)
{
    if (key.empty() || key.size() > StagingFile::kMaxKey)
        return false;
    for (char c : key)
        if (c < 0x21 || c > 0x7E)
            return false;
    return true;
}

// "+<10 digits> <key>", or 'D' in place of the '+'.
bool parseRecord(const std::string& line, StagedCopy& copy)
{
    constexpr size_t digits = StagingFile::kLengthDigits;
    if (line.size() < digits + 3 || (line[0] != '+' && line[0] != 'D') || line[digits + 1] != ' ')
        return false;
    copy.dropped = line[0] == 'D';
    long length = 0;
    for (size_t i = 1; i <= digits; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return false;
        length = length * 10 + (line[i] - '0');
    }
    copy.key = line.substr(digits + 2);
    copy.length = length;
    return isKey(copy.key);
}

bool parseOffset(const std::string& text, long& value)
{
    if (text.empty() || text.size() > 18)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

namespace StagingFile {

std::string accountField(const std::string& account)
{
    std::string field = account.substr(0, kMaxAccount);
    for (char& c : field)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '_';
    return field;
}

std::string headerLine(const std::string& account)
{
    return kStage + accountField(account) + "\r\n";
}

std::string pendingRecordLine(const std::string& key)
{
    return std::string(kLengthDigits + 1, '?') + " " + (isKey(key) ? key : "-") + "\r\n";
}

std::string lengthField(long length)
{
    char field[kLengthDigits + 2];
    std::snprintf(field, sizeof field, "+%010ld", length);
    return field;
}

std::string mergeLine(long offset)
{
    return kMerge + std::to_string(offset) + "\r\n";
}

bool read(int fd, StagingContents& contents)
{
    contents = StagingContents();
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    const long size = static_cast<long>(st.st_size);
    std::string line;
    const Line first = lineAt(fd, 0, size, line);
    if (first == Line::Error)
        return false;
    if (first == Line::None || line.compare(0, sizeof kStage - 1, kStage) != 0) {
        contents.end = size;
        return true;   // no records: taken whole
    }
    contents.recorded = true;
    contents.account = line.substr(sizeof kStage - 1);
    long at = static_cast<long>(line.size()) + 2;
    contents.end = at;
    for (Line next; (next = lineAt(fd, at, size, line)) != Line::None;) {
        if (next == Line::Error)
            return false;
        if (line.compare(0, sizeof kMerge - 1, kMerge) == 0) {
            long offset = 0;
            if (parseOffset(line.substr(sizeof kMerge - 1), offset))
                contents.mergeAt = offset;
            break;
        }
        StagedCopy copy;
        if (!parseRecord(line, copy))
            break;
        copy.lengthAt = at;
        copy.offset = at + static_cast<long>(line.size()) + 2;
        if (copy.length > size - copy.offset)
            break;   // cut short
        at = copy.offset + copy.length;
        contents.copies.push_back(copy);
        contents.end = at;
    }
    return true;
}

} // namespace StagingFile
