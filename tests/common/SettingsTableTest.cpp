// The settings table and its access through the store: sound rows, names
// found as users write them, every value round-tripping through its text
// form and a hive file, bad text refused with nothing written, and hand-made
// nonsense in the file counting as missing.
#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/HiveFormat.h"
#include "common/SettingValues.h"

#include "support/SettingSamples.h"
#include "support/TestHelpers.h"

#include "RegistryTestRoots.h"

#include <set>

namespace {

TEST(SettingsTable, RowsAreSoundAndEveryNameIsFoundAsUsersWriteIt)
{
    std::set<std::string> names;
    for (const SettingSample& value : everySetting()) {
        const SettingInfo& info = *value.info;
        const std::string name = settingName(info.id, value.band);
        SCOPED_TRACE(name);
        EXPECT_TRUE(names.insert(hiveformat::upperPath(name)).second) << "a second setting of that name";
        if (info.type == SettingType::Number || info.type == SettingType::Character ||
            info.type == SettingType::Flag) {
            EXPECT_TRUE(settingInRange(info.id, settingDefault(info.id, value.band)));
        }
        EXPECT_TRUE(*info.description != '\0');
        int band = -1;
        std::string mixed = name;
        for (size_t i = 0; i < mixed.size(); i += 2)
            mixed[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(mixed[i])));
        EXPECT_EQ(findSetting(mixed, band), &info);
        EXPECT_EQ(band, value.band);
    }
    int band = 0;
    for (const char* none : {"Rating5", "Rating0", "Subject6", "Subject", "Rating", "ListenPort1", "Listen", "",
                             "TidyDays2", "Subject12"})
        EXPECT_EQ(findSetting(none, band), nullptr) << none;
    EXPECT_EQ(settingDefault(Setting::Rating, 1), 20);
    EXPECT_EQ(settingDefault(Setting::Rating, 4), 80);
}

TEST(SettingsTable, EveryValueRoundTripsThroughItsTextAndTheFile)
{
    const std::string hive = hiveName();
    const std::vector<SettingSample> all = everySetting();
    {
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(eRegSystem, hive.c_str(), "/", true));
        for (const SettingSample& value : all) {
            std::string error;
            EXPECT_TRUE(storeSettingText(&reg, *value.info, value.band, value.otherText(), error)) << error;
        }
    }
    // Read back from the file, as another process finds it.
    const hiveformat::Parsed onDisk = hiveformat::parseHive(readFile(commonConfig() + "/" + lower(hive) + "_sys.dat"));
    ASSERT_TRUE(onDisk.whole);
    CRegistry reg;
    ASSERT_TRUE(reg.OpenKey(eRegSystem, hive.c_str(), "/", false));
    for (const SettingSample& value : all) {
        const std::string name = settingName(value.info->id, value.band);
        SCOPED_TRACE(name);
        EXPECT_EQ(onDisk.entries.count("/" + hiveformat::upperPath(name)), 1u);
        bool stored = false;
        const std::string shown = settingShown(reg, *value.info, value.band, stored);
        EXPECT_TRUE(stored);
        const std::string expected = value.otherText();
        EXPECT_EQ(shown, value.info->type == SettingType::Character && expected.size() > 1
                             ? std::string(1, static_cast<char>(std::stoi(expected)))
                             : expected);
        EXPECT_NE(shown, settingDefaultShown(*value.info, value.band));
    }
}

TEST(SettingsTable, BadTextIsRefusedWithItsReasonAndNothingWritten)
{
    const std::string hive = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, hive.c_str(), "/", true));
    reg.SetValue("LISTENPORT", 2110);
    const struct {
        Setting setting;
        int band;
        const char* text;
        const char* reason;
    } rows[] = {
        {Setting::ListenPort, 0, "70000", "out of range (1 to 65535)"},
        {Setting::ListenPort, 0, "0", "out of range"},
        {Setting::ListenPort, 0, "port", "not a whole number"},
        {Setting::ListenPort, 0, "12 ", "not a whole number"},
        {Setting::ListenPort, 0, "", "not a whole number"},
        {Setting::ListenPort, 0, "+1110", "not a whole number"},
        {Setting::ListenPort, 0, "99999999999999999999999", "not a whole number"},
        {Setting::Rating, 2, "101", "out of range"},
        {Setting::TidyLogs, 0, "maybe", "not 1 or 0"},
        {Setting::SeparatorChar, 0, " ", "printable"},
        {Setting::SeparatorChar, 0, "ab", "not one character"},
        {Setting::SubjectMacro, 3, "two\nlines", "line break"},
    };
    for (const auto& row : rows) {
        const std::string name = settingName(row.setting, row.band);
        SCOPED_TRACE(name + " = " + row.text);
        std::string error;
        EXPECT_FALSE(storeSettingText(&reg, settingInfo(row.setting), row.band, row.text, error));
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
        EXPECT_EQ(error.rfind(name + ": ", 0), 0u) << error;
        bool present = false;
        EXPECT_EQ(reg.QueryValue(name.c_str(), present), row.setting == Setting::ListenPort);
    }
    int port = 0;
    EXPECT_TRUE(reg.QueryValue("ListenPort", port));
    EXPECT_EQ(port, 2110);
}

// What a hand edit leaves that the type or range cannot hold is read as
// missing: the default stays in force.
TEST(SettingsTable, AStoredValueOutOfRangeOrUnreadableCountsAsMissing)
{
    const std::string hive = hiveName();
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, hive.c_str(), "/", true));
    reg.SetValue("ListenPort", 70000);
    reg.SetValue("MaxSessions", "many");
    reg.SetValue("SeparatorChar", 200);
    reg.SetValue("Rating3", 55);
    EXPECT_EQ(settingNumber(reg, Setting::ListenPort), 110);
    EXPECT_EQ(settingNumber(reg, Setting::MaxSessions), 8);
    EXPECT_EQ(settingNumber(reg, Setting::SeparatorChar), '@');
    EXPECT_EQ(settingNumber(reg, Setting::Rating, 3), 55);
    int port = 1234;
    EXPECT_FALSE(querySetting(reg, Setting::ListenPort, port));
    EXPECT_EQ(port, 1234);
    bool stored = true;
    EXPECT_EQ(settingShown(reg, settingInfo(Setting::ListenPort), 0, stored), "110");
    EXPECT_FALSE(stored);
}

TEST(SettingsTable, LoggingAndDebugLoggingGiveTheEventLogsLevels)
{
    EXPECT_EQ(eventLogMask(0, false), 0x20C7u);
    EXPECT_EQ(eventLogMask(1, false), 0x2007u);
    EXPECT_EQ(eventLogMask(2, false), 0x2003u);
    EXPECT_EQ(eventLogMask(9, false), 0x20C7u);
    EXPECT_EQ(eventLogMask(1, true), 0x2007u | kDebugLevel);
    EXPECT_EQ(eventLogMask(2, true) & 0xC4u, 0u) << "no information or traffic at level 2";
}

} // namespace
