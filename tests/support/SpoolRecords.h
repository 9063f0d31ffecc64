// Reads the spools that account state records name, as a later session
// would find them: "<id>" is the file "msg<id>.msg" of the state folder,
// "<id>:<offset>:<length>" that many bytes of "hdr<id>.pack".
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>

// The text field names in state, or nothing when the file is missing or
// ends before the slice does.
inline std::optional<std::string> spoolText(const std::string& state, const std::string& field)
{
    const size_t colon = field.find(':');
    std::string path;
    long offset = 0;
    long length = -1;
    if (colon == std::string::npos) {
        path = state + "/msg" + field + ".msg";
    } else {
        const size_t second = field.find(':', colon + 1);
        if (second == std::string::npos)
            return std::nullopt;
        path = state + "/hdr" + field.substr(0, colon) + ".pack";
        offset = std::stol(field.substr(colon + 1, second - colon - 1));
        length = std::stol(field.substr(second + 1));
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char block[65536];
    for (long at = offset; length < 0 || static_cast<long>(text.size()) < length;) {
        size_t want = sizeof block;
        if (length >= 0)
            want = std::min(want, static_cast<size_t>(length) - text.size());
        const ssize_t n = ::pread(fd, block, want, at);
        if (n <= 0)
            break;
        text.append(block, static_cast<size_t>(n));
        at += n;
    }
    ::close(fd);
    if (length >= 0 && static_cast<long>(text.size()) != length)
        return std::nullopt;
    return text;
}

// The file name a field's spool lies in: "msg<id>.msg" or "hdr<id>.pack".
inline std::string spoolFileOf(const std::string& field)
{
    const size_t colon = field.find(':');
    return colon == std::string::npos ? "msg" + field + ".msg" : "hdr" + field.substr(0, colon) + ".pack";
}
