// The "Anti-Virus" page: its defaults (the quarantine folder made when the
// page is built), the enabling of its controls, and what OK stores, as the
// virus scanner then reads it.
#include "antivirus/VirusScanner.h"
#include "common/SettingsTable.h"
#include "ui/CAntiVirusPage.h"

#include "SettingsTestSupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <cstdlib>
#include <filesystem>

namespace {

using AntiVirusPageTest = SettingsPageTest;

TEST_F(AntiVirusPageTest, DefaultsAreShownAndTheQuarantineFolderMade)
{
    const std::string quarantine = CAntiVirusPage::defaultQuarantinePath().toStdString();
    EXPECT_EQ(quarantine, VirusScanner().quarantinePath) << "the scanner's own default";
    std::filesystem::remove_all(quarantine);

    CAntiVirusPage page;
    EXPECT_TRUE(std::filesystem::is_directory(quarantine));
    page.ensureInitialised();
    EXPECT_TRUE(page.scan()->isChecked());
    EXPECT_EQ(page.quarantine()->isChecked(), settingDefault(Setting::Quarantine) != 0);
    EXPECT_EQ(page.quarantinePath()->text().toStdString(), quarantine);
    EXPECT_EQ(page.mimeTypes()->toPlainText(), "text/plain");
    EXPECT_FALSE(page.isModified());

    ASSERT_TRUE(page.onOK());
    bool scan = false, quarantined = false;
    std::string path, types;
    EXPECT_TRUE(readSetting("Scan", scan, "/antivirus"));
    EXPECT_TRUE(readSetting("Quarantine", quarantined, "/antivirus"));
    EXPECT_TRUE(readSetting("QuarantinePath", path, "/antivirus"));
    CRegistry reg;
    ASSERT_TRUE(openSettingsKey(reg, "/antivirus"));
    EXPECT_TRUE(reg.QueryTextList("MimeTypes", types));
    EXPECT_TRUE(scan);
    EXPECT_EQ(quarantined, settingDefault(Setting::Quarantine) != 0);
    EXPECT_EQ(path, quarantine);
    EXPECT_EQ(types, "text/plain");
}

// In shared mode the proxy keeps its data under the common root: the page
// offers the folder the scanner will use there, not one of this user's.
TEST_F(AntiVirusPageTest, TheDefaultFolderIsUnderTheSharedRootInSharedMode)
{
    // The common root is the test program's own (its shared settings are
    // kept open for the whole run); the other tests run in this user's
    // root, which comes back however this test ends.
    const char* common = std::getenv("QUILLFENCE_COMMON_ROOT");
    ASSERT_NE(common, nullptr);
    const std::filesystem::path expected = std::filesystem::path(common) / kProductName / "state";
    struct PerUserAgain {
        ProgramContext saved = programContext();
        bool shared = isSharedUserData();
        std::filesystem::path made;
        ~PerUserAgain()
        {
            setSharedUserData(shared);
            programContext() = saved;
            std::error_code ignored;
            std::filesystem::remove_all(made, ignored);
        }
    } perUserAgain;
    perUserAgain.made = expected;
    ASSERT_FALSE(std::filesystem::exists(expected));
    ASSERT_TRUE(chooseProgramDataRoot(kProductName, true));

    CAntiVirusPage page;
    EXPECT_TRUE(std::filesystem::is_directory(expected)) << "made by the page";
    page.ensureInitialised();
    EXPECT_EQ(page.quarantinePath()->text().toStdString(), expected.string());
    EXPECT_EQ(CAntiVirusPage::defaultQuarantinePath().toStdString(), expected.string());
    EXPECT_EQ(VirusScanner().quarantinePath, expected.string());
}

TEST_F(AntiVirusPageTest, TheQuarantineControlsFollowScanAndQuarantine)
{
    CAntiVirusPage page;
    page.ensureInitialised();
    struct Row {
        bool scan, quarantine;
        bool quarantineEnabled, browseEnabled;
    };
    const Row rows[] = {
        {true, true, true, true},
        {true, false, true, false},
        {false, true, false, false},
        {false, false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.scan) + std::to_string(row.quarantine));
        page.scan()->setChecked(row.scan);
        page.quarantine()->setChecked(row.quarantine);
        EXPECT_EQ(page.quarantine()->isEnabled(), row.quarantineEnabled);
        EXPECT_EQ(page.quarantinePath()->isEnabled(), row.quarantineEnabled);
        EXPECT_EQ(page.browse()->isEnabled(), row.browseEnabled);
    }
}

TEST_F(AntiVirusPageTest, ChangesMarkThePageAndReachTheScanner)
{
    const std::string folder = programContext().dataRoot + "/held";
    CAntiVirusPage page;
    page.ensureInitialised();
    QTest::mouseClick(page.quarantine(), Qt::LeftButton);
    EXPECT_TRUE(page.isModified());
    page.quarantinePath()->setText(QString::fromStdString(folder));
    page.mimeTypes()->setPlainText("text/plain\napplication/zip\n\ntext/html");
    ASSERT_TRUE(page.onOK());

    const bool clicked = settingDefault(Setting::Quarantine) == 0;
    VirusScanner scanner;
    EXPECT_EQ(scanner.quarantine, clicked);
    EXPECT_TRUE(scanner.scanEnabled);
    EXPECT_EQ(scanner.quarantinePath, folder);
    EXPECT_EQ(scanner.mimeTypes, (std::vector<std::string>{"text/plain", "application/zip", "text/html"}));

    CAntiVirusPage again;
    again.ensureInitialised();
    EXPECT_EQ(again.quarantine()->isChecked(), clicked);
    EXPECT_EQ(again.mimeTypes()->toPlainText(), "text/plain\napplication/zip\ntext/html");
}

TEST_F(AntiVirusPageTest, ScanOffIsStored)
{
    CAntiVirusPage page;
    page.ensureInitialised();
    page.scan()->setChecked(false);
    EXPECT_TRUE(page.isModified());
    ASSERT_TRUE(page.onOK());
    EXPECT_TRUE(hiveHasLine("\"/ANTIVIRUS/SCAN\" = 0"));
}

} // namespace
