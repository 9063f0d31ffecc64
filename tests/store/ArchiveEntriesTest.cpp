// The archive's entries as the viewer reads them from day files written in
// the proxy's format, and a message restored as the mail client first had
// it.
#include "store/ArchiveEntries.h"

#include "support/TestHelpers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

namespace {

// One archived copy as the proxy appends it: CR LF lines, the
// X-Quillfence-Pro block at the end of the header, dots doubled, "." last.
std::string archived(const std::string& from, const std::string& subject, const std::string& body,
                     const std::string& block = "X-Quillfence-Pro: Rule 'Offer' detected spam from x, rating total 7.5\r\n")
{
    std::string text = "From: " + from + "\r\nSubject: " + subject + "\r\nDate: Tue, 8 Dec 2026 10:00:00 +0000\r\n" +
                       block + "\r\n";
    for (size_t at = 0; at < body.size();) {
        size_t end = body.find("\r\n", at);
        end = end == std::string::npos ? body.size() : end + 2;
        const std::string line = body.substr(at, end - at);
        text += (line[0] == '.' ? "." : "") + line;
        at = end;
    }
    return text + ".\r\n";
}

TEST(ArchiveEntries, WholeCopiesAreListedWithTheirFieldsAndACopyBeingWrittenIsLeftOut)
{
    TempDir folder;
    const std::string day = folder / "SF261208.txt";
    writeFile(day, archived("Shop <shop@example.com>", "SPAM - Cheap pills", "Buy now\r\n.hidden dot\r\n") +
                       archived("Ann <ann@example.org>", "Lunch", "At noon\r\n",
                                "X-Quillfence-Pro: Rule 'Loud' detected spam from Ann, rating total 2.0\r\n"
                                "\tpoints of the rule: 20\r\n"
                                "X-Quillfence-Pro: Rule 'Kind' detected ham, rating total 0.5\r\n") +
                       "From: half@example.com\r\nSubject: still being written\r\n\r\nbo");
    std::vector<ArchiveEntry> entries;
    std::string error;
    ASSERT_TRUE(readArchiveEntries(day, entries, error)) << error;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].from, "Shop <shop@example.com>");
    EXPECT_EQ(entries[0].subject, "SPAM - Cheap pills");
    EXPECT_EQ(entries[0].date, "Tue, 8 Dec 2026 10:00:00 +0000");
    EXPECT_TRUE(entries[0].rated);
    EXPECT_DOUBLE_EQ(entries[0].rating, 7.5);
    ASSERT_EQ(entries[1].decisions.size(), 2u);
    EXPECT_EQ(entries[1].decisions[0], "Rule 'Loud' detected spam from Ann, rating total 2.0 points of the rule: 20");
    EXPECT_DOUBLE_EQ(entries[1].rating, 0.5) << "the last total is the message's";

    std::string text;
    ASSERT_TRUE(readArchiveText(entries[0], text, error)) << error;
    EXPECT_NE(text.find("\r\n.hidden dot\r\n"), std::string::npos) << "dots undone";
    EXPECT_EQ(text.find("\r\n.\r\n"), std::string::npos);
    // The proxy appends: the places read stay good.
    appendFile(day, "ly\r\n.\r\n");
    ASSERT_TRUE(readArchiveText(entries[1], text, error)) << error;
    EXPECT_NE(text.find("At noon"), std::string::npos);
    entries.clear();
    ASSERT_TRUE(readArchiveEntries(day, entries, error)) << error;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].subject, "still being written");
    EXPECT_FALSE(entries[2].rated);
    // A file replaced under the entry is not read as if it were there.
    writeFile(day, archived("Other <o@example.com>", "Other", "x\r\n"));
    EXPECT_FALSE(readArchiveText(entries[1], text, error));
    EXPECT_FALSE(readArchiveEntries(folder / "SF000000.txt", entries, error));
}

TEST(ArchiveEntries, FoldedSubjectsAndAnyBytesGiveOneLineFieldsAndManyEntriesAllCome)
{
    TempDir folder;
    const std::string day = folder / "SF261209.txt";
    std::string text = "Subject: first part\r\n\tsecond part\r\n \t \r\nFrom: a\r\n   b\r\n\r\nbody\r\n.\r\n";
    const char odd[] = "Subject: \x01\xff\r\n\r\n\0\r\n.\r\n";
    text += std::string(odd, sizeof odd - 1);
    for (int i = 0; i < 10000; ++i)
        text += archived("s" + std::to_string(i) + "@example.com", "n" + std::to_string(i), "b\r\n");
    writeFile(day, text);
    std::vector<ArchiveEntry> entries;
    std::string error;
    ASSERT_TRUE(readArchiveEntries(day, entries, error)) << error;
    ASSERT_EQ(entries.size(), 10002u);
    EXPECT_EQ(entries[0].subject, "first part second part");
    EXPECT_EQ(entries[0].from, "a b");
    EXPECT_EQ(entries[1].subject, "\x01\xff");
    EXPECT_EQ(entries[10001].from, "s9999@example.com");
    std::string message;
    ASSERT_TRUE(readArchiveText(entries[10001], message, error)) << error;
    EXPECT_EQ(message.rfind("From: s9999@example.com\r\n", 0), 0u);
}

TEST(ArchiveEntries, ARestoredMessageLosesTheBlockAndGetsItsSubjectBack)
{
    const std::string body = "X-Quillfence-Pro: in the body stays\r\n";
    const std::string copy = "From: shop@example.com\r\nSubject: SPAM - Cheap pills - now\r\n"
                             "X-Quillfence-Pro: Rule 'Offer' detected spam, rating total 7.5\r\n\tdetail\r\n"
                             "x-quillfence-pro: attachments not scanned: no engine\r\nTo: me\r\n\r\n" + body;
    EXPECT_EQ(restoredText(copy, "SPAM - %%SUBJECT%%"),
              "From: shop@example.com\r\nSubject: Cheap pills - now\r\nTo: me\r\n\r\n" + body);
    EXPECT_EQ(restoredText("Subject: [7.5] Pills\r\n\r\nb", "[%%RATING%%] %%SUBJECT%% (%%BAND%%)"),
              "Subject: [7.5] Pills\r\n\r\nb") << "a subject the macro does not explain stays";
    EXPECT_EQ(restoredText("Subject: [7.5] Pills (5)\r\n\r\nb", "[%%RATING%%] %%SUBJECT%% (%%BAND%%)"),
              "Subject: Pills\r\n\r\nb");
    EXPECT_EQ(restoredText("Subject: a.b*c\r\n\r\n", "a.b*%%SUBJECT%%"), "Subject: c\r\n\r\n");
    EXPECT_EQ(restoredText("Subject: SPAM - x\r\n\r\n", "no subject in it"), "Subject: SPAM - x\r\n\r\n");

    TempDir root;
    const std::string pending = root / "pending";
    std::string first, second, error;
    ASSERT_TRUE(restoreToPending(pending, "Subject: one\r\n\r\nbody\r\n", first, error)) << error;
    ASSERT_TRUE(restoreToPending(pending, "Subject: two\r\n\r\nbody\r\n", second, error)) << error;
    EXPECT_NE(first, second);
    EXPECT_TRUE(first.ends_with(".msg"));
    EXPECT_EQ(readFile(first), "Subject: one\r\n\r\nbody\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(first.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(pending))
        ++files;
    EXPECT_EQ(files, 2u) << "no temporary file left beside them";
}

TEST(ArchiveEntries, AMergeThatWaitedForADeletionAppendsToTheNewFileAndADeletionKeepsWhatAMergeAdded)
{
    TempDir folder;
    const std::string day = folder / "SF261208.txt";
    writeFile(day, archived("a@example.com", "first", "one\r\n") + archived("b@example.com", "second", "two\r\n"));
    std::vector<ArchiveEntry> entries;
    std::string error;
    ASSERT_TRUE(readArchiveEntries(day, entries, error)) << error;
    ASSERT_EQ(entries.size(), 2u);

    // A deletion holds the lock and puts a new file in the old one's place:
    // the merge that waited meanwhile gets the new file.
    {
        UniqueFd held(::open(day.c_str(), O_RDONLY));
        ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
        auto merge = std::async(std::launch::async, [&] { return openLockedDayFile(day); });
        EXPECT_EQ(merge.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout) << "it waits";
        writeFile(day + ".new", archived("b@example.com", "second", "two\r\n"));
        ASSERT_EQ(::rename((day + ".new").c_str(), day.c_str()), 0);
        held.reset();
        UniqueFd merged = merge.get();
        ASSERT_TRUE(merged);
        const std::string copy = archived("c@example.com", "third", "three\r\n");
        ASSERT_EQ(::write(merged.get(), copy.data(), copy.size()), static_cast<ssize_t>(copy.size()));
    }
    entries.clear();
    ASSERT_TRUE(readArchiveEntries(day, entries, error)) << error;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].subject, "third") << "the merged copy is in the file at the path";

    // A merge holds the lock: the deletion waits for it and keeps its copy.
    std::promise<void> appended;
    std::thread merging([&] {
        UniqueFd merged = openLockedDayFile(day);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::string copy = archived("d@example.com", "fourth", "four\r\n");
        EXPECT_EQ(::write(merged.get(), copy.data(), copy.size()), static_cast<ssize_t>(copy.size()));
        appended.set_value();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(deleteArchiveEntry(entries[0], error)) << error;
    merging.join();
    entries.clear();
    ASSERT_TRUE(readArchiveEntries(day, entries, error)) << error;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].subject, "third");
    EXPECT_EQ(entries[1].subject, "fourth");
    // A place that no longer holds its message is not deleted from.
    ArchiveEntry misplaced;
    misplaced.dayFile = day;
    misplaced.place = ArchivePlace{3, 10, true};
    const std::string before = readFile(day);
    EXPECT_FALSE(deleteArchiveEntry(misplaced, error));
    EXPECT_EQ(readFile(day), before);
}

} // namespace
