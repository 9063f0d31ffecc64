// CTrayDialog: the program's main window on a desktop.
//
// It never shows itself.  It puts the tray icon (tool tip "Quillfence Pro")
// with its menu in the notification area, ticks every 300 ms (MainTicker:
// the first tick starts the listener, a second start opens the settings
// window, a stop ends the program), asks the first-run question on an
// unconfigured start (once: answered either way, it is not asked again;
// Wizard opens the setup wizard, Manual the settings and the manual),
// and shows the status popup while sessions run.  The menu offers a viewer
// only when its program is installed; Help says so when the manual cannot
// be opened.  As the proxy's MainWindowLink it takes notices from worker
// threads and handles them on the main thread.  Without a system tray it
// runs all the same and logs that it has no icon; the settings window is
// then a window of its own that carries the tray's menu.
#pragma once

#include "app/MainTicker.h"
#include "proxy/MainWindowLink.h"

#include "ui/CCSPropertySheet.h"
#include "ui/SetupWizard.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>

class CStatusPopup;
class QMenu;
class QSystemTrayIcon;
class QTimer;

class CTrayDialog : public QObject, public MainWindowLink
{
    Q_OBJECT
public:
    // Builds the settings window when one is asked for.
    using SheetFactory = std::function<CCSPropertySheet*()>;

    CTrayDialog(CVEvent& instanceEvent, CVEvent& applicationStop, const std::atomic<bool>& signalled,
                SheetFactory sheets);
    ~CTrayDialog() override;

    // Adds the tray icon, asks the first-run question when needed and
    // starts the timer.  Then the caller runs the event loop until exited.
    void start();

    // MainWindowLink, from any thread: queued to the main thread.
    void sessionStarted() override;
    void sessionEnded() override;
    void listenerReady(int port) override;
    void listenerFailed(const std::string& text) override;
    void statusText(const std::string& text) override;

    // The state the tray shows; for the program and its tests.
    bool settingsOpen() const;
    CCSPropertySheet* settingsSheet() const { return m_sheet.data(); }
    CStatusPopup* popup() const { return m_popup.get(); }
    QMenu* trayMenu() const { return m_menu.get(); }
    QMessageBox* firstRunQuestion() const { return m_firstRun.data(); }
    SetupWizard* setupWizard() const { return m_wizard.data(); }
    // The box that says why the manual could not be opened, while shown.
    QMessageBox* helpProblem() const { return m_helpProblem.data(); }
    int activeSessions() const { return m_activeSessions; }
    MainTicker& ticker() { return m_ticker; }

    void openSettings();
    // The setup wizard, or the open one raised.
    void openWizard();
    // The ShowHelpId setting: help calls show their numbers first.
    void setShowHelpId(bool show) { m_showHelpId = show; }
    // Removes the tray icon, closes any window and says exited.
    void exit();

signals:
    // The program should shut down: the owner ends the event loop.
    void exited();

private:
    void onTick();
    void onSessionStarted();
    void onSessionEnded();
    void onStatusText(const QString& text);
    void onListenerFailed(const QString& text);
    void onSettingsClosed(int result);
    void askFirstRunQuestion();
    // Stores Configured: the first-run question is not asked again.
    void recordConfigured();
    void buildTrayIcon();
    // Opens the manual; with ShowHelpId a box first shows the call's numbers.
    void showHelp(int command, int data);
    void showAbout();
    QRect trayArea() const;

    MainTicker m_ticker;
    SheetFactory m_sheets;
    bool m_configured = false;
    bool m_configWizard = false;
    int m_activeSessions = 0;
    bool m_exiting = false;
    bool m_showHelpId = false;
    QTimer* m_timer;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon* m_tray = nullptr;
    std::unique_ptr<CStatusPopup> m_popup;
    QPointer<CCSPropertySheet> m_sheet;
    QPointer<QMessageBox> m_firstRun;
    QPointer<QMessageBox> m_helpProblem;
    QPointer<SetupWizard> m_wizard;
};
