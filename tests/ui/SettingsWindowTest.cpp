// The assembled settings window: its caption, its pages in tab order, the
// version on the About page, and OK writing only the pages that were shown.
#include "ui/CAboutPage.h"
#include "ui/CAntiVirusPage.h"
#include "ui/CGeneralPage.h"
#include "ui/CGlobalPage.h"
#include "ui/CListsPage.h"
#include "ui/CRulesPage.h"
#include "ui/CWordsPage.h"
#include "ui/SettingsWindow.h"

#include "SettingsTestSupport.h"

#include <QLabel>
#include <QTabWidget>

namespace {

using SettingsWindowTest = SettingsPageTest;

QStringList tabCaptions(const CCSPropertySheet& sheet)
{
    QStringList captions;
    for (int i = 0; i < sheet.tabs()->count(); ++i)
        captions << sheet.tabs()->tabText(i);
    return captions;
}

TEST_F(SettingsWindowTest, PagesComeInTabOrder)
{
    auto sheet = buildSettingsWindow();
    EXPECT_EQ(sheet->windowTitle(), "Quillfence Pro");
    EXPECT_EQ(tabCaptions(*sheet),
              (QStringList{"Rules", "Settings", "Patterns", "Words", "Rating", "About", "Anti-Virus"}));
    EXPECT_NE(qobject_cast<CRulesPage*>(sheet->page(0)), nullptr);
    EXPECT_NE(qobject_cast<CGeneralPage*>(sheet->page(1)), nullptr);
    EXPECT_NE(qobject_cast<CListsPage*>(sheet->page(2)), nullptr);
    EXPECT_NE(qobject_cast<CWordsPage*>(sheet->page(3)), nullptr);
    EXPECT_NE(qobject_cast<CGlobalPage*>(sheet->page(4)), nullptr);
    EXPECT_NE(qobject_cast<CAboutPage*>(sheet->page(5)), nullptr);
    EXPECT_NE(qobject_cast<CAntiVirusPage*>(sheet->page(6)), nullptr);
}

TEST_F(SettingsWindowTest, TheAboutPageShowsTheVersion)
{
    auto sheet = buildSettingsWindow();
    auto* about = qobject_cast<CAboutPage*>(sheet->page(5));
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(CAboutPage::version(), QF_TEST_VERSION);
    EXPECT_TRUE(about->versionLabel()->text().contains(QF_TEST_VERSION));
}

TEST_F(SettingsWindowTest, OkWritesOnlyThePagesShown)
{
    auto sheet = buildSettingsWindow();
    sheet->tabs()->setCurrentIndex(1);   // Settings
    sheet->accept();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    int value = 0;
    unsigned tenths = 0;
    bool scan = false;
    EXPECT_TRUE(readSetting("TidyDays", value));
    EXPECT_FALSE(readSetting("Rating1", tenths)) << "the Rating page was never shown";
    EXPECT_FALSE(readSetting("Scan", scan, "/antivirus")) << "the Anti-Virus page was never shown";

    auto again = buildSettingsWindow();
    again->tabs()->setCurrentIndex(4);   // Rating
    again->tabs()->setCurrentIndex(6);   // Anti-Virus
    again->accept();
    EXPECT_TRUE(readSetting("Rating1", tenths));
    EXPECT_EQ(tenths, 20u);
    EXPECT_TRUE(readSetting("Scan", scan, "/antivirus"));
}

TEST_F(SettingsWindowTest, CancelWritesNothing)
{
    auto sheet = buildSettingsWindow();
    sheet->tabs()->setCurrentIndex(1);   // Settings
    sheet->tabs()->setCurrentIndex(4);   // Rating
    sheet->reject();
    int value = 0;
    unsigned tenths = 0;
    EXPECT_FALSE(readSetting("TidyDays", value));
    EXPECT_FALSE(readSetting("Rating1", tenths));
}

} // namespace
