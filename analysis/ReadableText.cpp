#include "analysis/ReadableText.h"

#include "analysis/Chunk.h"
#include "analysis/MimeParameter.h"
#include "common/HeaderLines.h"
#include "common/TextUtils.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

struct FileClose {
    void operator()(FILE* file) const { std::fclose(file); }
};

std::string lower(std::string text)
{
    stringLower(text);
    return text;
}

void readFields(const std::string& message, ReadableMessage& readable)
{
    for (const std::string& line : unfoldedHeaderLines(message, kMaxReadable / 64, kMaxFields)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const size_t first = line.find_first_not_of(" \t", colon + 1);
        readable.fields.emplace_back(line.substr(0, colon), first == std::string::npos ? "" : line.substr(first));
    }
}

} // namespace

ReadableMessage readableMessage(const std::string& message)
{
    ReadableMessage readable;
    readFields(message, readable);
    if (message.empty())
        return readable;
    // The chunks read a file, by its descriptor too: the message is one, in
    // memory and nowhere else.
    const int fd = ::memfd_create("quillfence-message", MFD_CLOEXEC);
    if (fd < 0)
        return readable;
    const std::unique_ptr<FILE, FileClose> file(::fdopen(fd, "w+b"));
    if (!file) {
        ::close(fd);
        return readable;
    }
    if (std::fwrite(message.data(), 1, message.size(), file.get()) != message.size() || std::fflush(file.get()) != 0)
        return readable;
    std::rewind(file.get());
    try {
        Chunk::List parts;
        parts.push_back(std::make_unique<Chunk>(0));
        parts.front()->parseStructure(true, file.get(), parts, nullptr);
        size_t budget = kMaxReadable;
        for (const auto& chunk : parts) {
            std::string contentType, disposition;
            chunk->getHeader(file.get(), "CONTENT-TYPE", contentType);
            chunk->getHeader(file.get(), "CONTENT-DISPOSITION", disposition);
            ReadablePart part;
            part.type = lower(contentType.substr(0, contentType.find_first_of("; \t\r\n")));
            if (part.type.starts_with("multipart/"))
                continue;
            part.charset = mimeParameter(contentType, "charset").value_or("");
            part.name = mimeParameter(disposition, "filename").value_or(mimeParameter(contentType, "name").value_or(""));
            const bool attachment = lower(disposition).find("attachment") != std::string::npos;
            part.text = !attachment && (part.type.empty() || part.type.starts_with("text/"));
            if (part.text && budget > 0) {
                chunk->decodeBody(file.get());
                const size_t length = std::min(chunk->decodedLength(), budget);
                if (chunk->decodedBody() != nullptr)
                    part.body.assign(chunk->decodedBody(), length);
                budget -= length;
            }
            readable.parts.push_back(std::move(part));
        }
    } catch (...) {
        // What was read stands.
    }
    return readable;
}
