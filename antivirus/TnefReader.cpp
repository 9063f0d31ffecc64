#include "antivirus/TnefReader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned char kSignature[4] = {0x78, 0x9F, 0x3E, 0x22};
constexpr uint32_t kRendering = 0x00069002;
constexpr uint32_t kData = 0x0006800F;
constexpr uint32_t kTitle = 0x00018010;

} // namespace

bool TnefReader::readLe(size_t bytes, uint32_t& value)
{
    unsigned char data[4];
    if (std::fread(data, 1, bytes, m_in) != bytes)
        return false;
    value = 0;
    for (size_t i = bytes; i-- > 0;)
        value = (value << 8) | data[i];
    return true;
}

bool TnefReader::copyData(const TnefAttachment& attachment, FILE* out)
{
    const long back = std::ftell(m_in);
    std::fseek(m_in, attachment.dataAt, SEEK_SET);
    bool whole = true;
    char piece[4096];
    for (uint32_t left = attachment.dataLength; left > 0;) {
        const size_t want = std::min<size_t>(left, sizeof piece);
        if (std::fread(piece, 1, want, m_in) != want) {
            whole = false;
            break;
        }
        std::fwrite(piece, 1, want, out);
        left -= static_cast<uint32_t>(want);
    }
    std::fseek(m_in, back, SEEK_SET);
    return whole;
}

TnefRead TnefReader::read(const std::function<bool(const TnefAttachment&)>& attachment)
{
    unsigned char head[4];
    if (std::fread(head, 1, 4, m_in) != 4 || std::memcmp(head, kSignature, 4) != 0)
        return TnefRead::NotTnef;
    std::fseek(m_in, 0, SEEK_END);
    const long size = std::ftell(m_in);
    std::fseek(m_in, 4, SEEK_SET);

    TnefAttachment current;
    bool pending = false;
    bool unreadable = false;
    auto give = [&] {
        pending = false;
        if (!attachment(current))
            unreadable = true;
    };
    uint32_t ignored = 0;
    if (!readLe(2, ignored))
        unreadable = true;   // the key
    while (!unreadable) {
        uint32_t level = 0, id = 0, length = 0;
        if (!readLe(1, level) || level == 0)
            break;
        if (!readLe(4, id)) {
            unreadable = true;
            break;
        }
        if (id == 0)
            continue;
        if (!readLe(4, length)) {
            unreadable = true;
            break;
        }
        const long at = std::ftell(m_in);
        if (at < 0 || static_cast<uint64_t>(length) + 2 > static_cast<uint64_t>(size - at)) {
            unreadable = true;   // the data and check value run past the end
            break;
        }
        if (id == kRendering) {
            if (pending)
                give();   // data without a title is judged all the same
            current.titled = false;
        } else if (id == kData) {
            if (pending)
                give();
            current.dataAt = at;
            current.dataLength = length;
            pending = true;
            if (current.titled)
                give();
        } else if (id == kTitle) {
            std::string text(std::min(length, kMaxTitle), '\0');
            if (std::fread(text.data(), 1, text.size(), m_in) != text.size()) {
                unreadable = true;
                break;
            }
            current.title = text.substr(0, text.find('\0'));
            current.titled = true;
            if (pending)
                give();
        }
        if (!unreadable)
            std::fseek(m_in, at + static_cast<long>(length) + 2, SEEK_SET);
    }
    if (pending && !unreadable)
        give();
    return unreadable ? TnefRead::Unreadable : TnefRead::Read;
}
