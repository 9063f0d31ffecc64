// The "Settings" page: what it shows from the hive, and what OK stores:
// clamped values typed into the fields, every value in the integer form,
// the logging mask applied, the separator's code, the restart notice when
// the port changed.
#include "common/CEventLog.h"
#include "common/HiveFormat.h"
#include "common/SettingsTable.h"
#include "ui/CGeneralPage.h"

#include "ModalDriver.h"
#include "SettingsTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTest>

namespace {

class GeneralPageTest : public SettingsPageTest
{
protected:
    void TearDown() override { CEventLog::SetLogging(0xFFFF); }

    // Replaces the field's text by typed, as a user would.
    static void type(QSpinBox* field, const char* typed)
    {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, typed);
    }
};

// On a fresh data root every field shows the settings table's default, and
// OK stores each of them in the integer form.
TEST_F(GeneralPageTest, DefaultsAreTheTablesAndStoredInTheIntegerForm)
{
    CGeneralPage page;
    page.ensureInitialised();
    auto number = [](Setting s) { return static_cast<int>(settingDefault(s)); };
    auto flag = [](Setting s) { return settingDefault(s) != 0; };
    EXPECT_EQ(page.tidy()->isChecked(), flag(Setting::Tidy));
    EXPECT_EQ(page.tidyDays()->value(), number(Setting::TidyDays));
    EXPECT_EQ(page.maxSpamSize()->value(), number(Setting::MaxSpamSize));
    EXPECT_EQ(page.logging()->currentIndex(), number(Setting::Logging));
    EXPECT_EQ(page.tidyLogs()->isChecked(), flag(Setting::TidyLogs));
    EXPECT_EQ(page.tidyLogDays()->value(), number(Setting::TidyLogDays));
    EXPECT_EQ(page.popupStatus()->isChecked(), flag(Setting::PopupStatus));
    EXPECT_EQ(page.separatorChar()->currentText().at(0), QChar(number(Setting::SeparatorChar)));
    EXPECT_EQ(page.collectionReport()->isChecked(), flag(Setting::CollectionReport));
    EXPECT_EQ(page.listenPort()->value(), number(Setting::ListenPort));
    EXPECT_EQ(page.maxCollectionTime()->value(), number(Setting::MaxCollectionTime));

    MessageBoxWatcher boxes;
    EXPECT_TRUE(page.onOK());
    EXPECT_EQ(boxes.count(), 0) << "the port did not change";
    for (Setting s : {Setting::Tidy, Setting::TidyDays, Setting::MaxSpamSize, Setting::Logging, Setting::TidyLogs,
                      Setting::TidyLogDays, Setting::PopupStatus, Setting::SeparatorChar, Setting::CollectionReport,
                      Setting::ListenPort, Setting::MaxCollectionTime}) {
        const std::string entry = "\"/" + hiveformat::upperPath(settingName(s)) + "\" = " +
                                  std::to_string(settingDefault(s));
        EXPECT_TRUE(hiveHasLine(entry.c_str())) << "missing " << entry << " in\n" << userHiveText();
    }
}

TEST_F(GeneralPageTest, StoredValuesAreShownAndTheirChangesStored)
{
    setSetting("Tidy", true);
    setSetting("TidyDays", 30);
    setSetting("TidyLogs", true);
    setSetting("PopupStatus", false);
    setSetting("CollectionReport", true);
    setSetting("MaxCollectionTime", 120);
    CGeneralPage page;
    page.ensureInitialised();
    EXPECT_TRUE(page.tidy()->isChecked());
    EXPECT_EQ(page.tidyDays()->value(), 30);
    EXPECT_TRUE(page.tidyLogs()->isChecked());
    EXPECT_FALSE(page.popupStatus()->isChecked());
    EXPECT_TRUE(page.collectionReport()->isChecked());
    EXPECT_EQ(page.maxCollectionTime()->value(), 120);

    QTest::mouseClick(page.tidy(), Qt::LeftButton);
    QTest::mouseClick(page.popupStatus(), Qt::LeftButton);
    ASSERT_TRUE(page.onOK());
    EXPECT_TRUE(hiveHasLine("\"/TIDY\" = 0"));
    EXPECT_TRUE(hiveHasLine("\"/POPUPSTATUS\" = 1"));
    EXPECT_TRUE(hiveHasLine("\"/TIDYLOGS\" = 1"));
    EXPECT_TRUE(hiveHasLine("\"/COLLECTIONREPORT\" = 1"));
    EXPECT_TRUE(hiveHasLine("\"/MAXCOLLECTIONTIME\" = 120"));
}

TEST_F(GeneralPageTest, TypedValuesAreKeptWithinTheirBoundsOnOK)
{
    struct Row {
        const char* name;
        QSpinBox* (CGeneralPage::*field)() const;
        const char* typed;
        int stored;
    };
    const Row rows[] = {
        {"TidyDays", &CGeneralPage::tidyDays, "0", 1},
        {"TidyDays", &CGeneralPage::tidyDays, "5000", 999},
        {"TidyDays", &CGeneralPage::tidyDays, "999", 999},
        {"TidyDays", &CGeneralPage::tidyDays, "998", 998},
        {"TidyDays", &CGeneralPage::tidyDays, "1", 1},
        {"TidyLogDays", &CGeneralPage::tidyLogDays, "0", 1},
        {"TidyLogDays", &CGeneralPage::tidyLogDays, "5000", 999},
        {"MaxSpamSize", &CGeneralPage::maxSpamSize, "0", 1},
        {"MaxSpamSize", &CGeneralPage::maxSpamSize, "40000", 32000},
        {"MaxSpamSize", &CGeneralPage::maxSpamSize, "250", 250},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " typed " + row.typed);
        CGeneralPage page;
        page.ensureInitialised();
        type((page.*row.field)(), row.typed);
        ASSERT_TRUE(page.onOK());
        int stored = -1;
        EXPECT_TRUE(readSetting(row.name, stored));
        EXPECT_EQ(stored, row.stored) << "got " << stored << ", want " << row.stored;
    }
}

TEST_F(GeneralPageTest, AChangedPortIsClampedAndNeedsARestart)
{
    setSetting("ListenPort", 110);
    CGeneralPage page;
    page.ensureInitialised();
    type(page.listenPort(), "70000");
    auto seen = ModalDriver::pressOnNextBox(QMessageBox::Ok);
    ASSERT_TRUE(page.onOK());
    ASSERT_TRUE(seen->came);
    EXPECT_EQ(seen->caption, "Quillfence Pro");
    EXPECT_EQ(seen->text, "Port change will not take effect\nuntil you restart Quillfence Pro");
    EXPECT_EQ(seen->icon, QMessageBox::Warning);
    EXPECT_TRUE(hiveHasLine("\"/LISTENPORT\" = 65535"));
}

TEST_F(GeneralPageTest, AnUnchangedPortSaysNothing)
{
    setSetting("ListenPort", 1110);
    CGeneralPage page;
    page.ensureInitialised();
    EXPECT_EQ(page.listenPort()->value(), 1110);
    MessageBoxWatcher boxes;
    ASSERT_TRUE(page.onOK());
    QApplication::processEvents();
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_TRUE(hiveHasLine("\"/LISTENPORT\" = 1110"));
}

TEST_F(GeneralPageTest, TheLoggingChoiceIsStoredAndAppliedAtOnce)
{
    const struct {
        int choice;
        unsigned long mask;
    } rows[] = {{0, 8391}, {1, 8199}, {2, 8195}};
    for (const auto& row : rows) {
        SCOPED_TRACE("choice " + std::to_string(row.choice));
        CEventLog::SetLogging(0xFFFF);
        CGeneralPage page;
        page.ensureInitialised();
        page.logging()->setCurrentIndex(row.choice);
        ASSERT_TRUE(page.onOK());
        EXPECT_EQ(CEventLog::loglevel.load(), row.mask);
        int stored = -1;
        EXPECT_TRUE(readSetting("Logging", stored));
        EXPECT_EQ(stored, row.choice);
    }
}

TEST_F(GeneralPageTest, TheSeparatorIsStoredAsTheCodeOfItsCharacter)
{
    setSetting("SeparatorChar", 37u);   // '%'
    {
        CGeneralPage page;
        page.ensureInitialised();
        EXPECT_EQ(page.separatorChar()->currentText().at(0), QChar('%'));
        const int hash = page.separatorChar()->findText("#", Qt::MatchStartsWith);
        ASSERT_GE(hash, 0);
        page.separatorChar()->setCurrentIndex(hash);
        ASSERT_TRUE(page.onOK());
        EXPECT_TRUE(hiveHasLine("\"/SEPARATORCHAR\" = 35"));
    }
    // A character that is not one of the choices is kept.
    setSetting("SeparatorChar", 124u);   // '|'
    CGeneralPage page;
    page.ensureInitialised();
    EXPECT_EQ(page.separatorChar()->currentText().at(0), QChar('|'));
    ASSERT_TRUE(page.onOK());
    EXPECT_TRUE(hiveHasLine("\"/SEPARATORCHAR\" = 124"));
}

} // namespace
