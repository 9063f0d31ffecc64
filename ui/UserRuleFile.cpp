#include "ui/UserRuleFile.h"

#include "common/AtomicFile.h"
#include "common/UniqueFd.h"
#include "filter/RuleStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

// Another editor holds a rule file only while it reads or rewrites it:
// 40 tries 50 ms apart give it two seconds.
constexpr int kLockAttempts = 40;
constexpr auto kLockPause = std::chrono::milliseconds(50);

// The file at path, open and locked (shared or exclusive).  user.sfr is
// replaced by rename, so a lock won on a file that has meanwhile been
// replaced is given up and the new file locked instead.  create: an
// empty file is made when none is there.
UniqueFd openLocked(const std::string& path, bool exclusive, bool create)
{
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | (create ? O_CREAT : 0), 0644));
        if (!fd)
            return {};
        if (::flock(fd.get(), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK)
                return {};
            std::this_thread::sleep_for(kLockPause);
            continue;
        }
        struct stat held {}, named {};
        if (::fstat(fd.get(), &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return fd;
    }
    return {};
}

bool readAll(int fd, std::string& text)
{
    text.clear();
    return readToEnd(fd, text, std::string::npos);
}

bool readLocked(const std::string& path, std::string& text)
{
    UniqueFd fd = openLocked(path, false, false);
    return fd && readAll(fd.get(), text);
}

// The lines of text, each with its line end (the last may have none).
std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

bool isRuleNamed(const std::string& line, const std::string& name)
{
    std::string found;
    int rating = 0;
    return readRuleLine(line, found, rating) && found == name;
}

// Where the named rule sits among lines: its "#rule" line and the line
// after its body (its "#endrule" line, or lines.size() when it has none).
struct Span {
    size_t ruleLine = 0;
    size_t endLine = 0;
};

std::optional<Span> findRule(const std::vector<std::string>& lines, const std::string& name)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!isRuleNamed(lines[i], name))
            continue;
        Span span{i, i + 1};
        while (span.endLine < lines.size() && !isEndRuleLine(lines[span.endLine]))
            ++span.endLine;
        return span;
    }
    return std::nullopt;
}

std::string ruleLine(const std::string& name)
{
    return "#rule \"" + encodePercent(name) + "\"";
}

std::string lineEndOf(const std::string& line)
{
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
        return "\r\n";
    return "\n";
}

// text with a line feed at its end unless it is empty or has one.
std::string& endLine(std::string& text)
{
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    return text;
}

} // namespace

UserRuleFile::UserRuleFile(std::string rulesFolder) : m_folder(std::move(rulesFolder)) {}

bool UserRuleFile::isValidName(const std::string& name)
{
    return !name.empty() && name.find_first_of("\r\n") == std::string::npos;
}

std::vector<UserRuleFile::Rule> UserRuleFile::listRules(const std::string& path)
{
    std::vector<Rule> rules;
    std::string text;
    if (!readLocked(path, text))
        return rules;
    for (const std::string& line : splitLines(text)) {
        Rule rule;
        if (readRuleLine(line, rule.name, rule.rating) && !rule.name.empty())
            rules.push_back(std::move(rule));
    }
    return rules;
}

std::optional<std::string> UserRuleFile::readBody(const std::string& path, const std::string& name)
{
    std::string text;
    if (!readLocked(path, text))
        return std::nullopt;
    const std::vector<std::string> lines = splitLines(text);
    const std::optional<Span> span = findRule(lines, name);
    if (!span)
        return std::nullopt;
    std::string body;
    for (size_t i = span->ruleLine + 1; i < span->endLine; ++i) {
        std::string line = lines[i];
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
            line.erase(line.size() - 2, 1);
        body += endLine(line);
    }
    return body;
}

template <typename Edit>
bool UserRuleFile::change(Edit edit)
{
    const std::string path = userPath();
    UniqueFd held = openLocked(path, true, true);
    std::string old;
    if (!held || !readAll(held.get(), old))
        return false;
    std::string next;
    if (!edit(old, next))
        return false;

    struct stat st {};
    const mode_t mode = ::fstat(held.get(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    // O_NOFOLLOW: a link planted under the temporary name must not send
    // the new rules somewhere else.
    const std::string temp = tempPath();
    UniqueFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!out)
        return false;
    const bool written = writeFully(out.get(), next.data(), next.size()) && ::fsync(out.get()) == 0 &&
                         ::close(out.release()) == 0;
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    syncParentFolder(path);
    return true;
}

bool UserRuleFile::append(const std::string& name)
{
    if (!isValidName(name))
        return false;
    return change([&](const std::string& old, std::string& next) {
        next = old + "\n" + ruleLine(name) + "\n\n#endrule\n";
        return true;
    });
}

bool UserRuleFile::copy(bool fromSystem, const std::string& sourceName, const std::string& newName)
{
    if (!isValidName(newName))
        return false;
    return change([&](const std::string& old, std::string& next) {
        // user.sfr is already held; its text is old.
        std::string sourceText;
        if (fromSystem && !readLocked(systemPath(), sourceText))
            return false;
        const std::vector<std::string> lines = splitLines(fromSystem ? sourceText : old);
        const std::optional<Span> span = findRule(lines, sourceName);
        if (!span)
            return false;
        next = old;
        endLine(next) += ruleLine(newName) + lineEndOf(lines[span->ruleLine]);
        for (size_t i = span->ruleLine + 1; i < span->endLine; ++i)
            next += lines[i];
        if (span->endLine < lines.size())
            endLine(next) += lines[span->endLine];
        else
            endLine(next) += "#endrule\n";
        endLine(next);
        return true;
    });
}

bool UserRuleFile::remove(const std::string& name)
{
    return change([&](const std::string& old, std::string& next) {
        const std::vector<std::string> lines = splitLines(old);
        const std::optional<Span> span = findRule(lines, name);
        if (!span)
            return false;
        next.clear();
        for (size_t i = 0; i < lines.size(); ++i)
            if (i < span->ruleLine || i > span->endLine)
                next += lines[i];
        return true;
    });
}

bool UserRuleFile::rename(const std::string& oldName, const std::string& newName)
{
    if (!isValidName(newName))
        return false;
    return change([&](const std::string& old, std::string& next) {
        std::vector<std::string> lines = splitLines(old);
        const std::optional<Span> span = findRule(lines, oldName);
        if (!span)
            return false;
        std::string& line = lines[span->ruleLine];
        line = ruleLine(newName) + lineEndOf(line);
        next.clear();
        for (const std::string& each : lines)
            next += each;
        return true;
    });
}

bool UserRuleFile::saveBody(const std::string& name, const std::string& body)
{
    return change([&](const std::string& old, std::string& next) {
        const std::vector<std::string> lines = splitLines(old);
        const std::optional<Span> span = findRule(lines, name);
        if (!span)
            return false;
        next.clear();
        for (size_t i = 0; i <= span->ruleLine; ++i)
            next += lines[i];
        endLine(next) += body;
        if (!body.empty() && body.back() != '\n')
            next += "\r\n";
        if (span->endLine < lines.size()) {
            for (size_t i = span->endLine; i < lines.size(); ++i)
                next += lines[i];
        } else {
            next += "#endrule\n";
        }
        return true;
    });
}
