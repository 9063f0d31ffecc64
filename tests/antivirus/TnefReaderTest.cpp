#include "antivirus/TnefReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string le(uint32_t value, size_t bytes)
{
    std::string out;
    for (size_t i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

std::string attribute(uint32_t id, const std::string& data)
{
    return "\x02" + le(id, 4) + le(static_cast<uint32_t>(data.size()), 4) + data + "cc";
}

constexpr uint32_t kRendering = 0x00069002, kData = 0x0006800F, kTitle = 0x00018010;
const std::string kHead = std::string("\x78\x9F\x3E\x22", 4) + "kk";

struct Closer {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, Closer>;

File fileOf(const std::string& bytes)
{
    File file(std::tmpfile());
    std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    std::rewind(file.get());
    return file;
}

struct Seen {
    std::string name;
    std::string data;
};

TnefRead readAll(const std::string& bytes, std::vector<Seen>& seen)
{
    File in = fileOf(bytes);
    TnefReader reader(in.get());
    return reader.read([&](const TnefAttachment& attachment) {
        File out(std::tmpfile());
        if (!reader.copyData(attachment, out.get()))
            return false;
        std::string data(attachment.dataLength, '\0');
        std::rewind(out.get());
        data.resize(std::fread(data.data(), 1, data.size(), out.get()));
        seen.push_back({attachment.titled ? attachment.title : "(untitled)", data});
        return true;
    });
}

TEST(TnefReader, EachAttachmentComesWithTheTitleOfItsOwnWhicheverComesFirst)
{
    const std::string stream = kHead + attribute(kRendering, "") + attribute(kTitle, std::string("a.exe\0pad", 9)) +
                               attribute(kData, "DATA") + attribute(kRendering, "") + attribute(kData, "XY") +
                               attribute(kTitle, "b.doc") + attribute(kRendering, "") + attribute(kData, "Z");
    std::vector<Seen> seen;
    ASSERT_EQ(readAll(stream, seen), TnefRead::Read);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].name, "a.exe");
    EXPECT_EQ(seen[0].data, "DATA");
    EXPECT_EQ(seen[1].name, "b.doc") << "a title after the data is still its own";
    EXPECT_EQ(seen[1].data, "XY");
    EXPECT_EQ(seen[2].name, "(untitled)") << "data without a title is given all the same";
    EXPECT_EQ(seen[2].data, "Z");
}

TEST(TnefReader, AnythingElseIsNoStreamAndAnAttributePastTheEndIsUnreadable)
{
    std::vector<Seen> seen;
    EXPECT_EQ(readAll("MZ not a stream", seen), TnefRead::NotTnef);
    const std::string cut = kHead + "\x02" + le(kData, 4) + le(1000, 4) + "short";
    EXPECT_EQ(readAll(cut, seen), TnefRead::Unreadable);
    EXPECT_EQ(readAll(std::string("\x78\x9F\x3E\x22", 4), seen), TnefRead::Unreadable) << "no key";
    EXPECT_TRUE(seen.empty());
}

} // namespace
