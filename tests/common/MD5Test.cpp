#include "common/MD5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string hex(const unsigned char digest[16])
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 15];
    }
    return out;
}

std::string md5(const std::string& text, size_t pieces = 1)
{
    MD5_CTX context;
    MD5Init(&context);
    const size_t step = pieces > 1 ? (text.size() + pieces - 1) / pieces : text.size();
    for (size_t pos = 0; pos < text.size(); pos += step) {
        const std::string piece = text.substr(pos, step);
        MD5Update(&context, reinterpret_cast<const unsigned char*>(piece.data()),
                  static_cast<unsigned>(piece.size()));
    }
    unsigned char digest[16];
    MD5Final(digest, &context);
    return hex(digest);
}

TEST(MD5, Rfc1321TestSuite)
{
    const std::pair<std::string, std::string> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {[] {
             std::string eightTimes;
             for (int i = 0; i < 8; ++i)
                 eightTimes += "1234567890";
             return eightTimes;
         }(),
         "57edf4a22be3c955ac49da2e2107b67a"}};
    for (const auto& [text, digest] : suite) {
        EXPECT_EQ(md5(text), digest) << "'" << text << "'";
        // The same digest whatever the pieces fed to MD5Update.
        for (size_t pieces : {2, 3, 7, 64})
            EXPECT_EQ(md5(text, pieces), digest) << "'" << text << "' in " << pieces;
    }
}

TEST(MD5, ApopDigestExample)
{
    // The APOP example of RFC 1939.
    EXPECT_EQ(md5("<1896.697170952@dbc.mtview.ca.us>tanstaaf"), "c4c9334bac560ecc979e58001b3e22fb");
}

TEST(MD5, FinalClearsTheContext)
{
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const unsigned char*>("abc"), 3);
    unsigned char digest[16];
    MD5Final(digest, &context);
    MD5_CTX zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&context, &zero, sizeof zero), 0);
}

TEST(MD5, BlockBoundaries)
{
    // Lengths around the 56- and 64-byte padding boundaries.
    const std::pair<size_t, const char*> known[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},
        {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"}};
    for (auto [length, digest] : known)
        EXPECT_EQ(md5(std::string(length, 'a')), digest) << length << " bytes";
}

} // namespace
