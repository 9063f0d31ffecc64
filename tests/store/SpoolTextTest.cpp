// How a spooled text is measured and read back for the client: cut after
// its first CR LF "." CR LF, or served with the end it lacks; and the same
// from a slice of a header pack.
#include "store/CMessage.h"
#include "store/MessageText.h"

#include "support/TestHelpers.h"

#include <gtest/gtest.h>

namespace {

// What the client is sent for a message whose spool holds bytes.
std::string served(const CMessage& message)
{
    MessageText text(message);
    EXPECT_TRUE(text.isOpen());
    std::string out;
    char block[7];   // small, so that reads cross block ends
    for (long got; (got = text.read(block, sizeof block)) > 0;)
        out.append(block, static_cast<size_t>(got));
    EXPECT_EQ(static_cast<long>(out.size()), text.size());
    return out;
}

const struct {
    const char* bytes;
    const char* text;
    const char* what;
} kTexts[] = {
    {"A: b\r\n\r\nbody\r\n.\r\n", "A: b\r\n\r\nbody\r\n.\r\n", "ended"},
    {"A: b\r\n\r\nbody\r\n.\r\nafter\r\n", "A: b\r\n\r\nbody\r\n.\r\n", "bytes after the end"},
    {"A: b\r\n\r\nbody\r\n", "A: b\r\n\r\nbody\r\n.\r\n", "no end line"},
    {"A: b\r\n\r\nbody", "A: b\r\n\r\nbody\r\n.\r\n", "a last line without its end"},
    {"A: b\r\n\r\nbody\r\n.", "A: b\r\n\r\nbody\r\n.\r\n", "an end line without its line end"},
    {"A: b\r\n\r\n..dot\r\n", "A: b\r\n\r\n..dot\r\n.\r\n", "a stuffed dot line"},
    {"A: b\r\n\r\nx\r\r\n.\r\n", "A: b\r\n\r\nx\r\r\n.\r\n", "a CR before the end"},
    {".\r\n", ".\r\n", "empty"},
    {".", ".\r\n", "empty, the end line unended"},
    {"", "\r\n.\r\n", "nothing at all"},
};

TEST(SpoolText, AFileIsServedUpToItsEndOrWithTheEndItLacks)
{
    TempDir dir;
    for (const auto& row : kTexts) {
        writeFile(dir / "spool.msg", row.bytes);
        CMessage message;
        ASSERT_TRUE(message.readText(dir / "spool.msg")) << row.what;
        EXPECT_EQ(message.size, static_cast<long>(std::string(row.text).size())) << row.what;
        EXPECT_EQ(served(message), row.text) << row.what;
        EXPECT_EQ(CMessage::wholeText(row.bytes), row.text) << row.what;
    }
}

TEST(SpoolText, ASliceOfAPackIsReadFromItsOffsetAndNoFurther)
{
    TempDir dir;
    const std::string first = "A: 1\r\n\r\n.\r\n", second = "A: 22\r\n\r\n.\r\n", third = "A: 333\r\n\r\n.\r\n";
    writeFile(dir / "hdr00001.pack", first + second + third);

    CMessage message;
    ASSERT_TRUE(message.load("00001:" + std::to_string(first.size()) + ":" + std::to_string(second.size()),
                             dir.path()));
    EXPECT_EQ(message.path, dir / "hdr00001.pack");
    EXPECT_EQ(message.size, static_cast<long>(second.size()));
    EXPECT_EQ(served(message), second);
    EXPECT_EQ(message.sizeQuery(dir.path()), static_cast<long>(second.size()));

    // A slice the pack does not bear out leaves the message as it was.
    const std::string good = message.spoolId;
    const long whole = static_cast<long>((first + second + third).size());
    for (const std::string& field :
         {"00001:0:" + std::to_string(whole + 1),                          // past the end
          "00001:0:" + std::to_string(first.size() + second.size()),       // two texts
          "00001:0:" + std::to_string(first.size() - 1),                   // a text cut short
          "00002:0:" + std::to_string(first.size()),                       // no such pack
          std::string("00001")}) {                                         // no such spool file
        EXPECT_FALSE(message.load(field, dir.path())) << field;
        EXPECT_EQ(message.spoolId, good) << field;
        EXPECT_EQ(served(message), second) << field;
    }
}

} // namespace
