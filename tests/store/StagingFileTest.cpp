// How the staging file reader takes what a session, a crash or damage left:
// one named row per kind of file, with the copies it must give back.
#include "store/StagingFile.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct Row {
    const char* name;
    std::string file;
    bool recorded;
    std::vector<std::string> copies;   // kept ones; a dropped one as "D:" + text
    long mergeAt;
};

const std::string kHead = "QFSTAGE me@mail.example.dat\r\n";
const std::string kOne = "Subject: one\r\n\r\nbody\r\n.\r\n";   // 25 bytes
const std::string kTwo = "Subject: two\r\n\r\n.\r\n";           // 19 bytes

std::string record(char mark, const std::string& key, const std::string& text)
{
    char length[16];
    std::snprintf(length, sizeof length, "%c%010zu", mark, text.size());
    return length + (" " + key + "\r\n") + text;
}

const Row kRows[] = {
    {"two_copies", kHead + record('+', "uid-1", kOne) + record('+', "-QFXabc", kTwo), true, {kOne, kTwo}, -1},
    {"a_dropped_copy", kHead + record('D', "uid-1", kOne) + record('+', "uid-2", kTwo), true, {"D:" + kOne, kTwo}, -1},
    {"a_copy_being_written", kHead + record('+', "uid-1", kOne) + "??????????? uid-2\r\nSubject: tw", true, {kOne}, -1},
    {"a_copy_cut_short", kHead + record('+', "uid-1", kOne) + record('+', "uid-2", kTwo).substr(0, 30), true, {kOne}, -1},
    {"a_begun_merge", kHead + record('+', "uid-1", kOne) + "QFMERGE 4096\r\n", true, {kOne}, 4096},
    {"a_key_with_a_blank", kHead + record('+', "uid 1", kOne), true, {}, -1},
    {"a_length_of_letters", kHead + "+00000000x5 uid-1\r\n" + kOne, true, {}, -1},
    {"an_earlier_version", kOne + kTwo, false, {}, -1},
    {"empty", "", false, {}, -1},
};

class StagingFileRead : public ::testing::TestWithParam<Row> {};

TEST_P(StagingFileRead, GivesBackTheWholeCopiesAndNothingElse)
{
    const Row& row = GetParam();
    const int fd = ::memfd_create("staging", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, row.file.data(), row.file.size()), static_cast<ssize_t>(row.file.size()));
    StagingContents contents;
    ASSERT_TRUE(StagingFile::read(fd, contents));
    EXPECT_EQ(contents.recorded, row.recorded);
    std::vector<std::string> copies;
    for (const StagedCopy& copy : contents.copies)
        copies.push_back((copy.dropped ? "D:" : "") +
                         row.file.substr(static_cast<size_t>(copy.offset), static_cast<size_t>(copy.length)));
    EXPECT_EQ(copies, row.copies);
    EXPECT_EQ(contents.mergeAt, row.mergeAt);
    if (row.recorded) {
        EXPECT_EQ(contents.account, "me@mail.example.dat");
    }
    ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Files, StagingFileRead, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StagingFileFields, AnAccountNeverBreaksItsLineAndALengthKeepsItsTenDigits)
{
    EXPECT_EQ(StagingFile::headerLine("me\r\n@x"), "QFSTAGE me__@x\r\n");
    EXPECT_EQ(StagingFile::lengthField(9999999999L), "+9999999999");
    EXPECT_EQ(StagingFile::lengthField(25), "+0000000025");
    EXPECT_EQ(StagingFile::pendingRecordLine("has blank"), "??????????? -\r\n") << "an unusable key is '-'";
}

} // namespace
