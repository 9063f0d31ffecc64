// Walks the input as a spooled message through the virus scanner's entity
// walk (general compatibility engine: every readable attachment is clean).
// Traps when the walk does not finish, or when a clean message without NUL
// bytes does not come out byte for byte as it went in.
#include "FuzzDataRoot.h"
#include "antivirus/MessageWalk.h"
#include "antivirus/VirusScanner.h"

#include "common/ProgramContext.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

std::string g_state;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_state = makeFuzzDataRoot("qffuzzwalk");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static VirusScanner* scanner = [] {
        auto* made = new VirusScanner;
        made->engine = 2;
        return made;
    }();
    FILE* in = ::fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (size == 0 || in == nullptr) {
        if (in)
            std::fclose(in);
        return 0;
    }
    char* copy = nullptr;
    size_t copySize = 0;
    FILE* out = ::open_memstream(&copy, &copySize);
    {
        MessageWalk walk(*scanner, in, out, g_state + "/fuzz.msg", g_state);
        const bool walked = walk.run();
        std::fflush(out);
        if (walked && walk.clean() && std::memchr(data, '\0', size) == nullptr)
            check(copySize == size && std::memcmp(copy, data, size) == 0);
    }
    std::fclose(in);
    std::fclose(out);
    std::free(copy);
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(g_state, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    return 0;
}
