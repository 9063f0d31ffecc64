// BinHex 4.0 blocks in a text part, through the virus scanner's entity walk
// (general compatibility engine: every readable file is clean).  The first
// input byte picks the form of the rest:
//   even: the text that follows the marker line, as it stands;
//   odd:  a decoded BinHex stream (header, data fork, anything after),
//         encoded here without run-length sequences.
// Traps when the walk does not finish, when the clean message (without NUL
// bytes) does not come out byte for byte, or, for an encoded stream, when
// the work file left behind is not exactly the header's data fork under the
// cleaned name (or a work file exists though the header is incomplete).
#include "FuzzDataRoot.h"
#include "antivirus/MessageWalk.h"
#include "antivirus/VirusScanner.h"

#include "common/ProgramContext.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string g_state;

std::string encode(const std::string& stream)
{
    std::string packed;
    for (char c : stream) {
        packed += c;
        if (static_cast<unsigned char>(c) == 0x90)
            packed += '\0';   // the byte itself, not a run
    }
    static const char alphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
    std::string chars = ":";
    for (size_t at = 0; at < packed.size(); at += 3) {
        unsigned bits = 0;
        const size_t n = std::min<size_t>(3, packed.size() - at);
        for (size_t i = 0; i < 3; ++i)
            bits = (bits << 8) | (i < n ? static_cast<unsigned char>(packed[at + i]) : 0u);
        for (size_t i = 0; i < n + 1; ++i)
            chars += alphabet[(bits >> (18 - 6 * i)) & 63];
    }
    chars += ":";
    std::string text = "\r\n";
    for (size_t at = 0; at < chars.size(); at += 64)
        text += chars.substr(at, 64) + "\r\n";
    return text;
}

std::vector<std::string> workFiles()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(g_state))
        names.push_back(entry.path().filename());
    return names;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_state = makeFuzzDataRoot("qffuzzbinhex");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static VirusScanner* scanner = [] {
        auto* made = new VirusScanner;
        made->engine = 2;
        made->leaveWorkfile = true;   // the data fork stays to be compared
        return made;
    }();
    if (size == 0)
        return 0;
    const bool encoded = (data[0] & 1) != 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string message = "Subject: mac\r\nContent-Type: text/plain\r\n\r\nbefore\r\n"
                                "(This file must be converted with BinHex 4.0)\r\n" +
                                (encoded ? encode(rest) : rest) + (encoded ? "after\r\n.\r\n" : "");
    FILE* in = ::fmemopen(const_cast<char*>(message.data()), message.size(), "rb");
    check(in != nullptr);
    char* copy = nullptr;
    size_t copySize = 0;
    FILE* out = ::open_memstream(&copy, &copySize);
    bool walked = false, clean = false;
    {
        MessageWalk walk(*scanner, in, out, g_state + "/fuzz.msg", g_state);
        walked = walk.run();
        std::fflush(out);
        clean = walk.clean();
    }
    check(walked && clean);   // every readable file is clean here
    if (message.find('\0') == std::string::npos)
        check(copySize == message.size() && std::memcmp(copy, message.data(), message.size()) == 0);
    std::fclose(in);
    std::fclose(out);
    std::free(copy);
    if (encoded) {
        const std::vector<std::string> files = workFiles();
        const size_t nameLength = rest.empty() ? 0 : static_cast<unsigned char>(rest[0]);
        if (rest.size() < nameLength + 22) {
            check(files.empty());
        } else {
            const std::string name = rest.substr(1, nameLength);
            uint32_t fork = 0;
            for (size_t i = 0; i < 4; ++i)
                fork = (fork << 8) | static_cast<unsigned char>(rest[nameLength + 12 + i]);
            const std::string expected = rest.substr(nameLength + 22, fork);
            check(files.size() == 1 && files[0] == MessageWalk::cleanName(name));
            std::ifstream file(g_state + "/" + files[0], std::ios::binary);
            std::ostringstream held;
            held << file.rdbuf();
            check(held.str() == expected);
        }
    }
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(g_state, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    return 0;
}
