// Writes the input to a memory file and cuts it into the learning
// classifier's tokens.  Traps when a token breaks the tokenizer's promises
// (empty, or longer than the longest prefix and host name together).
#include "analysis/MessageTokens.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = ::memfd_create("message", 0);
    if (fd < 0)
        return 0;
    FILE* file = ::fdopen(fd, "w+b");
    if (file == nullptr) {
        ::close(fd);
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fflush(file);
    TokenSet tokens;
    tokenizeMessage(file, tokens);
    for (const std::string& token : tokens)
        if (token.empty() || token.size() > 12 + 253)
            __builtin_trap();
    std::fclose(file);
    return 0;
}
