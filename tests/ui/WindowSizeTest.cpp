// The windows' first sizes with the shipped rules: the settings window shows
// every tab and the longest rule name whole, and it, the editors and the
// setup wizard stay within the screen's available area.  Run at scale 1 on the offscreen
// 800x800 screen, and again at scale 2 on a 1600x900 screen; the placement
// test on Xvfb under a window manager (see CMakeLists.txt).
#include "ui/CRulesPage.h"
#include "ui/RuleEditor.h"
#include "ui/SettingsWindow.h"
#include "ui/SetupWizard.h"

#include "SettingsTestSupport.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>

namespace {

class WindowSize : public SettingsPageTest
{
protected:
    void SetUp() override
    {
        SettingsPageTest::SetUp();
        // The shipped rules, whose names the Rules page lists.
        const std::filesystem::path shipped = std::filesystem::path(QF_SHIPPED_INCLUDE).parent_path();
        std::filesystem::copy_file(shipped / "system.sfr", rulesFolder() + "/system.sfr");
        std::filesystem::copy_file(shipped / "spamfltr.inc", rulesFolder() + "/spamfltr.inc");
    }

    static void expectWithinScreen(const QWidget& window)
    {
        const QRect area = window.screen()->availableGeometry();
        EXPECT_TRUE(area.contains(window.frameGeometry()))
            << window.windowTitle().toStdString() << ": " << window.frameGeometry().width() << "x"
            << window.frameGeometry().height() << " at " << window.x() << "," << window.y() << " on "
            << area.width() << "x" << area.height();
    }
};

TEST_F(WindowSize, TheSettingsWindowShowsEveryTabAndTheLongestRuleName)
{
    auto sheet = buildSettingsWindow();
    sheet->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
    expectWithinScreen(*sheet);

    const QTabBar* tabs = sheet->tabs()->tabBar();
    ASSERT_EQ(tabs->count(), 7);
    for (int i = 0; i < tabs->count(); ++i) {
        EXPECT_LE(tabs->tabRect(i).right(), tabs->width()) << tabs->tabText(i).toStdString() << " is out of sight";
        EXPECT_GE(tabs->tabRect(i).width(), tabs->fontMetrics().horizontalAdvance(tabs->tabText(i))) << "tab text cut";
    }

    auto* rules = qobject_cast<CRulesPage*>(sheet->page(0));
    ASSERT_NE(rules, nullptr);
    QString longest;
    for (const QString& name : rules->names())
        if (name.size() > longest.size())
            longest = name;
    ASSERT_GT(longest.size(), 20) << "the shipped rules are listed";
    const int needed = rules->list()->fontMetrics().horizontalAdvance(longest);
    EXPECT_GE(rules->list()->header()->sectionSize(CRulesPage::NameColumn), needed) << longest.toStdString();
    sheet->reject();
}

TEST_F(WindowSize, TheEditorsFitTheScreenWithTheirButtonsInSight)
{
    RuleEditor rule("Priority fields out of place", "3.0", false, true);
    rule.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rule));
    expectWithinScreen(rule);
    const QRect area = rule.screen()->availableGeometry();
    const QRect ok(rule.okButton()->mapToGlobal(QPoint(0, 0)), rule.okButton()->size());
    EXPECT_TRUE(area.contains(ok)) << "OK at " << ok.x() << "," << ok.y();
    rule.reject();

    // A stored rectangle larger than the screen is cut down to it.
    setSetting("EditorPos", "-50 -50 5000 4000");
    RuleEditor stored("Priority fields out of place", "3.0", false, true);
    stored.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&stored));
    expectWithinScreen(stored);
    stored.reject();
}

TEST_F(WindowSize, TheSetupWizardFitsTheScreenWithItsTextsWhole)
{
    SetupWizard wizard;
    wizard.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wizard));
    for (const int page : {SetupWizard::AccountPage, SetupWizard::CheckPage, SetupWizard::ClientPage}) {
        SCOPED_TRACE(page);
        expectWithinScreen(wizard);
        const QRect area = wizard.screen()->availableGeometry();
        QAbstractButton* forward = wizard.button(page == SetupWizard::ClientPage ? QWizard::FinishButton
                                                                                 : QWizard::NextButton);
        const QRect button(forward->mapToGlobal(QPoint(0, 0)), forward->size());
        EXPECT_TRUE(area.contains(button)) << "the button at " << button.x() << "," << button.y();
        for (const QLabel* label : wizard.currentPage()->findChildren<QLabel*>())
            if (label->isVisible()) {
                const int needed = label->wordWrap() ? label->heightForWidth(label->width())
                                                     : label->sizeHint().height();
                EXPECT_GE(label->height(), needed) << label->text().toStdString();
            }
        wizard.userField()->setText("you@example.com");
        wizard.hostField()->setText("pop.example.com");
        wizard.next();
    }
    wizard.reject();
}

// Needs frames around windows: it checks only on a window system with a
// window manager (the run under Xvfb and openbox).
using WindowPlacement = WindowSize;

TEST_F(WindowPlacement, TheSettingsWindowOpensWhereItWasLeft)
{
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "no window frames on " << QGuiApplication::platformName().toStdString();
    setSetting("MainPosX", 120);
    setSetting("MainPosY", 80);
    for (int opening = 1; opening <= 3; ++opening) {
        SCOPED_TRACE(opening);
        auto sheet = buildSettingsWindow();
        sheet->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
        // The window manager has framed the window.
        EXPECT_TRUE(QTest::qWaitFor([&] { return sheet->frameGeometry() != sheet->geometry(); }, 5000));
        QTest::qWait(100);
        EXPECT_EQ(sheet->frameGeometry().topLeft(), QPoint(120, 80));
        sheet->reject();
        int x = 0, y = 0;
        EXPECT_TRUE(readSetting("MainPosX", x));
        EXPECT_TRUE(readSetting("MainPosY", y));
        EXPECT_EQ(QPoint(x, y), QPoint(120, 80)) << "stored where it was";
    }
}

} // namespace
