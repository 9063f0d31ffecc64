#include "proxy/CMessage.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/CVDateTime.h"
#include "common/MD5.h"
#include "common/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

std::string CMessage::filePath(const std::string& stateFolder) const
{
    if (!spoolId.empty())
        return stateFolder + "/msg" + spoolId + ".msg";
    return path;
}

long CMessage::sizeQuery(const std::string& stateFolder) const
{
    if (size >= 0)
        return size;
    const std::string file = filePath(stateFolder);
    struct stat st {};
    if (file.empty() || ::stat(file.c_str(), &st) != 0)
        return 0;
    return static_cast<long>(st.st_size);
}

bool CMessage::load(const std::string& id, const std::string& stateFolder)
{
    spoolId = id;
    const std::string file = stateFolder + "/msg" + id + ".msg";
    if (!readText(file)) {
        CEventLog().LogEvent(1, "Unable to open %s", file.c_str());
        return false;
    }
    return true;
}

bool CMessage::readText(const std::string& file)
{
    textLength = -1;
    textTail.clear();
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return false;
    // The first CR LF "." CR LF, found byte by byte across blocks (the
    // pattern's failure links: after "\r\n.\r" a mismatch can still be the
    // "\r" of a new start).
    static const char kEnd[] = "\r\n.\r\n";
    static const int kFail[] = {0, 0, 0, 1, 2};
    std::vector<char> block(65536);
    long offset = 0;
    int matched = 0;
    char first[3] = {0, 0, 0};
    char last[2] = {0, 0};
    for (;;) {
        const ssize_t n = ::read(fd.get(), block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            const char c = block[static_cast<size_t>(i)];
            const long at = offset + i;
            if (at < 3)
                first[at] = c;
            last[0] = last[1];
            last[1] = c;
            while (matched > 0 && c != kEnd[matched])
                matched = kFail[matched - 1];
            if (c == kEnd[matched] && ++matched == 5) {
                textLength = at + 1;
                break;
            }
        }
        if (textLength >= 0)
            break;
        offset += n;
    }
    if (textLength < 0) {
        if (offset >= 3 && first[0] == '.' && first[1] == '\r' && first[2] == '\n') {
            textLength = 3;
        } else {
            textLength = offset;
            textTail = (offset >= 2 && last[0] == '\r' && last[1] == '\n') ? ".\r\n" : kEnd;
        }
    }
    path = file;
    size = textLength + static_cast<long>(textTail.size());
    return true;
}

std::string CMessage::generatedUid()
{
    CVDateTime now;
    char uid[40];
    std::snprintf(uid, sizeof uid, "QF%08x%04d%02d%02d%02d%02d%02d", static_cast<unsigned>(GetNextId()),
                  now.year(), now.month(), now.day(), now.hour(), now.minute(), now.second());
    return uid;
}

bool CMessage::isValidUid(const std::string& id)
{
    if (id.empty() || id.size() > kMaxUid)
        return false;
    for (unsigned char c : id)
        if (c < 0x21 || c > 0x7E)
            return false;
    return true;
}

std::string CMessage::substituteUid(const std::string& serverId, int occurrence)
{
    const std::string text = serverId + "\n" + std::to_string(occurrence);
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const unsigned char*>(text.data()),
              static_cast<unsigned>(text.size()));
    unsigned char digest[16];
    MD5Final(digest, &context);
    std::string uid = "QFX";
    char hex[3];
    for (unsigned char byte : digest) {
        std::snprintf(hex, sizeof hex, "%02x", byte);
        uid += hex;
    }
    return uid;
}
