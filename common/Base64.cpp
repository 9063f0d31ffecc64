#include "common/Base64.h"

#include <array>
#include <cstring>
#include <string>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<signed char, 256> makeDecodeTable()
{
    std::array<signed char, 256> table{};
    for (auto& v : table)
        v = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    return table;
}

constexpr std::array<signed char, 256> kDecode = makeDecodeTable();

inline bool inAlphabet(char c)
{
    return kDecode[static_cast<unsigned char>(c)] >= 0;
}

// Encodes 1 to 3 bytes into 4 characters.
void encodeGroup(const unsigned char* in, size_t n, char* out)
{
    const unsigned v = (unsigned(in[0]) << 16) | (n > 1 ? unsigned(in[1]) << 8 : 0) |
                       (n > 2 ? unsigned(in[2]) : 0);
    out[0] = kAlphabet[(v >> 18) & 63];
    out[1] = kAlphabet[(v >> 12) & 63];
    out[2] = n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out[3] = n > 2 ? kAlphabet[v & 63] : '=';
}

} // namespace

int MimeEncode(FILE* out, const char* path)
{
    if (out == nullptr || path == nullptr)
        return 0;
    FILE* in = std::fopen(path, "rb");
    if (in == nullptr)
        return 0;
    unsigned char block[48];
    char line[66];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, in)) > 0) {
        size_t used = 0;
        for (size_t i = 0; i < n; i += 3, used += 4)
            encodeGroup(block + i, n - i < 3 ? n - i : 3, line + used);
        line[used++] = '\n';
        std::fwrite(line, 1, used, out);
    }
    std::fclose(in);
    return 1;
}

void MimeEncodeStr(const char* in, char* out, int length)
{
    if (out == nullptr)
        return;
    const size_t n = length < 0 ? (in ? std::strlen(in) : 0) : static_cast<size_t>(length);
    auto bytes = reinterpret_cast<const unsigned char*>(in);
    size_t used = 0;
    for (size_t i = 0; i < n; i += 3, used += 4)
        encodeGroup(bytes + i, n - i < 3 ? n - i : 3, out + used);
    out[used] = '\0';
}

int MimeDecodeLine(const char* in, char* out)
{
    if (out == nullptr)
        return 0;
    int written = 0;
    unsigned v = 0;
    int have = 0;
    for (const char* p = in ? in : ""; *p; ++p) {
        const signed char d = kDecode[static_cast<unsigned char>(*p)];
        if (d < 0)
            continue;
        v = (v << 6) | unsigned(d);
        if (++have == 4) {
            out[written++] = static_cast<char>(v >> 16);
            out[written++] = static_cast<char>(v >> 8);
            out[written++] = static_cast<char>(v);
            v = 0;
            have = 0;
        }
    }
    if (have == 2) {
        out[written++] = static_cast<char>(v >> 4);
    } else if (have == 3) {
        out[written++] = static_cast<char>(v >> 10);
        out[written++] = static_cast<char>(v >> 2);
    }
    out[written] = '\0';
    return written;
}

int MimeDecodeLineEx(const char* in, char* out, char* carry)
{
    if (out == nullptr || carry == nullptr)
        return 0;
    std::string kept;
    for (const char* p = carry; *p; ++p) {
        if (inAlphabet(*p))
            kept += *p;
    }
    for (const char* p = in ? in : ""; *p; ++p) {
        if (inAlphabet(*p))
            kept += *p;
    }
    const size_t whole = kept.size() - kept.size() % 4;
    std::memcpy(carry, kept.data() + whole, kept.size() - whole);
    carry[kept.size() - whole] = '\0';
    kept.resize(whole);
    return MimeDecodeLine(kept.c_str(), out);
}
