#include "store/AccountState.h"

#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace {

std::unique_ptr<CMessage> entry(const std::string& key, long listed)
{
    auto message = std::make_unique<CMessage>();
    message->uid = message->stateKey = key;
    message->serverNumber = 1;
    message->size = listed;
    return message;
}

// One account over three sessions' worth of state: what a record gives
// back, what a write keeps, and when the files of what went are removed.
TEST(AccountState, RecordsGiveTextsBackAndFilesGoOnlyOnceNoRecordNamesThem)
{
    TempDir dir;
    const std::string folder = dir.path();
    writeFile(folder + "/msg000aa.msg", "Subject: one\r\n\r\n.\r\n");
    writeFile(folder + "/msg000bb.msg", "Subject: gone\r\n\r\n.\r\n");
    writeFile(folder + "/me.dat", "uid-1 000aa 1\nuid-gone 000bb 0\nnot a record\nuid-1\n");

    Mailbox mailbox;
    mailbox.push_back(entry("uid-1", 500));
    mailbox.push_back(entry("uid-2", 70));
    AccountState state(folder);
    state.read("me.dat", mailbox);
    ASSERT_TRUE(mailbox[0]->hasText());
    EXPECT_TRUE(mailbox[0]->headerOnly);
    EXPECT_EQ(mailbox[0]->size, 500) << "a header-only text keeps the listed size";
    EXPECT_FALSE(mailbox[1]->hasText()) << "no record, no text";

    std::set<std::string> recorded;
    ASSERT_TRUE(state.write("me.dat", mailbox, true, &recorded));
    EXPECT_EQ(readFile(folder + "/me.dat"), "uid-1 000aa 1\n") << "uid-2 has no spool: not recorded";
    EXPECT_EQ(recorded, std::set<std::string>{"uid-1"});
    EXPECT_FALSE(std::filesystem::exists(folder + "/msg000bb.msg")) << "its message left the server";

    // Deleted, but the QUIT not confirmed: the record and its spool stay.
    mailbox[0]->deleted = true;
    ASSERT_TRUE(state.write("me.dat", mailbox, false, nullptr));
    EXPECT_EQ(readFile(folder + "/me.dat"), "uid-1 000aa 1\n");
    EXPECT_TRUE(std::filesystem::exists(folder + "/msg000aa.msg"));
    ASSERT_TRUE(state.write("me.dat", mailbox, true, nullptr));
    EXPECT_EQ(readFile(folder + "/me.dat"), "");
    EXPECT_FALSE(std::filesystem::exists(folder + "/msg000aa.msg"));
}

} // namespace
