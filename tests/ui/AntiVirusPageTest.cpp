// The "Anti-Virus" page: its defaults (the quarantine folder made when the
// page is built), the enabling of its controls, and what OK stores, as the
// virus scanner then reads it.
#include "antivirus/VirusScanner.h"
#include "common/SettingsTable.h"
#include "ui/CAntiVirusPage.h"

#include "SettingsTestSupport.h"
#include "support/TestHelpers.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

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
    // The other tests run in this user's root: it comes back however this one ends.
    struct PerUserAgain {
        ProgramContext saved = programContext();
        ~PerUserAgain()
        {
            setSharedUserData(false);
            programContext() = saved;
        }
    } perUserAgain;
    const TempDir scratch;
    const std::filesystem::path common = std::filesystem::path(scratch.path()) / "common";
    ScopedEnv commonRoot("QUILLFENCE_COMMON_ROOT", common.c_str());
    ASSERT_TRUE(chooseProgramDataRoot(kProductName, true));
    const std::string expected = (common / kProductName / "state").string();

    EXPECT_EQ(CAntiVirusPage::defaultQuarantinePath().toStdString(), expected);
    EXPECT_EQ(VirusScanner().quarantinePath, expected);
    CAntiVirusPage page;
    page.ensureInitialised();
    EXPECT_EQ(page.quarantinePath()->text().toStdString(), expected);
    EXPECT_TRUE(std::filesystem::is_directory(expected));
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
