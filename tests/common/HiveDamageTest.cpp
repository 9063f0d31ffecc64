// Hive files that do not read whole: set aside under a name of their own,
// never used or written over, replaced by the seed (the shipped settings)
// when there is one, logged, and noted once for the user.  Files that read
// whole are left as they are.
#include "common/CRegistry.h"
#include "common/HiveNotices.h"

#include "support/Subprocess.h"
#include "support/TestHelpers.h"

#include "RegistryTestRoots.h"

#include <sys/wait.h>

#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;

// The shipped settings the seeded hives are made from.
const std::string kSeed = "1\r\n\"/\"\r\n\"/LISTENPORT\" = 1110\r\n\"/RATING4\" = 80\r\n~\r\n";

std::string userHiveFile(const std::string& name) { return userConfig() + "/" + name + "_usr.dat"; }
std::string systemHiveFile(const std::string& name) { return commonConfig() + "/" + name + "_sys.dat"; }

bool logHolds(const std::string& text)
{
    for (const auto& entry : fs::directory_iterator(g_testRoot + "/log"))
        if (readFile(entry.path()).find(text) != std::string::npos)
            return true;
    return false;
}

// The notices noted for path, taken (so each test sees only its own).
std::vector<HiveSetAside> noticesFor(const std::string& path)
{
    std::vector<HiveSetAside> mine;
    for (HiveSetAside& notice : takeHiveSetAsides())
        if (notice.path == path)
            mine.push_back(std::move(notice));
    return mine;
}

struct DamageCase {
    const char* name;
    std::string content;
};

class DamagedHive : public ::testing::TestWithParam<DamageCase>
{
};

TEST_P(DamagedHive, IsSetAsideLoggedAndReplacedByTheSeed)
{
    const std::string name = lower(hiveName());
    const std::string file = userHiveFile(name);
    fs::create_directories(userConfig());
    writeFile(file, GetParam().content);
    writeFile(userConfig() + "/" + name + ".seed", kSeed);
    CRegistry::setSeedFile(eRegUser, name.c_str(), userConfig() + "/" + name + ".seed");

    CRegistry reg;
    ASSERT_TRUE(reg.OpenKey(eRegUser, name.c_str(), "/", true));
    int port = 0, rating = 0;
    EXPECT_TRUE(reg.QueryValue("ListenPort", port));
    EXPECT_EQ(port, 1110);
    EXPECT_TRUE(reg.QueryValue("Rating4", rating));
    EXPECT_EQ(rating, 80) << "the shipped value, not the damaged file's";
    EXPECT_FALSE(reg.QueryValue("Rating3", rating)) << "nothing of the damaged file is used";

    EXPECT_EQ(readFile(file + ".damaged"), GetParam().content) << "set aside byte for byte";
    EXPECT_EQ(readFile(file), kSeed);
    EXPECT_TRUE(logHolds("Damaged settings file " + file + " set aside as " + file +
                         ".damaged; using the shipped settings"));
    const auto notices = noticesFor(file);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].asidePath, file + ".damaged");
    EXPECT_TRUE(notices[0].shipped);
    EXPECT_TRUE(noticesFor(file).empty()) << "told once";

    // Changes go to the replacement; the set-aside copy stays as it was.
    EXPECT_TRUE(reg.SetValue("Rating3", 60));
    EXPECT_TRUE(reg.CloseKey());
    EXPECT_EQ(readFile(file),
              "2\r\n\"/\"\r\n\"/LISTENPORT\" = 1110\r\n\"/RATING3\" = 60\r\n\"/RATING4\" = 80\r\n~\r\n");
    EXPECT_EQ(readFile(file + ".damaged"), GetParam().content);
}

INSTANTIATE_TEST_SUITE_P(
    Registry, DamagedHive,
    ::testing::Values(
        DamageCase{"RandomBytes", randomBytes(4096, 20240611)},
        DamageCase{"CutInAValue", "7\r\n\"/\"\r\n\"/LISTENPORT\" = 1110\r\n\"/RATING3\" = 70\r\n\"/RATING4\" = 8"},
        DamageCase{"CutAfterARecord", "7\r\n\"/\"\r\n\"/RATING3\" = 70\r\n"},
        DamageCase{"CutInAContinuation",
                   "7\r\n\"/\"\r\n\"/RATING3\" = 70\r\n\"/LONG\" = " + std::string(80, 'x') + "\r\n+x"},
        DamageCase{"RecordWithoutClosingQuote", "7\r\n\"/\"\r\n\"/RATING3 = 70\r\n~\r\n"},
        DamageCase{"ValueMissingAfterEquals", "7\r\n\"/\"\r\n\"/RATING3\" =\r\n~\r\n"},
        DamageCase{"LineThatIsNoRecord", "7\r\n\"/\"\r\nRATING3 70\r\n~\r\n"},
        DamageCase{"NoSequenceNumber", "\"/\"\r\n\"/RATING3\" = 70\r\n~\r\n"},
        DamageCase{"OverlongLine", "7\r\n\"/" + std::string(1100, 'A') + "\"\r\n~\r\n"}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

TEST(HiveDamage, AWholeHiveIsLeftAsItIs)
{
    const std::string name = lower(hiveName());
    const std::string file = userHiveFile(name);
    fs::create_directories(userConfig());
    // Bytes after the end marker are an older, longer content's tail.
    const std::string whole = "7\r\n\"/\"\r\n\"/LONG\" = \"" + std::string(80, 'x') + "\r\n+yy\"\r\n\"/RATING4\" = 70\r\n"
                              "~\r\n\"/LEFTOVER\" = 1\r\n\"/CUT";
    writeFile(file, whole);
    writeFile(userConfig() + "/" + name + ".seed", kSeed);
    CRegistry::setSeedFile(eRegUser, name.c_str(), userConfig() + "/" + name + ".seed");
    {
        CRegistry reg;
        ASSERT_TRUE(reg.OpenKey(eRegUser, name.c_str(), "/", true));
        int rating = 0;
        EXPECT_TRUE(reg.QueryValue("Rating4", rating));
        EXPECT_EQ(rating, 70);
        std::string value;
        EXPECT_TRUE(reg.QueryValue("Long", value));
        EXPECT_EQ(value, std::string(80, 'x') + "yy");
    }
    EXPECT_EQ(readFile(file), whole);
    EXPECT_FALSE(fs::exists(file + ".damaged"));
    EXPECT_TRUE(noticesFor(file).empty());
}

TEST(HiveDamage, AMissingHiveIsMadeFromTheSeedAndAnEmptyOneStaysEmpty)
{
    const std::string name = lower(hiveName());
    writeFile(g_testRoot + "/" + name + ".seed", kSeed);
    CRegistry::setSeedFile(eRegUser, name.c_str(), g_testRoot + "/" + name + ".seed");
    CRegistry::setSeedFile(eRegUser, (name + "_empty").c_str(), g_testRoot + "/" + name + ".seed");
    fs::create_directories(userConfig());
    writeFile(userHiveFile(name + "_empty"), "");

    CRegistry seeded, empty;
    ASSERT_TRUE(seeded.OpenKey(eRegUser, name.c_str(), "/", true));
    ASSERT_TRUE(empty.OpenKey(eRegUser, (name + "_empty").c_str(), "/", true));
    int port = 0;
    EXPECT_TRUE(seeded.QueryValue("ListenPort", port));
    EXPECT_EQ(port, 1110);
    EXPECT_EQ(readFile(userHiveFile(name)), kSeed);
    EXPECT_FALSE(empty.QueryValue("ListenPort", port)) << "an empty file is a new hive, not a damaged one";
    EXPECT_FALSE(fs::exists(userHiveFile(name + "_empty") + ".damaged"));
    EXPECT_TRUE(noticesFor(userHiveFile(name)).empty());
}

TEST(HiveDamage, AnEarlierSetAsideCopyIsNeverReplaced)
{
    const std::string name = lower(hiveName());
    const std::string file = systemHiveFile(name);
    fs::create_directories(commonConfig());
    writeFile(file + ".damaged", "the first damaged copy");
    writeFile(file + ".damaged.2", "the second");
    writeFile(file, "3\r\n\"/\"\r\n\"/A\" = 1");
    CRegistry reg;
    ASSERT_TRUE(reg.OpenKey(eRegSystem, name.c_str(), "/", true));
    int a = 0;
    EXPECT_FALSE(reg.QueryValue("A", a)) << "without a seed the hive starts empty";
    EXPECT_EQ(readFile(file + ".damaged"), "the first damaged copy");
    EXPECT_EQ(readFile(file + ".damaged.2"), "the second");
    EXPECT_EQ(readFile(file + ".damaged.3"), "3\r\n\"/\"\r\n\"/A\" = 1");
    const auto notices = noticesFor(file);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_FALSE(notices[0].shipped);
    EXPECT_TRUE(logHolds("Damaged settings file " + file + " set aside as " + file +
                         ".damaged.3; using the default settings"));
    reg.SetValue("B", 2);
    reg.CloseKey();
    EXPECT_EQ(readFile(file), "1\r\n\"/\"\r\n\"/B\" = 2\r\n~\r\n");
}

TEST(HiveDamage, AFileDamagedWhileLoadedIsSetAsideBeforeTheNextWrite)
{
    const std::string name = lower(hiveName());
    const std::string file = systemHiveFile(name);
    {
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/", true));
        reg.SetValue("A", 1);
    }
    // Something outside the store cuts the file short.
    const std::string cut = "1\r\n\"/\"\r\n\"/A\" = ";
    writeFile(file, cut);
    CRegistry reg;
    ASSERT_TRUE(reg.OpenKey(eRegSystem, name.c_str(), "/", true));
    EXPECT_TRUE(reg.SetValue("B", 2));
    EXPECT_TRUE(reg.CloseKey());
    EXPECT_EQ(readFile(file + ".damaged"), cut) << "never written over";
    const auto parsed = hiveformat::parseHive(readFile(file));
    EXPECT_TRUE(parsed.whole);
    EXPECT_EQ(parsed.entries.count("/B"), 1u);
    EXPECT_EQ(noticesFor(file).size(), 1u);
}

TEST(HiveDamage, ProcessesLoadingOneDamagedFileSetItAsideOnce)
{
    const std::string name = lower(hiveName());
    const std::string file = systemHiveFile(name);
    fs::create_directories(commonConfig());
    const std::string damaged = randomBytes(2000, 20240611);
    writeFile(file, damaged);
    const std::string tool = siblingProgram("hive_tool");
    std::vector<std::unique_ptr<Subprocess>> writers;
    for (int i = 0; i < 4; ++i)
        writers.push_back(std::make_unique<Subprocess>(std::vector<std::string>{
            tool, "set", "1", name, "/", "W" + std::to_string(i), "x"}));
    for (auto& writer : writers) {
        const int status = writer->wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(readFile(file + ".damaged"), damaged);
    EXPECT_FALSE(fs::exists(file + ".damaged.2")) << "set aside by one process only";
    const auto parsed = hiveformat::parseHive(readFile(file));
    EXPECT_TRUE(parsed.whole);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(parsed.entries.count("/W" + std::to_string(i)), 1u) << "writer " << i;
}

} // namespace
