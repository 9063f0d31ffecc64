// The main window on a desktop, driven offscreen: the status popup follows
// the session notices, its placement by the taskbar's edge, the first-run
// question (asked once), the settings window's life and the stops it holds
// back, the tray menu (viewers only when installed, Help that says when the
// manual is missing, the menu in the settings window without a tray), the
// listener's failure dialog and the sibling programs.
#include "app/AppEvents.h"
#include "app/CTrayDialog.h"
#include "app/SiblingLauncher.h"
#include "common/CVEvent.h"
#include "common/ProgramContext.h"
#include "ui/CCSPropertyPage.h"
#include "ui/CCSPropertySheet.h"
#include "ui/CStatusPopup.h"
#include "ui/SettingsKey.h"
#include "ui/SetupWizard.h"

#include "ModalDriver.h"
#include "support/TestHelpers.h"

#include <QAbstractButton>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace {

// The program folder is folder for as long as this lives.
class ProgramFolderIn
{
public:
    explicit ProgramFolderIn(const std::string& folder) : m_saved(programContext().programFolder)
    {
        programContext().programFolder = folder;
    }
    ~ProgramFolderIn() { programContext().programFolder = m_saved; }
    ProgramFolderIn(const ProgramFolderIn&) = delete;
    ProgramFolderIn& operator=(const ProgramFolderIn&) = delete;

private:
    std::string m_saved;
};

QStringList menuTexts(const QMenu& menu)
{
    QStringList texts;
    for (QAction* action : menu.actions())
        texts << (action->isSeparator() ? QString("-") : action->text());
    return texts;
}

QStringList buttonTexts(const QMessageBox& box)
{
    QStringList texts;
    for (QAbstractButton* button : box.buttons())
        texts << button->text();
    return texts;
}

void pressButton(QMessageBox& box, const QString& text)
{
    for (QAbstractButton* button : box.buttons())
        if (button->text() == text)
            button->click();
}

class TrayDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bool existed = false;
        m_instance = CVEvent::create(appevents::kInstance, CVEvent::Reset::Auto, existed);
        m_applicationStop = CVEvent::create(appevents::kApplicationStop, CVEvent::Reset::Manual, existed);
        ASSERT_TRUE(m_instance && m_applicationStop);
        setConfigured(true, false);
    }

    static void setConfigured(bool configured, bool wizard)
    {
        CRegistry reg;
        ASSERT_TRUE(openSettingsKey(reg));
        reg.SetValue("Configured", configured);
        reg.SetValue("ConfigWizard", wizard);
    }

    static bool configuredSetting()
    {
        CRegistry reg;
        bool configured = false;
        EXPECT_TRUE(openSettingsKey(reg));
        reg.QueryValue("Configured", configured);
        return configured;
    }

    // A tray window that never starts the listener.
    std::unique_ptr<CTrayDialog> makeWindow()
    {
        auto window = std::make_unique<CTrayDialog>(*m_instance, *m_applicationStop, m_signalled, [this] {
            ++m_sheetsMade;
            return new CCSPropertySheet("Quillfence Pro");
        });
        window->ticker().skipListener();
        return window;
    }

    // Runs the event loop until the window exits or timeoutMs pass.
    static bool runUntilExit(CTrayDialog& window, int timeoutMs)
    {
        bool exited = false;
        const QMetaObject::Connection connection =
            QObject::connect(&window, &CTrayDialog::exited, [&exited] { exited = true; });
        (void)QTest::qWaitFor([&exited] { return exited; }, timeoutMs);
        QObject::disconnect(connection);
        return exited;
    }

    std::unique_ptr<CVEvent> m_instance;
    std::unique_ptr<CVEvent> m_applicationStop;
    std::atomic<bool> m_signalled{false};
    int m_sheetsMade = 0;
};

TEST(StatusPopupPlacement, BesideTheNotificationAreaForEachTaskbarEdge)
{
    const QRect screen(0, 0, 1920, 1080);
    const QSize popup(130, 40);
    // Taskbar at the bottom: right edges aligned, 2 pixels above.
    const QRect bottomTray(1700, 1050, 150, 30);
    EXPECT_EQ(statusPopupPosition(TaskbarEdge::Bottom, bottomTray, screen, popup), QPoint(1720, 1008));
    // At the top: right edges aligned, 2 pixels below.
    const QRect topTray(1700, 0, 150, 30);
    EXPECT_EQ(statusPopupPosition(TaskbarEdge::Top, topTray, screen, popup), QPoint(1720, 32));
    // At the left: 8 pixels to its right, bottom edges aligned.
    const QRect leftTray(0, 900, 60, 150);
    EXPECT_EQ(statusPopupPosition(TaskbarEdge::Left, leftTray, screen, popup), QPoint(68, 1010));
    // At the right: 8 pixels to its left, bottom edges aligned.
    const QRect rightTray(1860, 900, 60, 150);
    EXPECT_EQ(statusPopupPosition(TaskbarEdge::Right, rightTray, screen, popup), QPoint(1722, 1010));
    // No taskbar, or no notification area known: the bottom right corner.
    EXPECT_EQ(statusPopupPosition(TaskbarEdge::None, bottomTray, screen, popup), QPoint(1782, 1032));
    EXPECT_EQ(statusPopupPosition(TaskbarEdge::Bottom, QRect(), screen, popup), QPoint(1782, 1032));
}

TEST(StatusPopupPlacement, TheTaskbarsEdgeIsWhereTheAvailableAreaStopsShort)
{
    const QRect screen(0, 0, 1920, 1080);
    EXPECT_EQ(taskbarEdge(screen, QRect(0, 0, 1920, 1040)), TaskbarEdge::Bottom);
    EXPECT_EQ(taskbarEdge(screen, QRect(0, 40, 1920, 1040)), TaskbarEdge::Top);
    EXPECT_EQ(taskbarEdge(screen, QRect(60, 0, 1860, 1080)), TaskbarEdge::Left);
    EXPECT_EQ(taskbarEdge(screen, QRect(0, 0, 1860, 1080)), TaskbarEdge::Right);
    EXPECT_EQ(taskbarEdge(screen, screen), TaskbarEdge::None);
}

TEST(StatusPopupLook, TwoLinesWideEnoughForTwentyCharacters)
{
    CStatusPopup popup;
    const QFontMetrics title(QFont("Arial Black", 8));
    const QFontMetrics text(QFont("Arial", 8));
    EXPECT_EQ(popup.width(), std::max(title.horizontalAdvance("Quillfence Pro"), text.horizontalAdvance(QString(20, 'X'))) + 4);
    EXPECT_EQ(popup.height(), title.height() + text.height() + 4);
    popup.setStatusText("Collecting 3 of 12");
    EXPECT_EQ(popup.statusText(), "Collecting 3 of 12");
}

TEST_F(TrayDialogTest, ThePopupShowsWhileSessionsRunAndTakesTheirStatusTexts)
{
    auto window = makeWindow();
    window->start();
    window->statusText("dropped: no popup yet");
    QTest::qWait(20);
    EXPECT_EQ(window->popup(), nullptr);

    // Notices come from worker threads.
    std::thread([&window] {
        window->sessionStarted();
        window->sessionStarted();
        window->statusText("Collecting 3 of 12");
    }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->activeSessions() == 2; }, 2000));
    EXPECT_EQ(window->popup()->statusText(), "2 sessions: Collecting 3 of 12") << "sessions side by side";
    std::thread([&window] {
        window->sessionEnded();
        window->statusText("Connecting to mail.example.org");
    }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->activeSessions() == 1; }, 2000));
    ASSERT_NE(window->popup(), nullptr) << "two starts and one end leave the popup showing";
    EXPECT_TRUE(window->popup()->isVisible());
    EXPECT_EQ(window->popup()->statusText(), "Connecting to mail.example.org");

    window->sessionEnded();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->activeSessions() == 0; }, 2000));
    EXPECT_EQ(window->popup(), nullptr) << "the second end removes it";
    // An end notice too many changes nothing.
    window->sessionEnded();
    QTest::qWait(20);
    EXPECT_EQ(window->activeSessions(), 0);
    window->exit();
}

TEST_F(TrayDialogTest, AnUnconfiguredStartAsksTheFirstRunQuestionOnce)
{
    setConfigured(false, false);
    auto window = makeWindow();
    window->start();
    QMessageBox* question = window->firstRunQuestion();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->windowTitle(), "Initial setup");
    EXPECT_TRUE(question->text().startsWith("This is the first time Quillfence Pro has been run. Do you want the "
                                            "setup wizard"));
    EXPECT_FALSE(question->text().contains("Free"));
    EXPECT_TRUE(question->informativeText().contains("127.0.0.1 as name@server"));
    QStringList captions = buttonTexts(*question);
    captions.sort();   // the platform orders them by role
    EXPECT_EQ(captions, (QStringList{"Later", "Manual", "Wizard"}));
    // The question does not hold the timer up: it keeps ticking.
    EXPECT_FALSE(runUntilExit(*window, 400));
    EXPECT_FALSE(configuredSetting());
    pressButton(*question, "Wizard");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->setupWizard() != nullptr; }, 2000));
    EXPECT_TRUE(window->setupWizard()->isVisible());
    EXPECT_FALSE(window->settingsOpen());
    EXPECT_TRUE(configuredSetting()) << "answered, the question is not asked again";
    window->setupWizard()->reject();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->setupWizard() == nullptr; }, 2000));
    window->exit();

    auto next = makeWindow();
    next->start();
    EXPECT_EQ(next->firstRunQuestion(), nullptr);
    EXPECT_FALSE(next->settingsOpen());
    EXPECT_EQ(next->setupWizard(), nullptr);
    next->exit();
}

TEST_F(TrayDialogTest, ManualOpensTheSettingsAndTheMenuOpensOneWizard)
{
    setConfigured(false, false);
    TempDir folder;
    const ProgramFolderIn programFolder(folder.path());
    auto window = makeWindow();
    window->start();
    ASSERT_NE(window->firstRunQuestion(), nullptr);
    pressButton(*window->firstRunQuestion(), "Manual");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->settingsOpen(); }, 2000));
    EXPECT_EQ(window->setupWizard(), nullptr);
    EXPECT_TRUE(configuredSetting());
    ASSERT_NE(window->helpProblem(), nullptr) << "the manual's setup section was asked for";
    window->settingsSheet()->reject();

    // From the menu, twice: one wizard, raised.
    for (int i = 0; i < 2; ++i)
        for (QAction* action : window->trayMenu()->actions())
            if (action->text() == "Setup &Wizard...")
                action->trigger();
    SetupWizard* wizard = window->setupWizard();
    ASSERT_NE(wizard, nullptr);
    int shown = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<SetupWizard*>(widget) && widget->isVisible())
            ++shown;
    EXPECT_EQ(shown, 1);
    window->exit();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->setupWizard() == nullptr; }, 2000)) << "closed with the program";
}

TEST_F(TrayDialogTest, LaterAlsoEndsTheFirstRunQuestionAndOkOnTheSettingsRecordsIt)
{
    setConfigured(false, false);
    auto window = makeWindow();
    window->start();
    ASSERT_NE(window->firstRunQuestion(), nullptr);
    pressButton(*window->firstRunQuestion(), "Later");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->firstRunQuestion() == nullptr; }, 2000));
    EXPECT_FALSE(window->settingsOpen());
    EXPECT_TRUE(configuredSetting());
    window->exit();

    // A start left unconfigured some other way: OK records it.
    setConfigured(false, true);
    auto next = makeWindow();
    next->start();
    ASSERT_TRUE(next->settingsOpen());
    next->settingsSheet()->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !next->settingsOpen(); }, 2000));
    EXPECT_TRUE(configuredSetting());
    next->exit();
}

TEST_F(TrayDialogTest, ConfigWizardOpensTheSettingsWithoutAsking)
{
    setConfigured(false, true);
    auto window = makeWindow();
    window->start();
    EXPECT_EQ(window->firstRunQuestion(), nullptr);
    EXPECT_TRUE(window->settingsOpen());
    // Cancel leaves the program unconfigured.
    window->settingsSheet()->reject();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->settingsOpen(); }, 2000));
    EXPECT_FALSE(configuredSetting());
    window->exit();
}

TEST_F(TrayDialogTest, ASecondStartOpensOneSettingsWindow)
{
    auto window = makeWindow();
    window->start();
    EXPECT_FALSE(window->settingsOpen());
    m_instance->set();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->settingsOpen(); }, 2000));
    EXPECT_EQ(window->settingsSheet()->windowTitle(), "Quillfence Pro");
    // Another start while it is open: still the one window.
    m_instance->set();
    QTest::qWait(3 * MainTicker::kTickMs);
    window->openSettings();
    EXPECT_EQ(m_sheetsMade, 1);
    window->exit();
}

TEST_F(TrayDialogTest, TheApplicationStopWaitsForTheSettingsWindow)
{
    auto window = makeWindow();
    window->start();
    window->openSettings();
    m_applicationStop->set();
    EXPECT_FALSE(runUntilExit(*window, 3 * MainTicker::kTickMs)) << "stopped under an open settings window";
    window->settingsSheet()->reject();
    EXPECT_TRUE(runUntilExit(*window, 2000));
    EXPECT_FALSE(window->settingsOpen());
    m_applicationStop->reset();
}

TEST_F(TrayDialogTest, AStopRequestEndsAtOnceWithTheSettingsWindowOpen)
{
    auto window = makeWindow();
    window->start();
    window->openSettings();
    std::unique_ptr<CVEvent> stop = CVEvent::open(appevents::kStopRequest);
    ASSERT_TRUE(stop);
    stop->set();
    EXPECT_TRUE(runUntilExit(*window, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->settingsOpen(); }, 2000));
}

TEST_F(TrayDialogTest, TheTrayMenuOffersItsCommandsAndGreysConfigureWhileTheWindowIsOpen)
{
    auto window = makeWindow();
    window->start();
    QMenu* menu = window->trayMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menuTexts(*menu), (QStringList{"&Configure...", "Setup &Wizard...", "&Help", "-", "&About", "-",
                                             "&Stop Quillfence Pro"}))
        << "no viewer is installed beside the program";
    QAction* configure = menu->actions().front();
    emit menu->aboutToShow();
    EXPECT_TRUE(configure->isEnabled());
    configure->trigger();
    EXPECT_TRUE(window->settingsOpen());
    emit menu->aboutToShow();
    EXPECT_FALSE(configure->isEnabled());

    menu->actions().back()->trigger();
    EXPECT_TRUE(runUntilExit(*window, 1000) || !window->settingsOpen());
}

TEST_F(TrayDialogTest, AViewerIsOfferedWhenItsProgramIsInstalled)
{
    TempDir folder;
    const ProgramFolderIn programFolder(folder.path());
    writeFile(folder / "qfpavwr", "#!/bin/sh\n");
    std::filesystem::permissions(folder / "qfpavwr", std::filesystem::perms::owner_all);
    writeFile(folder / "cvlogvwr", "not a program\n");   // not executable
    auto window = makeWindow();
    window->start();
    EXPECT_EQ(menuTexts(*window->trayMenu()),
              (QStringList{"&Configure...", "Setup &Wizard...", "Archive &Viewer...", "&Help", "-", "&About",
                           "-", "&Stop Quillfence Pro"}));
    window->exit();
}

TEST_F(TrayDialogTest, HelpSaysWhenTheManualIsNotThere)
{
    TempDir folder;
    const ProgramFolderIn programFolder(folder.path());
    auto window = makeWindow();
    window->start();
    for (QAction* action : window->trayMenu()->actions())
        if (action->text() == "&Help")
            action->trigger();
    QMessageBox* box = window->helpProblem();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowTitle(), "Quillfence Pro Help");
    EXPECT_TRUE(box->text().contains("The manual is not installed")) << box->text().toStdString();
    EXPECT_TRUE(box->text().contains(QString::fromStdString(folder / "quilfpro.html")));
    window->exit();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->helpProblem() == nullptr; }, 2000)) << "closed with the program";
}

TEST_F(TrayDialogTest, WithoutATrayTheSettingsWindowCarriesTheMenu)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "the offscreen platform has no tray";
    auto window = makeWindow();
    window->start();
    window->openSettings();
    ASSERT_TRUE(window->settingsOpen());
    CCSPropertySheet* sheet = window->settingsSheet();
    EXPECT_EQ(sheet->windowType(), Qt::Window) << "a window of its own, not a dialog";
    QPushButton* more = sheet->menuButton();
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(more->text(), "&Quillfence Pro");
    ASSERT_EQ(more->menu(), window->trayMenu());
    const QStringList texts = menuTexts(*more->menu());
    for (const char* command : {"Setup &Wizard...", "&Help", "&About", "&Stop Quillfence Pro"})
        EXPECT_TRUE(texts.contains(command)) << command;
    // Stop from the window ends the program and the window.
    more->menu()->actions().back()->trigger();
    EXPECT_TRUE(runUntilExit(*window, 1000) || !window->settingsOpen());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->settingsOpen(); }, 2000));
}

TEST_F(TrayDialogTest, AListenerFailureIsShownInTheErrorDialog)
{
    auto window = makeWindow();
    window->start();
    auto seen = ModalDriver::pressOnNextBox(QMessageBox::Ok);
    std::thread([&window] { window->listenerFailed("Unable to bind to port 1110, error 98"); }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen->came; }, 2000));
    EXPECT_EQ(seen->caption, "Quillfence Error");
    EXPECT_EQ(seen->text, "Unable to bind to port 1110, error 98");
    window->exit();
}

TEST(SiblingPrograms, AMissingProgramIsLoggedAndAPresentOneStarts)
{
    const std::string missing = programContext().programFolder + "/no-such-viewer";
    EXPECT_EQ(launchSibling({missing, "-qfpro"}, false), ENOENT);
    EXPECT_EQ(launchSibling({"quillfence-no-such-assistant"}, true), ENOENT);
    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(programContext().dataRoot + "/log"))
        log += readFile(entry.path());
    EXPECT_NE(log.find("Unable to launch '" + missing + " -qfpro', error 2"), std::string::npos) << log;
    EXPECT_NE(log.find("Unable to launch 'quillfence-no-such-assistant', error 2"), std::string::npos);

    TempDir folder;
    const std::string marker = folder / "started";
    EXPECT_EQ(launchSibling({"/bin/sh", "-c", "echo yes > '" + marker + "'"}, false), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(marker); }, 5000));
}

} // namespace
