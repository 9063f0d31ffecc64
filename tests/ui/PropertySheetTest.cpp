// The settings window's frame: pages load when first shown, OK writes the
// shown pages in tab order, Cancel writes nothing, the exit event closes
// the window, and its position is kept in the settings.
#include "common/CVEvent.h"
#include "ui/CCSPropertyPage.h"
#include "ui/CCSPropertySheet.h"
#include "ui/SettingsKey.h"

#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_journal;

class JournalPage : public CCSPropertyPage
{
public:
    JournalPage(std::string name, bool accepts = true) : m_name(std::move(name)), m_accepts(accepts) {}
    bool onOK() override
    {
        g_journal.push_back("ok " + m_name);
        return m_accepts;
    }

protected:
    void onInitialise() override { g_journal.push_back("load " + m_name); }

private:
    std::string m_name;
    bool m_accepts;
};

class PropertySheetTest : public ::testing::Test
{
protected:
    void SetUp() override { g_journal.clear(); }
};

TEST_F(PropertySheetTest, PagesLoadWhenFirstShownAndOkWritesOnlyThoseInTabOrder)
{
    CCSPropertySheet sheet("Quillfence Pro");
    sheet.addPage(new JournalPage("a"), "A");
    sheet.addPage(new JournalPage("b"), "B");
    sheet.addPage(new JournalPage("c"), "C");
    EXPECT_EQ(g_journal, (std::vector<std::string>{"load a"}));
    sheet.tabs()->setCurrentIndex(2);
    sheet.tabs()->setCurrentIndex(0);
    sheet.tabs()->setCurrentIndex(2);
    EXPECT_EQ(g_journal, (std::vector<std::string>{"load a", "load c"}));
    sheet.accept();
    EXPECT_EQ(g_journal, (std::vector<std::string>{"load a", "load c", "ok a", "ok c"}));
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(sheet.windowTitle(), "Quillfence Pro");
}

TEST_F(PropertySheetTest, APageThatRefusesKeepsTheWindowOpenOnItsTab)
{
    CCSPropertySheet sheet("Quillfence Pro");
    sheet.addPage(new JournalPage("a"), "A");
    sheet.addPage(new JournalPage("b", false), "B");
    sheet.addPage(new JournalPage("c"), "C");
    sheet.show();
    sheet.tabs()->setCurrentIndex(1);
    sheet.tabs()->setCurrentIndex(2);
    sheet.accept();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.tabs()->currentIndex(), 1);
    EXPECT_EQ(g_journal.back(), "ok b");
    sheet.reject();
}

TEST_F(PropertySheetTest, CancelWritesNothing)
{
    CCSPropertySheet sheet("Quillfence Pro");
    sheet.addPage(new JournalPage("a"), "A");
    sheet.reject();
    EXPECT_EQ(g_journal, (std::vector<std::string>{"load a"}));
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
}

TEST_F(PropertySheetTest, TheExitEventClosesTheWindowAsCancelDoes)
{
    CCSPropertySheet sheet("Quillfence Pro");
    sheet.addPage(new JournalPage("a"), "A");
    sheet.show();
    // Nobody created the event: the window stays.
    QTest::qWait(3 * CCSPropertySheet::kExitCheckMs);
    EXPECT_TRUE(sheet.isVisible());

    bool existed = false;
    auto exit = CVEvent::create(CCSPropertySheet::kExitEventName, CVEvent::Reset::Manual, existed);
    ASSERT_TRUE(exit);
    QTest::qWait(3 * CCSPropertySheet::kExitCheckMs);
    EXPECT_TRUE(sheet.isVisible());
    exit->set();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !sheet.isVisible(); }, 2000));
    EXPECT_EQ(sheet.result(), 0);
    EXPECT_EQ(g_journal, (std::vector<std::string>{"load a"}));
}

TEST_F(PropertySheetTest, ThePositionIsRestoredWhenShownAndStoredWhenHidden)
{
    {
        CRegistry reg;
        ASSERT_TRUE(openSettingsKey(reg));
        reg.SetValue("MainPosX", 120);
        reg.SetValue("MainPosY", 80);
    }
    CCSPropertySheet sheet("Quillfence Pro");
    sheet.addPage(new JournalPage("a"), "A");
    sheet.show();
    EXPECT_EQ(sheet.pos(), QPoint(120, 80));
    sheet.move(200, 150);
    sheet.hide();
    CRegistry reg;
    ASSERT_TRUE(openSettingsKey(reg));
    int x = 0;
    int y = 0;
    EXPECT_TRUE(reg.QueryValue("MainPosX", x));
    EXPECT_TRUE(reg.QueryValue("MainPosY", y));
    EXPECT_EQ(x, 200);
    EXPECT_EQ(y, 150);
}

} // namespace
