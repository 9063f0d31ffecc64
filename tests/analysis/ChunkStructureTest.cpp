// The structure parse: parts found by their boundary lines, in one flat
// depth-first list, with their ends.
#include "MessageFile.h"

#include <gtest/gtest.h>

namespace {

std::string part(const std::string& delimiter, const std::string& type, const std::string& body)
{
    return delimiter + "\r\nContent-Type: " + type + "\r\n\r\n" + body;
}

TEST(ChunkStructure, NestedMultipartGivesChunksOneToFiveDepthFirst)
{
    const std::string text = "Content-Type: multipart/mixed; boundary=\"out\"\r\n\r\n"
                             "preamble\r\n"
                             "--out\r\nContent-Type: multipart/alternative; boundary=in\r\n\r\n"
                             "--in\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
                             "--in\r\nContent-Type: text/html\r\n\r\n<b>html</b>\r\n"
                             "--in--\r\n"
                             "--out\r\nContent-Type: image/png\r\n\r\nPNG\r\n"
                             "--out--\r\nepilogue\r\n";
    ParsedMessage message(text);
    ASSERT_EQ(message.count(), 5u);
    EXPECT_EQ(message.header(2, "CONTENT-TYPE"), "multipart/alternative; boundary=in");
    EXPECT_EQ(message.header(3, "CONTENT-TYPE"), "text/plain");
    EXPECT_EQ(message.header(4, "CONTENT-TYPE"), "text/html");
    EXPECT_EQ(message.header(5, "CONTENT-TYPE"), "image/png");

    // Each part starts on the line after its boundary and ends where the
    // next boundary line starts; the whole message runs to the end.
    auto at = [&](const std::string& what) { return static_cast<int64_t>(text.find(what)); };
    EXPECT_EQ(message.chunk(1).chunkEnd(), static_cast<int64_t>(text.size()));
    EXPECT_EQ(message.chunk(2).chunkStart(), at("--out\r\n") + 7);
    EXPECT_EQ(message.chunk(2).chunkEnd(), at("--out\r\nContent-Type: image"));
    EXPECT_EQ(message.chunk(3).chunkStart(), at("--in\r\n") + 6);
    EXPECT_EQ(message.chunk(3).chunkEnd(), at("--in\r\nContent-Type: text/html"));
    EXPECT_EQ(message.chunk(4).chunkEnd(), at("--in--"));
    EXPECT_EQ(message.chunk(5).chunkEnd(), at("--out--"));
    EXPECT_EQ(message.chunk(3).bodyStart(), at("plain\r\n--in"));
}

TEST(ChunkStructure, TypeAndBoundaryAreFoundInAnyLetterCase)
{
    ParsedMessage message("content-type: Multipart/Alternative; BOUNDARY=\"xyz\"\r\n\r\n" +
                          part("--xyz", "text/plain", "a\r\n") + part("--xyz", "text/html", "b\r\n") +
                          "--xyz--\r\n");
    ASSERT_EQ(message.count(), 3u);
    EXPECT_EQ(message.header(3, "CONTENT-TYPE"), "text/html");
}

struct BoundaryCase {
    const char* name;
    const char* contentType;
    const char* delimiter;
};

class ChunkBoundaries : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(ChunkBoundaries, DelimiterIsTakenFromTheBoundaryParameter)
{
    const BoundaryCase& row = GetParam();
    ParsedMessage message(std::string("Content-Type: ") + row.contentType + "\r\n\r\n" +
                          part(row.delimiter, "text/plain", "one\r\n") +
                          part(row.delimiter, "text/plain", "two\r\n") + row.delimiter + "--\r\n");
    ASSERT_EQ(message.count(), 3u);
    EXPECT_TRUE(message.chunk(3).matchRawBody(message.file(), "two\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, ChunkBoundaries,
    ::testing::Values(BoundaryCase{"Quoted", "multipart/mixed; boundary=\"a b;c\"", "--a b;c"},
                      BoundaryCase{"Plain", "multipart/mixed; boundary=abc; charset=x", "--abc"},
                      BoundaryCase{"PlainAtEnd", "multipart/mixed; boundary=abc", "--abc"},
                      BoundaryCase{"UnclosedQuote", "multipart/mixed; boundary=\"abc", "--abc"},
                      BoundaryCase{"Folded", "multipart/related;\r\n\tboundary=f1", "--f1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChunkStructure, OverlongBoundaryIsCutAt125Characters)
{
    const std::string boundary(200, 'b');
    const std::string cut = "--" + boundary.substr(0, 125);
    // Lines beginning with the cut delimiter count as boundaries.
    ParsedMessage message("Content-Type: multipart/mixed; boundary=" + boundary + "\r\n\r\n" +
                          part(cut + "tail", "text/plain", "x\r\n") + cut + "--\r\n");
    EXPECT_EQ(message.count(), 2u);
}

TEST(ChunkStructure, MultipartWithoutPartsHasNone)
{
    for (const char* head : {"Content-Type: multipart/mixed\r\n\r\n--x\r\n\r\nbody\r\n",
                             "Content-Type: multipart/mixed; boundary=never\r\n\r\n--x\r\n\r\nbody\r\n",
                             "Content-Type: text/plain; boundary=x\r\n\r\n--x\r\n\r\nbody\r\n",
                             "Subject: no type\r\n\r\n--x\r\n\r\nbody\r\n"}) {
        SCOPED_TRACE(head);
        ParsedMessage message(head);
        EXPECT_EQ(message.count(), 1u);
        EXPECT_GT(message.chunk(1).chunkEnd(), 0);
    }
}

TEST(ChunkStructure, MissingClosingDelimiterRunsTheLastPartToTheEnd)
{
    const std::string text = "Content-Type: multipart/mixed; boundary=b\r\n\r\n" +
                             part("--b", "text/plain", "one\r\n") + part("--b", "text/plain", "two\r\nmore\r\n");
    ParsedMessage message(text);
    ASSERT_EQ(message.count(), 3u);
    EXPECT_EQ(message.chunk(3).chunkEnd(), static_cast<int64_t>(text.size()));
    message.chunk(3).decodeBody(message.file());
    EXPECT_STREQ(message.chunk(3).decodedBody(), "two\r\nmore\r\n");
}

TEST(ChunkStructure, DotLineEndsTheLastPart)
{
    ParsedMessage message("Content-Type: multipart/mixed; boundary=b\r\n\r\n" +
                          part("--b", "text/plain", "one\r\n.\r\n") + part("--b", "text/plain", "lost\r\n"));
    EXPECT_EQ(message.count(), 2u) << "the spool's end-of-message line ends the parts";
}

TEST(ChunkStructure, DelimiterMustStartALine)
{
    // A long line whose 1023rd byte begins "--b" is not a boundary.
    const std::string body = std::string(1022, 'x') + "--b--\r\nstill one\r\n";
    ParsedMessage message("Content-Type: multipart/mixed; boundary=b\r\n\r\n" +
                          part("--b", "text/plain", body) + "--b--\r\n");
    ASSERT_EQ(message.count(), 2u);
    message.chunk(2).decodeBody(message.file());
    EXPECT_EQ(std::string(message.chunk(2).decodedBody()), body);
}

TEST(ChunkStructure, WithoutRecurseOnlyTheHeaderIsParsed)
{
    MessageFile file("Content-Type: multipart/mixed; boundary=b\r\n\r\n" + part("--b", "text/plain", "x\r\n"));
    Chunk::List list;
    list.push_back(std::make_unique<Chunk>(0));
    EXPECT_TRUE(list[0]->parseStructure(false, file.get(), list, nullptr));
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->chunkEnd(), 0);
    EXPECT_FALSE(list[0]->headers().empty());
}

TEST(ChunkStructure, DeepNestingIsBoundedAndEndsSoundly)
{
    // Ten thousand multiparts, each the only part of the one before.  No
    // boundary begins with another ("b63x", "b630x"), so every line below the
    // depth limit belongs to the deepest part kept.
    std::string text = "Content-Type: multipart/mixed; boundary=b0x\r\n\r\n";
    for (int i = 1; i <= 10000; ++i)
        text += "--b" + std::to_string(i - 1) + "x\r\nContent-Type: multipart/mixed; boundary=b" +
                std::to_string(i) + "x\r\n\r\n";
    text += "--b10000x\r\nContent-Type: text/plain\r\n\r\ndeep\r\n";
    ParsedMessage message(text);
    EXPECT_EQ(message.count(), static_cast<size_t>(Chunk::kMaxDepth) + 1);
    for (size_t n = 1; n <= message.count(); ++n)
        EXPECT_GE(message.chunk(n).chunkEnd(), message.chunk(n).chunkStart());
}

TEST(ChunkStructure, PartCountIsBounded)
{
    std::string text = "Content-Type: multipart/mixed; boundary=p\r\n\r\n";
    for (int i = 0; i < 5000; ++i)
        text += "--p\r\n\r\n" + std::to_string(i) + "\r\n";
    text += "--p--\r\n";
    ParsedMessage message(text);
    EXPECT_EQ(message.count(), Chunk::kMaxChunks);
    message.chunk(Chunk::kMaxChunks).decodeBody(message.file());
    EXPECT_STREQ(message.chunk(Chunk::kMaxChunks).decodedBody(), "4094\r\n");
}

TEST(ChunkStructure, PartWithoutBlankLineHasAnEmptyBodyAtTheEnd)
{
    ParsedMessage message("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain");
    ASSERT_EQ(message.count(), 2u);
    EXPECT_EQ(message.chunk(2).bodyStart(), message.chunk(2).chunkEnd());
    EXPECT_TRUE(message.chunk(2).matchDecodedBody(message.file(), ""));
}

} // namespace

namespace {

// The virus walk reads a header the same way (its test: a line without a
// colon or of blanks alone hides no attachment): neither ends the header.
TEST(ChunkStructure, ALineWithoutAColonOrOfBlanksDoesNotEndTheHeader)
{
    for (const char* odd : {"no colon here\r\n", " \t\r\n"}) {
        const std::string text = std::string("From: a@x\r\n") + odd +
                                 "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                                 "--b\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
                                 "--b\r\nContent-Type: application/octet-stream\r\n\r\nAAAA\r\n--b--\r\n";
        ParsedMessage message(text);
        ASSERT_EQ(message.count(), 3u) << odd;
        EXPECT_EQ(message.header(3, "CONTENT-TYPE"), "application/octet-stream") << odd;
    }
}

// A part whose header runs into the next delimiter without its empty line
// has an empty body; the next part stays a part of its own.
TEST(ChunkStructure, APartWithoutItsEmptyLineEndsAtTheNextDelimiter)
{
    const std::string text = "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                             "--b\r\nContent-Type: text/plain\r\n"
                             "--b\r\nContent-Type: application/octet-stream\r\n\r\nAAAA\r\n--b--\r\n";
    ParsedMessage message(text);
    ASSERT_EQ(message.count(), 3u);
    EXPECT_EQ(message.header(2, "CONTENT-TYPE"), "text/plain");
    EXPECT_EQ(message.header(3, "CONTENT-TYPE"), "application/octet-stream");
}

// Every value of a repeated field, in order; the map keeps the last.
TEST(ChunkStructure, ARepeatedFieldKeepsEveryValueInOrder)
{
    ParsedMessage message("Received: one\r\nSubject: s\r\nReceived: two\r\n\tfolded\r\nReceived: three\r\n\r\nbody\r\n");
    Chunk& top = message.chunk(1);
    EXPECT_EQ(top.headerValues(message.file(), "RECEIVED"),
              (std::vector<std::string>{"one", "two \tfolded", "three"}));
    EXPECT_EQ(top.headerValues(message.file(), "SUBJECT"), std::vector<std::string>{"s"});
    EXPECT_TRUE(top.headerValues(message.file(), "CC").empty());
    EXPECT_EQ(message.header(1, "RECEIVED"), "three");
}

} // namespace
