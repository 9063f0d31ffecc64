#include "store/SpoolField.h"

#include "common/CRegistry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

namespace {

constexpr int kNameAttempts = 64;

bool hexId(const std::string& text)
{
    if (text.empty() || text.size() > 8)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// 1 to 15 decimal digits, nothing else.
bool decimal(const std::string& text, long& value)
{
    if (text.empty() || text.size() > 15)
        return false;
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

std::string SpoolField::fileName() const
{
    return inPack() ? packFileName(id) : spoolFileName(id);
}

std::string SpoolField::text() const
{
    if (!inPack())
        return id;
    return id + ":" + std::to_string(offset) + ":" + std::to_string(length);
}

bool SpoolField::parse(const std::string& field, SpoolField& out)
{
    const size_t first = field.find(':');
    if (first == std::string::npos) {
        if (!hexId(field))
            return false;
        out = SpoolField{field, 0, -1};
        return true;
    }
    const size_t second = field.find(':', first + 1);
    if (second == std::string::npos)
        return false;
    SpoolField parsed;
    parsed.id = field.substr(0, first);
    if (!hexId(parsed.id) || !decimal(field.substr(first + 1, second - first - 1), parsed.offset) ||
        !decimal(field.substr(second + 1), parsed.length) || parsed.length < 3 || parsed.length > kMaxSlice)
        return false;
    out = parsed;
    return true;
}

std::string createFreshFile(const std::string& folder, std::string (*nameOf)(const std::string& id),
                            UniqueFd& file)
{
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        char id[16];
        std::snprintf(id, sizeof id, "%05x", static_cast<unsigned>(GetNextId()));
        const std::string path = folder + "/" + nameOf(id);
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd) {
            file = std::move(fd);
            return id;
        }
        if (errno != EEXIST)
            break;
    }
    return {};
}
