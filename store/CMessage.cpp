#include "store/CMessage.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/CVDateTime.h"
#include "common/MD5.h"
#include "common/UniqueFd.h"
#include "store/SpoolField.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Finds where a spooled text ends: its first CR LF "." CR LF, byte by byte
// across blocks (the pattern's failure links: after "\r\n.\r" a mismatch
// can still be the "\r" of a new start).
class TextEnd
{
public:
    // The next n bytes; true once the end has been found.
    bool feed(const char* data, size_t n)
    {
        static const char kEnd[] = "\r\n.\r\n";
        static const int kFail[] = {0, 0, 0, 1, 2};
        for (size_t i = 0; i < n; ++i) {
            if (m_matched == 0 && m_offset >= 3) {
                // No end can start before the next CR: the bytes up to it
                // only move the last three along.
                const void* cr = std::memchr(data + i, '\r', n - i);
                const size_t next = cr ? static_cast<size_t>(static_cast<const char*>(cr) - data) : n;
                for (size_t k = next - std::min<size_t>(next - i, 3); k < next; ++k)
                    shiftIn(data[k]);
                m_offset += static_cast<long>(next - i);
                i = next;
                if (i == n)
                    break;
            }
            const char c = data[i];
            if (m_offset < 3)
                m_first[m_offset] = c;
            shiftIn(c);
            ++m_offset;
            while (m_matched > 0 && c != kEnd[m_matched])
                m_matched = kFail[m_matched - 1];
            if (c == kEnd[m_matched] && ++m_matched == 5) {
                m_length = m_offset;
                return true;
            }
        }
        return false;
    }

    void shiftIn(char c)
    {
        m_last[0] = m_last[1];
        m_last[1] = m_last[2];
        m_last[2] = c;
    }

    // After the last byte: the text's length, and the tail a text without
    // its end is served with.  A last line of "." alone, unended, is the
    // end: it only needs its line end.
    long finish(std::string& tail) const
    {
        tail.clear();
        if (m_length >= 0)
            return m_length;
        if (m_offset >= 3 && m_first[0] == '.' && m_first[1] == '\r' && m_first[2] == '\n')
            return 3;
        if ((m_offset == 1 && m_last[2] == '.') ||
            (m_offset >= 3 && m_last[0] == '\r' && m_last[1] == '\n' && m_last[2] == '.'))
            tail = "\r\n";
        else if (m_offset >= 2 && m_last[1] == '\r' && m_last[2] == '\n')
            tail = ".\r\n";
        else
            tail = "\r\n.\r\n";
        return m_offset;
    }

private:
    long m_offset = 0;
    long m_length = -1;
    int m_matched = 0;
    char m_first[3] = {0, 0, 0};
    char m_last[3] = {0, 0, 0};
};

} // namespace

std::string CMessage::filePath(const std::string& stateFolder) const
{
    SpoolField field;
    if (SpoolField::parse(spoolId, field))
        return stateFolder + "/" + field.fileName();
    return path;
}

long CMessage::sizeQuery(const std::string& stateFolder) const
{
    if (size >= 0)
        return size;
    SpoolField field;
    if (SpoolField::parse(spoolId, field) && field.inPack())
        return field.length;   // not the whole pack's
    const std::string file = filePath(stateFolder);
    struct stat st {};
    if (file.empty() || ::stat(file.c_str(), &st) != 0)
        return 0;
    return static_cast<long>(st.st_size);
}

bool CMessage::load(const std::string& id, const std::string& stateFolder)
{
    SpoolField field;
    if (!SpoolField::parse(id, field))
        return false;
    const std::string file = stateFolder + "/" + field.fileName();
    // Measured apart, so that a spool turned down changes nothing here.  A
    // slice of a pack is exactly one whole text: anything else is not what
    // the collection put there.
    CMessage measured;
    if (!measured.readText(file, field.offset, field.length) ||
        (field.inPack() && (measured.textLength != field.length || !measured.textTail.empty()))) {
        CEventLog().LogEvent(1, "Unable to open %s", file.c_str());
        return false;
    }
    spoolId = id;
    path = measured.path;
    textOffset = measured.textOffset;
    textLength = measured.textLength;
    textTail = measured.textTail;
    size = measured.size;
    return true;
}

bool CMessage::takePacked(const std::string& id, const std::string& stateFolder)
{
    SpoolField field;
    if (!SpoolField::parse(id, field) || !field.inPack())
        return false;
    spoolId = id;
    path = stateFolder + "/" + field.fileName();
    textOffset = field.offset;
    textLength = field.length;
    textTail.clear();
    size = field.length;
    return true;
}

bool CMessage::readText(const std::string& file, long offset, long limit)
{
    textLength = -1;
    textTail.clear();
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return false;
    TextEnd end;
    std::vector<char> block(65536);
    long done = 0;
    bool found = false;
    while (!found && (limit < 0 || done < limit)) {
        size_t want = block.size();
        if (limit >= 0)
            want = std::min(want, static_cast<size_t>(limit - done));
        const ssize_t n = ::pread(fd.get(), block.data(), want, offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        done += n;
        found = end.feed(block.data(), static_cast<size_t>(n));
    }
    if (limit >= 0 && !found && done < limit)
        return false;   // the file ends before the slice does
    textLength = end.finish(textTail);
    path = file;
    textOffset = offset;
    size = textLength + static_cast<long>(textTail.size());
    return true;
}

std::string CMessage::wholeText(const std::string& bytes)
{
    TextEnd end;
    end.feed(bytes.data(), bytes.size());
    std::string tail;
    const long length = end.finish(tail);
    return bytes.substr(0, static_cast<size_t>(length)) + tail;
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
