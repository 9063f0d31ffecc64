#include "common/CRegistry.h"

#include "support/TestHelpers.h"

#include "RegistryTestRoots.h"

#include <cmath>
#include <filesystem>
#include <thread>

namespace {

namespace fs = std::filesystem;

std::string systemHiveFile(const std::string& name)
{
    return commonConfig() + "/" + lower(name) + "_sys.dat";
}

TEST(Registry, NewHiveIsCreatedEmptyAndFirstWriteBackIsSequenceOne)
{
    const std::string name = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "Settings", true));
    EXPECT_TRUE(fs::exists(systemHiveFile(name)));
    EXPECT_EQ(fs::file_size(systemHiveFile(name)), 0u);
    EXPECT_TRUE(reg.SetValue("Port", 1110));
    EXPECT_TRUE(reg.CloseKey());
    EXPECT_EQ(readFile(systemHiveFile(name)),
              "1\r\n\"/SETTINGS\"\r\n\"/SETTINGS/PORT\" = 1110\r\n~\r\n");
}

TEST(Registry, FamiliesLiveInTheirFolders)
{
    const std::string name = hiveName();
    const std::pair<eRegKeyType, std::string> families[] = {
        {eRegUser, userConfig() + "/" + lower(name) + "_usr.dat"},
        {eRegSystem, commonConfig() + "/" + lower(name) + "_sys.dat"},
        {eRegShared, commonConfig() + "/" + lower(name) + "_usr.dat"},
        {eRegGlobal, globalConfig() + "/" + lower(name) + "_sys.dat"}};
    for (const auto& [type, file] : families) {
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(type, name.c_str(), "/", true)) << file;
        reg.SetValue("Family", static_cast<int>(type));
        reg.CloseKey();
        EXPECT_NE(readFile(file).find("\"/FAMILY\" = " + std::to_string(type)), std::string::npos)
            << file;
    }
    CRegistry bad;
    EXPECT_FALSE(bad.CreateKey(static_cast<eRegKeyType>(7), name.c_str(), "/", true));
    EXPECT_FALSE(bad.isOpen());
}

TEST(Registry, HiveNamesCannotLeaveTheFolder)
{
    CRegistry reg;
    EXPECT_FALSE(reg.CreateKey(eRegSystem, "../escape", "/", true));
    EXPECT_FALSE(reg.CreateKey(eRegSystem, "", "/", true));
    EXPECT_FALSE(reg.CreateKey(eRegSystem, nullptr, "/", true));
    EXPECT_FALSE(fs::exists(g_testRoot + "/common/escape_sys.dat"));
}

TEST(Registry, EveryValueFormRoundTrips)
{
    const std::string name = hiveName();
    const std::string awkward = "say \"hi\" 100% \n line two \r\n \xE9\xFF\x01 end";
    const std::string eighty(80, 'e'), eightyOne(81, 'f');
    const CRegistry::StringList list{"a", "", "b,\"c\"", awkward};
    {
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/Values", true));
        EXPECT_TRUE(reg.SetValue("Int", -42));
        EXPECT_TRUE(reg.SetValue("Unsigned", 4000000000u));
        EXPECT_TRUE(reg.SetValue("Float", 1.5f));
        EXPECT_TRUE(reg.SetValue("True", true));
        EXPECT_TRUE(reg.SetValue("False", false));
        EXPECT_TRUE(reg.SetValue("Awkward", awkward.c_str()));
        EXPECT_TRUE(reg.SetValue("Eighty", eighty.c_str()));
        EXPECT_TRUE(reg.SetValue("EightyOne", eightyOne.c_str()));
        EXPECT_TRUE(reg.SetValue("Empty", ""));
        EXPECT_TRUE(reg.SetValue("List", list));
        EXPECT_TRUE(reg.SetValue("EmptyList", CRegistry::StringList{}));
    }
    // The file text first, then every value read back.
    const std::string file = readFile(systemHiveFile(name));
    EXPECT_NE(file.find("\"/VALUES/FLOAT\" = 1.500000\r\n"), std::string::npos);
    EXPECT_NE(file.find("\"/VALUES/AWKWARD\" = \"say %22hi%22 100%25 %0a line two %0d%0a %e9%ff%01 end\""),
              std::string::npos);
    EXPECT_NE(file.find("\"/VALUES/EMPTYLIST\" = {}\r\n"), std::string::npos);
    // The stored text is the quoted form: 82 characters, wrapped after 80.
    EXPECT_NE(file.find("\"/VALUES/EIGHTY\" = \"" + std::string(79, 'e') + "\r\n+e\"\r\n"),
              std::string::npos);

    CRegistry reg;
    ASSERT_TRUE(reg.OpenKey(eRegSystem, name.c_str(), "/values", true));
    int i = 0;
    unsigned u = 0;
    unsigned long ul = 0;
    float f = 0;
    bool t = false, fl = true;
    std::string s;
    CRegistry::StringList l{"stale"};
    EXPECT_TRUE(reg.QueryValue("int", i));
    EXPECT_EQ(i, -42);
    EXPECT_TRUE(reg.QueryValue("UNSIGNED", u));
    EXPECT_EQ(u, 4000000000u);
    EXPECT_TRUE(reg.QueryValue("Unsigned", ul));
    EXPECT_EQ(ul, 4000000000ul);
    EXPECT_TRUE(reg.QueryValue("Float", f));
    EXPECT_FLOAT_EQ(f, 1.5f);
    EXPECT_TRUE(reg.QueryValue("True", t));
    EXPECT_TRUE(t);
    EXPECT_TRUE(reg.QueryValue("False", fl));
    EXPECT_FALSE(fl);
    EXPECT_TRUE(reg.QueryValue("Awkward", s));
    EXPECT_EQ(s, awkward);
    EXPECT_TRUE(reg.QueryValue("Eighty", s));
    EXPECT_EQ(s, eighty);
    EXPECT_TRUE(reg.QueryValue("EightyOne", s));
    EXPECT_EQ(s, eightyOne);
    EXPECT_TRUE(reg.QueryValue("Empty", s));
    EXPECT_EQ(s, "");
    EXPECT_TRUE(reg.QueryValue("List", l));
    EXPECT_EQ(l, list);
    EXPECT_TRUE(reg.QueryValue("EmptyList", l));
    EXPECT_TRUE(l.empty());
}

TEST(Registry, ReloadedFileGivesTheSameValues)
{
    // Write through one family's hive, then load the same file through a
    // hand-copied hive of another name and compare every value.
    const std::string name = hiveName();
    const std::string text = std::string("\x01\x02\"%\r\n") + std::string(300, 'x') + "\xFE";
    {
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/K", true));
        reg.SetValue("S", text.c_str());
        reg.SetValue("N", 7);
    }
    fs::copy_file(systemHiveFile(name), systemHiveFile(name + "copy"));
    CRegistry copy;
    ASSERT_TRUE(copy.OpenKey(eRegSystem, (name + "copy").c_str(), "/K", true));
    std::string s;
    int n = 0;
    EXPECT_TRUE(copy.QueryValue("S", s));
    EXPECT_EQ(s, text);
    EXPECT_TRUE(copy.QueryValue("N", n));
    EXPECT_EQ(n, 7);
    EXPECT_EQ(copy.sequenceNumber(), 1u);
}

TEST(Registry, QueryFailuresLeaveTargetAlone)
{
    const std::string name = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/Q", true));
    reg.SetValue("Text", "hello");
    reg.SetValue("Number", 5);
    int i = 99;
    EXPECT_FALSE(reg.QueryValue("Text", i)) << "a string is no int";
    EXPECT_EQ(i, 99);
    std::string s = "keep";
    EXPECT_FALSE(reg.QueryValue("Number", s)) << "a number has no opening quote";
    EXPECT_EQ(s, "") << "the string form clears its target once the entry exists";
    s = "keep";
    EXPECT_FALSE(reg.QueryValue("Missing", s));
    EXPECT_EQ(s, "keep");
    float f = 2.5f;
    EXPECT_FALSE(reg.QueryValue("Missing", f));
    EXPECT_EQ(f, 2.5f);
}

TEST(Registry, BoolReadsTrueUnlessItStartsWithZero)
{
    const std::string name = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/B", true));
    const std::pair<const char*, bool> cases[] = {{"0", false}, {"1", true}, {"yes", true},
                                                  {"2", true},  {"07", false}};
    for (auto [stored, expected] : cases) {
        reg.regKey()->set("/B/FLAG", stored);
        bool value = !expected;
        EXPECT_TRUE(reg.QueryValue("Flag", value));
        EXPECT_EQ(value, expected) << stored;
    }
}

TEST(Registry, TextLists)
{
    const std::string name = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/T", true));
    std::string stored, text;

    reg.SetTextList("A", "a\r\n\r\nb");
    reg.regKey()->get("/T/A", stored);
    EXPECT_EQ(stored, "{\"a\",\"b\"}");
    EXPECT_TRUE(reg.QueryTextList("A", text));
    EXPECT_EQ(text, "a\r\nb");

    reg.SetTextList("B", "\r\na");
    reg.regKey()->get("/T/B", stored);
    EXPECT_EQ(stored, "{\"\",\"a\"}");

    reg.SetTextList("C", "");
    reg.regKey()->get("/T/C", stored);
    EXPECT_EQ(stored, "{}");

    reg.SetTextList("D", "one\ntwo\rthree\r\n");
    EXPECT_TRUE(reg.QueryTextList("D", text));
    EXPECT_EQ(text, "one\r\ntwo\r\nthree");
    EXPECT_FALSE(reg.QueryTextList("Missing", text));
}

TEST(Registry, IncValueCountsAndWraps)
{
    const std::string name = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/", true));
    int result = 0;
    EXPECT_TRUE(reg.IncValue("Count", 5, result));
    EXPECT_EQ(result, 5);
    EXPECT_TRUE(reg.IncValue("Count", -7, result));
    EXPECT_EQ(result, -2);
    reg.SetValue("Big", 2147483647);
    EXPECT_TRUE(reg.IncValue("Big", 1, result));
    EXPECT_EQ(result, -2147483647 - 1);
    std::string stored;
    reg.regKey()->get("/COUNT", stored);
    EXPECT_EQ(stored, "-2");
}

TEST(Registry, DeleteKeyRemovesTheSubtreeOnly)
{
    const std::string name = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/A", true));
    CRegistry b, bc, bcx;
    ASSERT_TRUE(b.CreateKey(reg, "B", true));
    ASSERT_TRUE(bc.CreateKey(b, "C", true));
    bc.SetValue("V", 1);
    CRegistry sibling;
    ASSERT_TRUE(sibling.CreateKey(reg, "BC", true));
    sibling.SetValue("W", 2);

    EXPECT_TRUE(reg.DeleteKey("b"));
    Hive* hive = reg.regKey();
    EXPECT_FALSE(hive->contains("/A/B"));
    EXPECT_FALSE(hive->contains("/A/B/C"));
    EXPECT_FALSE(hive->contains("/A/B/C/V"));
    EXPECT_TRUE(hive->contains("/A/BC"));
    EXPECT_TRUE(hive->contains("/A/BC/W"));
    EXPECT_FALSE(reg.DeleteKey("B")) << "already gone";
}

TEST(Registry, DeleteValueAndEmptyKey)
{
    const std::string name = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/E", true));
    reg.SetValue("One", 1);
    reg.SetValue("Two", 2);
    EXPECT_TRUE(reg.DeleteValue("one"));
    EXPECT_FALSE(reg.DeleteValue("one"));
    EXPECT_TRUE(reg.EmptyKey());
    EXPECT_FALSE(reg.EmptyKey()) << "nothing left to remove";
    EXPECT_TRUE(reg.regKey()->contains("/E"));
    EXPECT_FALSE(reg.regKey()->contains("/E/TWO"));

    CRegistry root;
    ASSERT_TRUE(root.OpenKey(eRegSystem, name.c_str(), "/", true));
    EXPECT_TRUE(root.EmptyKey());
    EXPECT_TRUE(root.regKey()->contains("/"));
    EXPECT_FALSE(root.regKey()->contains("/E"));
}

TEST(Registry, EnumerationListsDirectChildrenInByteOrder)
{
    const std::string name = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/Priority", true));
    reg.SetValue("X", 1);
    reg.SetValue("a", 1);
    CRegistry sub;
    ASSERT_TRUE(sub.CreateKey(reg, "Sub", true));
    sub.SetValue("Y", 2);
    CRegistry other;
    ASSERT_TRUE(other.CreateKey(eRegSystem, name.c_str(), "/Priority-Other", true));
    other.SetValue("Z", 3);

    std::string value;
    unsigned long type = 0;
    EXPECT_TRUE(reg.EnumValue(0, value, type));
    EXPECT_EQ(value, "A");
    EXPECT_TRUE(reg.EnumValue(1, value, type));
    EXPECT_EQ(value, "X");
    EXPECT_FALSE(reg.EnumValue(2, value, type));
    EXPECT_FALSE(reg.EnumValue(static_cast<unsigned long>(-1), value, type));

    std::string key;
    EXPECT_TRUE(reg.EnumKey(0, key));
    EXPECT_EQ(key, "SUB");
    EXPECT_FALSE(reg.EnumKey(1, key));

    CRegistry root;
    ASSERT_TRUE(root.OpenKey(eRegSystem, name.c_str(), "/", true));
    std::vector<std::string> keys;
    for (unsigned long i = 0; root.EnumKey(i, key); ++i)
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"PRIORITY", "PRIORITY-OTHER"}));

    CRegistry missing;
    ASSERT_TRUE(missing.OpenKey(reg, "NoSuchKey", true));
    EXPECT_FALSE(missing.EnumValue(0, value, type)) << "the key's own entry is missing";
}

TEST(Registry, ChildHandlesJoinPathsWithOneSlash)
{
    const std::string name = hiveName();
    CRegistry root;
    ASSERT_TRUE(root.CreateKey(eRegSystem, name.c_str(), "", true));
    CRegistry child;
    ASSERT_TRUE(child.OpenKey(root, "Child", true));
    EXPECT_FALSE(root.regKey()->contains("/CHILD")) << "OpenKey on a parent creates nothing";
    child.SetValue("V", 1);
    EXPECT_TRUE(root.regKey()->contains("/CHILD/V"));
    CRegistry closed, orphan;
    EXPECT_FALSE(orphan.OpenKey(closed, "X", true));
    EXPECT_FALSE(child.OpenKey(root, "Again", true)) << "already open";
}

TEST(Registry, ClosedHandleDoesNothing)
{
    CRegistry reg;
    int i = 0;
    std::string s;
    unsigned long type = 0;
    EXPECT_FALSE(reg.isOpen());
    EXPECT_FALSE(reg.CloseKey());
    EXPECT_FALSE(reg.SetValue("X", 1));
    EXPECT_FALSE(reg.QueryValue("X", i));
    EXPECT_FALSE(reg.IncValue("X", 1, i));
    EXPECT_FALSE(reg.DeleteValue("X"));
    EXPECT_FALSE(reg.DeleteKey("X"));
    EXPECT_FALSE(reg.EmptyKey());
    EXPECT_FALSE(reg.EnumKey(0, s));
    EXPECT_FALSE(reg.EnumValue(0, s, type));
    EXPECT_EQ(reg.sequenceNumber(), 0u);
}

TEST(Registry, OpeningTwiceFailsAndKeepsTheHandle)
{
    const std::string name = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/First", true));
    EXPECT_FALSE(reg.CreateKey(eRegSystem, name.c_str(), "/Second", true));
    reg.SetValue("V", 1);
    EXPECT_TRUE(reg.regKey()->contains("/FIRST/V"));
}

TEST(Registry, OverlongNamesAreRefusedNotTruncated)
{
    const std::string name = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/K", true));
    const std::string longName(1100, 'n');
    EXPECT_FALSE(reg.SetValue(longName.c_str(), 1));
    EXPECT_TRUE(reg.SetValue("Short", 1));
    CRegistry deep;
    EXPECT_FALSE(deep.CreateKey(eRegSystem, name.c_str(), ("/" + longName).c_str(), true));
    reg.CloseKey();
    CRegistry check;
    ASSERT_TRUE(check.OpenKey(eRegSystem, (name).c_str(), "/K", true));
    int v = 0;
    EXPECT_TRUE(check.QueryValue("Short", v));
}

TEST(Registry, WriteBackOnlyWithWriteBackHandles)
{
    const std::string name = hiveName();
    {
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/W", false));
        reg.SetValue("Pending", 1);
    }
    EXPECT_EQ(readFile(systemHiveFile(name)), "") << "no write-back yet";
    EXPECT_TRUE(CRegistry::flush(eRegSystem, name.c_str()));
    EXPECT_NE(readFile(systemHiveFile(name)).find("\"/W/PENDING\" = 1"), std::string::npos);
    EXPECT_FALSE(CRegistry::flush(eRegSystem, (name + "NotLoaded").c_str()));
}

TEST(Registry, SequenceNumberFollowsTheFile)
{
    const std::string name = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/S", true));
    EXPECT_EQ(reg.sequenceNumber(), 0u);
    for (unsigned expected = 1; expected <= 3; ++expected) {
        CRegistry writer;
        writer.CreateKey(eRegSystem, name.c_str(), "/S", true);
        writer.SetValue("N", static_cast<int>(expected));
        writer.CloseKey();
        EXPECT_EQ(reg.sequenceNumber(), expected);
    }
}

TEST(Registry, HandWrittenHivesLoad)
{
    const std::string name = hiveName();
    fs::create_directories(commonConfig());
    writeFile(systemHiveFile(name),
              "41\r\n\"/\"\r\n\"/NEXTID\" = 17\r\n\"/LIST\" = {\"a\",\"b%22\"}\r\n~\r\n"
              "\"/LEFTOVER\" = 9\r\n");
    CRegistry reg;
    ASSERT_TRUE(reg.OpenKey(eRegSystem, name.c_str(), "/", true));
    int next = 0;
    EXPECT_TRUE(reg.QueryValue("NextId", next));
    EXPECT_EQ(next, 17);
    CRegistry::StringList list;
    EXPECT_TRUE(reg.QueryValue("List", list));
    EXPECT_EQ(list, (CRegistry::StringList{"a", "b\""}));
    EXPECT_FALSE(reg.QueryValue("Leftover", next));
    EXPECT_EQ(reg.sequenceNumber(), 41u);
}

TEST(Registry, ThreadsShareAHiveSafely)
{
    const std::string name = hiveName();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                CRegistry reg;
                reg.CreateKey(eRegSystem, name.c_str(), ("/T" + std::to_string(t)).c_str(), true);
                int count = 0;
                reg.IncValue("Count", 1, count);
                int read = 0;
                reg.QueryValue("Count", read);
                std::string key;
                reg.EnumKey(0, key);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    CRegistry reg;
    ASSERT_TRUE(reg.OpenKey(eRegSystem, name.c_str(), "/", true));
    for (int t = 0; t < 4; ++t) {
        CRegistry sub;
        ASSERT_TRUE(sub.OpenKey(reg, ("T" + std::to_string(t)).c_str(), true));
        int count = 0;
        EXPECT_TRUE(sub.QueryValue("Count", count));
        EXPECT_EQ(count, 300);
    }
}

TEST(Registry, NoTemporaryFilesAreLeft)
{
    const std::string name = hiveName();
    for (int i = 0; i < 5; ++i) {
        CRegistry reg;
        reg.CreateKey(eRegSystem, name.c_str(), "/", true);
        reg.SetValue("I", i);
    }
    for (const auto& entry : fs::directory_iterator(commonConfig()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
            << entry.path();
}

} // namespace
