// The "Rating" page and a band's action dialog: the four-handle slider,
// the band buttons' captions, colours and enabling, the thresholds stored
// in tenths, and what the action dialog accepts, refuses and stores.
#include "ui/CActionPageV2.h"
#include "ui/CGlobalPage.h"
#include "ui/RatingSlider.h"

#include "ModalDriver.h"
#include "SettingsTestSupport.h"
#include "support/TestHelpers.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <array>

namespace {

using Thresholds = std::array<int, RatingSlider::kHandles>;

class RatingPageTest : public SettingsPageTest
{
protected:
    static void storeThresholds(const Thresholds& values)
    {
        for (int i = 0; i < RatingSlider::kHandles; ++i)
            setSetting(("Rating" + std::to_string(i + 1)).c_str(), static_cast<unsigned>(values[static_cast<size_t>(i)]));
    }

    static std::array<bool, CGlobalPage::kBands> enabledButtons(const CGlobalPage& page)
    {
        std::array<bool, CGlobalPage::kBands> enabled{};
        for (int band = 1; band <= CGlobalPage::kBands; ++band)
            enabled[static_cast<size_t>(band - 1)] = page.bandButton(band)->isEnabled();
        return enabled;
    }
};

TEST_F(RatingPageTest, BandCaptionsSumUpTheBandsActions)
{
    struct Row {
        int allow, subject, archive;   // -1: not stored (default true)
        const char* caption;
    };
    const Row rows[] = {
        {-1, -1, -1, "Action... (Allow, subject, archive)"},
        {1, 1, 1, "Action... (Allow, subject, archive)"},
        {1, 0, 1, "Action... (Allow, archive)"},
        {1, 1, 0, "Action... (Allow, subject)"},
        {1, 0, 0, "Action... (Allow)"},
        {0, 1, 1, "Action... (Archive)"},
        {0, 0, 1, "Action... (Archive)"},
        {0, 1, 0, "Action..."},
        {0, 0, 0, "Action..."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caption);
        SetUp();
        // Band 2 carries the row; band 4 the opposite, to show each
        // button reads its own band.
        const auto store = [](const char* name, int band, int value) {
            if (value >= 0)
                setSetting((name + std::to_string(band)).c_str(), value != 0);
        };
        store("AllowThrough", 2, row.allow);
        store("Subject", 2, row.subject);
        store("Archive", 2, row.archive);
        store("AllowThrough", 4, 0);
        store("Archive", 4, 0);
        CGlobalPage page;
        page.ensureInitialised();
        EXPECT_EQ(page.bandButton(2)->text(), row.caption);
        EXPECT_EQ(page.bandButton(4)->text(), "Action...");
        EXPECT_EQ(page.bandButton(1)->text(), "Action... (Allow, subject, archive)");
    }
}

TEST_F(RatingPageTest, BandButtonsRunFromGreenToRedAndDarkenWhenDisabled)
{
    storeThresholds({0, 40, 60, 100});   // bands 1 and 5 empty
    CGlobalPage page;
    page.ensureInitialised();
    // Hue ranges (degrees): green, light green, yellow, orange, red.
    const struct {
        int low, high;
    } hues[] = {{100, 140}, {80, 130}, {45, 65}, {20, 40}, {0, 10}};
    for (int band = 1; band <= CGlobalPage::kBands; ++band) {
        SCOPED_TRACE("band " + std::to_string(band));
        const QPalette colours = page.bandButton(band)->palette();
        const QColor shown = colours.color(QPalette::Active, QPalette::Button);
        const QColor disabled = colours.color(QPalette::Disabled, QPalette::Button);
        EXPECT_GE(shown.hue(), hues[band - 1].low);
        EXPECT_LE(shown.hue(), hues[band - 1].high);
        EXPECT_LT(disabled.value(), shown.value()) << "disabled is darker";
        EXPECT_NEAR(disabled.hue(), shown.hue(), 3) << "of the same colour";
    }
    // Light green is lighter than green.
    EXPECT_GT(page.bandButton(2)->palette().color(QPalette::Active, QPalette::Button).lightness(),
              page.bandButton(1)->palette().color(QPalette::Active, QPalette::Button).lightness());
    // The disabled buttons paint with the disabled group.
    EXPECT_FALSE(page.bandButton(1)->isEnabled());
    EXPECT_FALSE(page.bandButton(5)->isEnabled());
}

TEST_F(RatingPageTest, AButtonIsEnabledOnlyWhileItsBandIsNotEmpty)
{
    struct Row {
        const char* name;
        Thresholds thresholds;
        std::array<bool, CGlobalPage::kBands> enabled;
    };
    const Row rows[] = {
        {"defaults", {20, 40, 60, 80}, {true, true, true, true, true}},
        {"Rating3 == Rating4", {20, 40, 60, 60}, {true, true, true, false, true}},
        {"Rating4 == 100", {20, 40, 60, 100}, {true, true, true, true, false}},
        {"Rating1 == 0", {0, 40, 60, 80}, {false, true, true, true, true}},
        {"Rating1 == Rating2", {40, 40, 60, 80}, {true, false, true, true, true}},
        {"all at 100", {100, 100, 100, 100}, {true, false, false, false, false}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        storeThresholds(row.thresholds);
        CGlobalPage page;
        page.ensureInitialised();
        EXPECT_EQ(page.slider()->values(), row.thresholds);
        EXPECT_EQ(enabledButtons(page), row.enabled);
    }
}

TEST_F(RatingPageTest, MovingAHandleEnablesAndDisablesTheButtonsAtOnce)
{
    CGlobalPage page;
    page.ensureInitialised();
    page.show();
    RatingSlider* slider = page.slider();
    slider->setFocus();
    slider->setCurrentHandle(2);
    QTest::keyClick(slider, Qt::Key_End);   // stops at the fourth handle
    EXPECT_EQ(slider->value(2), 80);
    EXPECT_FALSE(page.bandButton(4)->isEnabled());
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_EQ(slider->value(2), 79);
    EXPECT_TRUE(page.bandButton(4)->isEnabled());
}

TEST_F(RatingPageTest, HandlesMeetButNeverCross)
{
    RatingSlider slider;
    slider.setValues({20, 40, 60, 80});
    slider.setValue(1, 90);
    EXPECT_EQ(slider.values(), (Thresholds{20, 60, 60, 80}));
    slider.setValue(1, -5);
    EXPECT_EQ(slider.values(), (Thresholds{20, 20, 60, 80}));
    slider.setValue(3, 150);
    EXPECT_EQ(slider.values(), (Thresholds{20, 20, 60, 100}));
    slider.setValue(0, -1);
    EXPECT_EQ(slider.values(), (Thresholds{0, 20, 60, 100}));
    // Stored values out of order come in ordered.
    slider.setValues({50, 30, 120, 10});
    EXPECT_EQ(slider.values(), (Thresholds{50, 50, 100, 100}));
}

TEST_F(RatingPageTest, TheKeyboardMovesTheCurrentHandleAndTabPassesToTheNext)
{
    RatingSlider slider;
    slider.resize(300, 56);
    slider.show();
    slider.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&slider));
    slider.setFocus();
    slider.setCurrentHandle(0);
    QTest::keyClick(&slider, Qt::Key_Right);
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_EQ(slider.value(0), 22);
    QTest::keyClick(&slider, Qt::Key_PageUp);
    QTest::keyClick(&slider, Qt::Key_PageUp);
    EXPECT_EQ(slider.value(0), 40) << "stopped by the second handle";
    QTest::keyClick(&slider, Qt::Key_Tab);
    EXPECT_EQ(slider.currentHandle(), 1);
    QTest::keyClick(&slider, Qt::Key_PageDown);
    EXPECT_EQ(slider.value(1), 40) << "cannot pass the first";
    QTest::keyClick(&slider, Qt::Key_PageUp);
    EXPECT_EQ(slider.value(1), 50);
    QTest::keyClick(&slider, Qt::Key_Backtab);
    EXPECT_EQ(slider.currentHandle(), 0);
    QTest::keyClick(&slider, Qt::Key_Home);
    EXPECT_EQ(slider.value(0), 0);
}

TEST_F(RatingPageTest, DraggedHandlesAreStoredInTenths)
{
    CGlobalPage page;
    page.ensureInitialised();
    page.resize(500, 300);
    page.show();
    RatingSlider* slider = page.slider();
    const int y = slider->height() / 2;
    // Drag the third handle from 6.0 to 7.3, then the first from 2.0 to 0.5.
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->positionOf(60), y));
    QTest::mouseMove(slider, QPoint(slider->positionOf(73), y));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->positionOf(73), y));
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->positionOf(20), y));
    QTest::mouseMove(slider, QPoint(slider->positionOf(5), y));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->positionOf(5), y));
    // Dragging the fourth past the third stops it there.
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->positionOf(80), y));
    QTest::mouseMove(slider, QPoint(slider->positionOf(30), y));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->positionOf(30), y));
    EXPECT_EQ(slider->values(), (Thresholds{5, 40, 73, 73}));

    ASSERT_TRUE(page.onOK());
    const Thresholds want{5, 40, 73, 73};
    for (int i = 0; i < RatingSlider::kHandles; ++i) {
        const std::string name = "Rating" + std::to_string(i + 1);
        unsigned stored = 0;
        EXPECT_TRUE(readSetting(name.c_str(), stored));
        EXPECT_EQ(stored, static_cast<unsigned>(want[static_cast<size_t>(i)])) << name;
    }
    EXPECT_TRUE(hiveHasLine("\"/RATING3\" = 73"));
}

TEST_F(RatingPageTest, ABandButtonOpensTheBandsActions)
{
    storeThresholds({20, 45, 65, 80});
    CGlobalPage page;
    page.ensureInitialised();
    page.show();
    int band = 0;
    auto seen = ModalDriver::onNextModal([&band](QWidget* modal) {
        if (auto* actions = qobject_cast<CActionPageV2*>(modal))
            band = actions->band();
        static_cast<QDialog*>(modal)->reject();
    });
    QTest::mouseClick(page.bandButton(3), Qt::LeftButton);
    ASSERT_TRUE(seen->came);
    EXPECT_EQ(band, 3);
    EXPECT_EQ(seen->caption, "Actions - Rating 4.5 to 6.5");
}

TEST_F(RatingPageTest, ActionsSavedFromTheButtonUpdateItsCaption)
{
    const std::string folder = programContext().dataRoot + "/archive-test";
    std::filesystem::create_directories(folder);
    CGlobalPage page;
    page.ensureInitialised();
    page.show();
    ModalDriver::onNextModal([&folder](QWidget* modal) {
        auto* actions = qobject_cast<CActionPageV2*>(modal);
        if (actions == nullptr) {
            static_cast<QDialog*>(modal)->reject();
            return;
        }
        actions->allowThrough()->setChecked(false);
        actions->archivePath()->setText(QString::fromStdString(folder));
        actions->accept();
    });
    QTest::mouseClick(page.bandButton(5), Qt::LeftButton);
    EXPECT_EQ(page.bandButton(5)->text(), "Action... (Archive)");
}

class ActionDialogTest : public SettingsPageTest
{
protected:
    void SetUp() override
    {
        SettingsPageTest::SetUp();
        m_folder = programContext().dataRoot + "/archive-test";
        std::filesystem::create_directories(m_folder);
    }
    std::string m_folder;
};

TEST_F(ActionDialogTest, DefaultsAndTheCaptionShowTheBand)
{
    CActionPageV2 dialog(2, 2.0, 4.0);
    EXPECT_EQ(dialog.windowTitle(), "Actions - Rating 2.0 to 4.0");
    EXPECT_TRUE(dialog.allowThrough()->isChecked());
    EXPECT_TRUE(dialog.allowThrough()->isEnabled());
    EXPECT_TRUE(dialog.subject()->isChecked());
    EXPECT_EQ(dialog.subjectMacro()->text(), "SPAM - %%SUBJECT%%");
    EXPECT_TRUE(dialog.archive()->isChecked());
    EXPECT_EQ(dialog.archivePath()->text().toStdString(), programContext().dataRoot + "/archive/rating2/");
    EXPECT_TRUE(dialog.collectionEmail()->isChecked());
}

TEST_F(ActionDialogTest, ControlsFollowTheirSwitches)
{
    CActionPageV2 dialog(3, 4.0, 6.0);
    struct Row {
        bool allow, subject, archive;
        bool macroEnabled, collectionEnabled, pathEnabled;
    };
    const Row rows[] = {
        {true, true, true, true, true, true},
        {true, false, true, false, true, true},
        {false, true, true, false, false, true},
        {false, false, false, false, false, false},
        {true, true, false, true, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.allow) + std::to_string(row.subject) + std::to_string(row.archive));
        dialog.allowThrough()->setChecked(row.allow);
        dialog.subject()->setChecked(row.subject);
        dialog.archive()->setChecked(row.archive);
        EXPECT_EQ(dialog.subjectMacro()->isEnabled(), row.macroEnabled);
        EXPECT_EQ(dialog.collectionEmail()->isEnabled(), row.collectionEnabled);
        EXPECT_EQ(dialog.archivePath()->isEnabled(), row.pathEnabled);
        EXPECT_EQ(dialog.browse()->isEnabled(), row.pathEnabled);
        EXPECT_TRUE(dialog.subject()->isEnabled());
    }
}

TEST_F(ActionDialogTest, BandOneAlwaysLetsMailThrough)
{
    setSetting("AllowThrough1", false);
    CActionPageV2 dialog(1, 0.0, 2.0);
    EXPECT_TRUE(dialog.allowThrough()->isChecked());
    EXPECT_FALSE(dialog.allowThrough()->isEnabled());
    dialog.allowThrough()->setChecked(false);   // not by the user: the box is disabled
    dialog.archivePath()->setText(QString::fromStdString(m_folder));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    bool allow = false;
    EXPECT_TRUE(readSetting("AllowThrough1", allow));
    EXPECT_TRUE(allow);
}

TEST_F(ActionDialogTest, AFolderThatCannotBeEnteredIsRefusedAndTheDialogStays)
{
    TempDir scratch;
    writeTextFile(scratch / "plain-file", "x");
    const std::string rows[] = {scratch / "missing", scratch / "plain-file", ""};
    for (const std::string& path : rows) {
        SCOPED_TRACE("path '" + path + "'");
        CActionPageV2 dialog(2, 2.0, 4.0);
        dialog.show();
        dialog.subjectMacro()->setFocus();
        dialog.archivePath()->setText(QString::fromStdString(path));
        auto seen = ModalDriver::pressOnNextBox(QMessageBox::Ok);
        dialog.accept();
        ASSERT_TRUE(seen->came);
        EXPECT_EQ(seen->caption, "Error");
        EXPECT_EQ(seen->text, "Cannot access archive directory,\ninvalid path or permissions issue.");
        EXPECT_EQ(seen->icon, QMessageBox::Warning);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.focusWidget(), dialog.archivePath());
        std::string stored;
        EXPECT_FALSE(readSetting("ArchivePath2", stored)) << "nothing is stored";
        dialog.reject();
    }
}

TEST_F(ActionDialogTest, AGoodFolderStoresTheBandAndRegistersItWithTheViewer)
{
    CActionPageV2 dialog(3, 4.0, 6.0);
    dialog.subject()->setChecked(false);
    dialog.subjectMacro()->setText("[junk] %%SUBJECT%%");
    dialog.collectionEmail()->setChecked(false);
    dialog.archivePath()->setText(QString::fromStdString(m_folder));
    MessageBoxWatcher boxes;
    dialog.accept();
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    bool archive = false, subject = true, collection = true, allow = false;
    std::string path, macro;
    EXPECT_TRUE(readSetting("Archive3", archive));
    EXPECT_TRUE(readSetting("Subject3", subject));
    EXPECT_TRUE(readSetting("CollectionEmail3", collection));
    EXPECT_TRUE(readSetting("AllowThrough3", allow));
    EXPECT_TRUE(readSetting("ArchivePath3", path));
    EXPECT_TRUE(readSetting("SubjectMacro3", macro));
    EXPECT_TRUE(archive);
    EXPECT_FALSE(subject);
    EXPECT_FALSE(collection);
    EXPECT_TRUE(allow);
    EXPECT_EQ(path, m_folder);
    EXPECT_EQ(macro, "[junk] %%SUBJECT%%");

    CRegistry viewer;
    ASSERT_TRUE(viewer.OpenKey(programContext().settingsHive, "cvmsgvwr", "/Locations/Quillfence Pro/Rating Band 3"));
    int type = 0, icon = 0;
    std::string file, parse, name, data;
    EXPECT_TRUE(viewer.QueryValue("Type", type));
    EXPECT_TRUE(viewer.QueryValue("Icon", icon));
    EXPECT_TRUE(viewer.QueryValue("File", file));
    EXPECT_TRUE(viewer.QueryValue("Parse", parse));
    EXPECT_TRUE(viewer.QueryValue("DisplayName", name));
    EXPECT_TRUE(viewer.QueryValue("Data", data));
    EXPECT_EQ(type, 2);
    EXPECT_EQ(icon, 8);
    EXPECT_EQ(file, "sf*.txt");
    EXPECT_EQ(parse, "sf%02d%02d%02d");
    EXPECT_EQ(name, "Rating Band 3");
    EXPECT_EQ(data, m_folder);
    CRegistry top;
    ASSERT_TRUE(top.OpenKey(programContext().settingsHive, "cvmsgvwr", "/Locations/Quillfence Pro"));
    EXPECT_TRUE(top.QueryValue("DisplayName", name));
    EXPECT_EQ(name, "Quillfence Pro");
    CRegistry other;
    ASSERT_TRUE(other.OpenKey(programContext().settingsHive, "cvmsgvwr", "/Locations/Quillfence Pro/Rating Band 2"));
    EXPECT_FALSE(other.QueryValue("Data", data)) << "only the band saved is registered";
}

TEST_F(ActionDialogTest, CancelStoresNothing)
{
    CActionPageV2 dialog(4, 6.0, 8.0);
    dialog.archive()->setChecked(false);
    dialog.reject();
    bool archive = true;
    EXPECT_FALSE(readSetting("Archive4", archive));
}

} // namespace
