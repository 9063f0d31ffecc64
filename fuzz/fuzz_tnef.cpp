// The input as an MS TNEF attachment (winmail.dat, base64) of a multipart
// message, through the virus scanner's entity walk (general compatibility
// engine: every readable file is clean, so only an unreadable block is
// replaced).  Traps when the walk does not finish; when a clean message
// does not come out byte for byte; when a replaced one lacks the
// engine-error notice or the input does not begin with the TNEF signature;
// or when any work file other than the kept block is left behind.
#include "FuzzDataRoot.h"
#include "antivirus/MessageWalk.h"
#include "antivirus/VirusScanner.h"

#include "common/Base64.h"
#include "common/ProgramContext.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string g_state;

std::string base64Lines(const std::string& data)
{
    std::string text;
    for (size_t at = 0; at < data.size(); at += 57) {
        const std::string piece = data.substr(at, 57);
        std::string line(4 * ((piece.size() + 2) / 3) + 1, '\0');
        MimeEncodeStr(piece.c_str(), line.data(), static_cast<int>(piece.size()));
        text += line.c_str();
        text += "\r\n";
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_state = makeFuzzDataRoot("qffuzztnef");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static VirusScanner* scanner = [] {
        auto* made = new VirusScanner;
        made->engine = 2;
        return made;
    }();
    const std::string block(reinterpret_cast<const char*>(data), size);
    const std::string message = "Subject: tnef\r\nContent-Type: multipart/mixed; boundary=\"T\"\r\n\r\n"
                                "--T\r\nContent-Type: application/ms-tnef; name=\"winmail.dat\"\r\n"
                                "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(block) +
                                "--T--\r\n.\r\n";
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
    check(walked);
    const std::string result(copy, copySize);
    std::fclose(in);
    std::fclose(out);
    std::free(copy);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(g_state))
        files.push_back(entry.path().filename());
    if (clean) {
        check(result == message);
        check(files.empty());
    } else {
        check(size >= 4 && std::memcmp(data, "\x78\x9F\x3E\x22", 4) == 0);
        check(result.find("internal error " + std::to_string(MessageWalk::kTnefUnreadable) + " during scanning") !=
              std::string::npos);
        // The part's header gives way to the notice, in its place; the
        // block counts as quarantined where it lies.
        const std::string head = message.substr(0, message.find("Content-Type: application/ms-tnef"));
        const std::string tail = "The attachment has been quarantined as \"winmail.dat\".\r\n--T--\r\n.\r\n";
        check(result.compare(0, head.size(), head) == 0);
        check(result.size() >= tail.size() && result.compare(result.size() - tail.size(), tail.size(), tail) == 0);
        // The block stays as the engine's quarantined file, beside the run
        // report; no component's work file remains.
        for (const std::string& name : files)
            check(name == "winmail.dat" || name == "infection.txt");
    }
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(g_state, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    return 0;
}
