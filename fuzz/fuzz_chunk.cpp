// Writes the input to a file as a spooled message and runs every chunk query
// on every chunk: header lookups, macros, structure, decoding, words and body
// matches.  Traps when a result breaks the chunk's own promises (offsets out
// of order, a word over 40 bytes, too many chunks).
#include "analysis/Chunk.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

void queryEverything(Chunk& chunk, FILE* file, int64_t length)
{
    std::string out;
    chunk.getHeader(file, "CONTENT-TYPE", out);
    const int count = chunk.headerCount(file);
    for (int n = 0; n <= count + 1 && n < 64; ++n) {
        chunk.getHeaderName(file, n, out);
        chunk.getHeaderValue(file, n, out);
    }
    chunk.expandMacros(file, "[X] %%SUBJECT%% %%USER1%% 50%% %%", out);
    chunk.matchRawBody(file, "*free*");
    chunk.matchDecodedBody(file, "_*money*");
    chunk.headerWordCount(file, "SUBJECT");
    chunk.bodyWordCount(file, "FREE");
    for (const WordCounts* counts : {&chunk.headerWordCounts(), &chunk.bodyWordCounts()}) {
        for (const auto& [word, count] : *counts)
            check(!word.empty() && word.size() <= kMaxWord && count > 0);
    }
    check(chunk.bodyStart() >= chunk.chunkStart());
    check(chunk.bodyStart() <= length);
    check(chunk.chunkEnd() <= length);
    if (const char* decoded = chunk.decodedBody())
        check(static_cast<int64_t>(std::strlen(decoded)) <= length);
}

} // namespace

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
    const auto length = static_cast<int64_t>(size);
    {
        Chunk::List list;
        list.push_back(std::make_unique<Chunk>(0));
        for (int n = 1; n <= 4; ++n)
            list[0]->setUserMacro(n, "macro");
        list[0]->parseStructure(false, file, list, nullptr);
        // The whole message's raw body before its end is known.
        list[0]->matchRawBody(file, "*");
        list[0]->parseStructure(true, file, list, nullptr);
        check(list.size() <= Chunk::kMaxChunks);
        for (auto& chunk : list)
            queryEverything(*chunk, file, length);
    }
    std::fclose(file);
    return 0;
}
