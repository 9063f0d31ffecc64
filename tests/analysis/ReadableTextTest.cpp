#include "analysis/ReadableText.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(ReadableText, EachPartIsDecodedAndAnAttachmentOnlyNamed)
{
    const std::string message =
        "From: Ann <ann@example.org>\r\nSubject: a long\r\n \t \r\n\tsubject\r\n"
        "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
        "--b1\r\nContent-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "Gr=FC=DFe, see you\r\n"
        "--b1\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "PHA+U2VlIDxiPnlvdTwvYj48L3A+PGltZyBzcmM9Imh0dHA6Ly90cmFja2VyLmV4YW1wbGUveCI+\r\n"
        "--b1\r\nContent-Type: application/pdf; name=\"plan.pdf\"\r\nContent-Disposition: attachment; "
        "filename=\"plan.pdf\"\r\n\r\nJVBERi0=\r\n--b1--\r\n";
    const ReadableMessage readable = readableMessage(message);
    ASSERT_GE(readable.fields.size(), 2u);
    EXPECT_EQ(readable.fields[0], (std::pair<std::string, std::string>{"From", "Ann <ann@example.org>"}));
    EXPECT_EQ(readable.fields[1].second, "a long subject");
    ASSERT_EQ(readable.parts.size(), 3u);
    EXPECT_EQ(readable.parts[0].charset, "iso-8859-1");
    EXPECT_NE(readable.parts[0].body.find("Gr\xfc\xdf" "e, see you"), std::string::npos) << readable.parts[0].body;
    EXPECT_EQ(readable.parts[1].type, "text/html");
    EXPECT_NE(readable.parts[1].body.find("See you"), std::string::npos) << readable.parts[1].body;
    EXPECT_EQ(readable.parts[1].body.find("tracker"), std::string::npos) << "markup, and its addresses, dropped";
    EXPECT_FALSE(readable.parts[2].text);
    EXPECT_EQ(readable.parts[2].name, "plan.pdf");
    EXPECT_EQ(readable.parts[2].body, "");
}

TEST(ReadableText, AnyBytesGiveSomethingAndNeverMore)
{
    EXPECT_TRUE(readableMessage("").parts.empty());
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(static_cast<size_t>(random() % 2000), '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 8 == 0 ? "\r\n \t:-=<"[random() % 8] : random() % 256);
        const ReadableMessage readable = readableMessage("Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\n" + bytes);
        size_t total = 0;
        for (const ReadablePart& part : readable.parts)
            total += part.body.size();
        EXPECT_LE(total, kMaxReadable);
        EXPECT_LE(readable.fields.size(), kMaxFields);
    }
}

} // namespace
