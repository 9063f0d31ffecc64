#include "common/FileHead.h"

#include "common/UniqueFd.h"
#include "support/TestHelpers.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// A body of several of replaceFileHead's blocks, every byte telling where
// it stood.
std::string body(size_t size)
{
    std::string text;
    for (size_t i = 0; text.size() < size; ++i)
        text += std::to_string(i) + ",";
    text.resize(size);
    return text;
}

ino_t inodeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(FileHead, ANewHeadOfAnyLengthKeepsTheRestByteForByteInTheSameFile)
{
    const std::string rest = body(200000);
    const std::string old = "Subject: old\r\n\r\n";
    for (const std::string& head : {std::string("Subject: [SPAM] old\r\nX-Rating: 5\r\n\r\n"), std::string("S\r\n\r\n"),
                                     std::string("Subject: new\r\n\r\n"), std::string(),
                                     std::string(70000, 'h') + "\r\n\r\n"}) {
        TempDir dir;
        const std::string path = dir / "spool";
        writeFile(path, old + rest);
        const ino_t before = inodeOf(path);
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
        ASSERT_TRUE(fd);
        ASSERT_TRUE(replaceFileHead(fd.get(), static_cast<long>(old.size()), head)) << head.size();
        EXPECT_EQ(readFile(path), head + rest) << "a head of " << head.size() << " bytes";
        EXPECT_EQ(inodeOf(path), before) << "rewritten in place";
    }
}

TEST(FileHead, AHeadLongerThanTheFileIsRefusedAndChangesNothing)
{
    TempDir dir;
    const std::string path = dir / "spool";
    writeFile(path, "short");
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(fd);
    EXPECT_FALSE(replaceFileHead(fd.get(), 6, "x"));
    EXPECT_FALSE(replaceFileHead(fd.get(), -1, "x"));
    EXPECT_EQ(readFile(path), "short");
}

TEST(FileHead, ReadWholeFileReadsFromTheStartWithinItsLimit)
{
    TempDir dir;
    const std::string path = dir / "spool";
    const std::string text = body(150000);
    writeFile(path, text);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    ASSERT_EQ(::lseek(fd.get(), 1000, SEEK_SET), 1000);
    std::string read;
    EXPECT_TRUE(readWholeFile(fd.get(), static_cast<long>(text.size()), read));
    EXPECT_EQ(read, text) << "from the start, wherever the file stood";
    EXPECT_FALSE(readWholeFile(fd.get(), static_cast<long>(text.size()) - 1, read)) << "one byte over the limit";
}

} // namespace
