// The assembled settings window: its caption, its pages in tab order, the
// version on the About page, OK writing only the pages that were shown, and
// Enter on a list row opening the row, not taken for OK.
#include "ui/CAboutPage.h"
#include "ui/CAntiVirusPage.h"
#include "ui/CGeneralPage.h"
#include "ui/CGlobalPage.h"
#include "ui/CListsPage.h"
#include "ui/CRulesPage.h"
#include "ui/CWordsPage.h"
#include "ui/SettingsWindow.h"

#include "ModalDriver.h"
#include "SettingsTestSupport.h"

#include <QLabel>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

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

TEST_F(SettingsWindowTest, EnterOnARowOpensItAndNeverClosesTheWindow)
{
    writeTextFile(rulesFolder() + "/user.sfr", "#rule \"Mine\" 40\nisspam()\n#endrule\n");
    writeTextFile(rulesFolder() + "/mine.lst", "*@spam.example\n");
    auto sheet = buildSettingsWindow();
    sheet->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
    sheet->tabs()->setCurrentIndex(1);   // Settings: a page OK would write
    struct Row {
        int tab;
        QTreeWidget* list;
    };
    auto* rules = qobject_cast<CRulesPage*>(sheet->page(0));
    auto* patterns = qobject_cast<CListsPage*>(sheet->page(2));
    ASSERT_TRUE(rules && patterns);
    for (const Row& row : {Row{0, rules->list()}, Row{2, patterns->lists()}}) {
        SCOPED_TRACE(sheet->tabs()->tabText(row.tab).toStdString());
        sheet->tabs()->setCurrentIndex(row.tab);
        ASSERT_GT(row.list->topLevelItemCount(), 0);
        row.list->setCurrentItem(row.list->topLevelItem(row.list->topLevelItemCount() - 1));
        row.list->setFocus();
        // The row's editor opens and is closed with Escape.
        auto seen = ModalDriver::onNextModal([](QWidget* editor) { QTest::keyClick(editor, Qt::Key_Escape); });
        QTest::keyClick(row.list, Qt::Key_Return);
        EXPECT_TRUE(seen->came);
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_NE(sheet->result(), QDialog::Accepted);
    }
    int value = 0;
    EXPECT_FALSE(readSetting("TidyDays", value)) << "nothing was saved";
    sheet->reject();
}

} // namespace
