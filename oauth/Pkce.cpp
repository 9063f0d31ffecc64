#include "oauth/Pkce.h"

#include "common/Base64.h"
#include "common/TextUtils.h"

#include <openssl/rand.h>
#include <openssl/sha.h>

#include <string_view>

namespace {

// The common encoder's base64 in the URL alphabet, without padding.
std::string base64url(const unsigned char* bytes, size_t size)
{
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    MimeEncodeStr(reinterpret_cast<const char*>(bytes), out.data(), static_cast<int>(size));
    // Padding, if any, and then the terminating NUL end the text.
    out.resize(out.find_first_of(std::string_view("=\0", 2)));
    for (char& c : out)
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    return out;
}

} // namespace

std::string randomVerifier()
{
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return {};
    return base64url(bytes, sizeof bytes);
}

std::string s256Challenge(const std::string& verifier)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    return base64url(digest, sizeof digest);
}

std::string percentEncoded(const std::string& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::string percentDecoded(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 && hexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}
