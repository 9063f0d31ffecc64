#include "store/TopCut.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The reply TOP gives for text, fed to the cut in blocks of blockSize.
std::string top(const std::string& text, long lines, size_t blockSize)
{
    TopCut cut(lines, static_cast<long>(text.size()));
    std::string reply;
    for (size_t at = 0; at < text.size() && !cut.done(); at += blockSize) {
        const std::string block = text.substr(at, blockSize);
        reply.append(block, 0, static_cast<size_t>(cut.take(block.data(), static_cast<long>(block.size()))));
    }
    if (cut.needsTerminator())
        reply += ".\r\n";
    return reply;
}

TEST(TopCut, TheHeaderAndAsManyBodyLinesAsAskedWithOneTerminatingLineWhateverTheBlocks)
{
    const std::string text = "Subject: a\r\nFrom: b\r\n\r\none\r\ntwo\r\n..three\r\n.\r\n";
    struct Row {
        long lines;
        const char* reply;
    } const rows[] = {
        {0, "Subject: a\r\nFrom: b\r\n\r\n.\r\n"},
        {1, "Subject: a\r\nFrom: b\r\n\r\none\r\n.\r\n"},
        {3, "Subject: a\r\nFrom: b\r\n\r\none\r\ntwo\r\n..three\r\n.\r\n"},
        {99999999, "Subject: a\r\nFrom: b\r\n\r\none\r\ntwo\r\n..three\r\n.\r\n"},
        {-1, "Subject: a\r\nFrom: b\r\n\r\none\r\ntwo\r\n..three\r\n.\r\n"},   // RETR
    };
    for (const Row& row : rows)
        for (size_t blockSize : {1u, 2u, 3u, 7u, 4096u})
            EXPECT_EQ(top(text, row.lines, blockSize), row.reply) << row.lines << " lines, blocks of " << blockSize;
}

TEST(TopCut, ATextWithoutABlankLineGoesWholeAndTellsWhetherAllOfItWent)
{
    const std::string headerOnly = "Subject: a\r\nFrom: b\r\n.\r\n";
    EXPECT_EQ(top(headerOnly, 0, 5), headerOnly);

    const std::string text = "S: a\r\n\r\none\r\ntwo\r\n.\r\n";
    TopCut some(1, static_cast<long>(text.size()));
    some.take(text.data(), static_cast<long>(text.size()));
    EXPECT_FALSE(some.tookAll());
    TopCut every(2, static_cast<long>(text.size()));
    every.take(text.data(), static_cast<long>(text.size()));
    EXPECT_TRUE(every.tookAll());
}

} // namespace
