#include "app/CTrayDialog.h"

#include "app/SiblingLauncher.h"
#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "ui/CCSPropertySheet.h"
#include "ui/CStatusPopup.h"
#include "ui/MessageBoxes.h"
#include "ui/SetupWizard.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <cstdio>

#ifndef QF_VERSION
#define QF_VERSION ""
#endif

namespace {

// The help calls' command numbers, and the first-run topic.
constexpr int kHelpContext = 1;
constexpr int kHelpContents = 11;
constexpr int kSetupTopic = 200;

// A rounded square with a "Q": the tray's icon when the icon theme lacks
// the installed one.
QIcon drawnIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2e, 0x6d, 0xb4));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    painter.setPen(Qt::white);
    QFont font("Arial Black");
    font.setPixelSize(22);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, "Q");
    return QIcon(pixmap);
}

// A file this user may run.
bool isProgram(const std::string& path)
{
    const QFileInfo file(QString::fromStdString(path));
    return file.isFile() && file.isExecutable();
}

// The installed icon (hicolor "quillfence"), through the icon theme.
QIcon trayIcon()
{
    return QIcon::fromTheme("quillfence", drawnIcon());
}

bool readSetting(Setting setting)
{
    CRegistry reg;
    openSettingKey(reg, settingInfo(setting));
    return settingFlag(reg, setting);
}

} // namespace

CTrayDialog::CTrayDialog(CVEvent& instanceEvent, CVEvent& applicationStop, const std::atomic<bool>& signalled,
                         SheetFactory sheets)
    : m_ticker(instanceEvent, applicationStop, signalled), m_sheets(std::move(sheets)), m_timer(new QTimer(this))
{
    m_configured = readSetting(Setting::Configured);
    m_configWizard = readSetting(Setting::ConfigWizard);
    connect(m_timer, &QTimer::timeout, this, &CTrayDialog::onTick);
}

CTrayDialog::~CTrayDialog()
{
    m_timer->stop();
    delete m_sheet.data();
    delete m_firstRun.data();
    delete m_helpProblem.data();
    delete m_wizard.data();
}

void CTrayDialog::start()
{
    buildTrayIcon();
    // The timer runs before any question is asked: the listener starts on
    // its first tick whatever the user does with the first-run question.
    m_timer->start(MainTicker::kTickMs);
    if (!m_configured) {
        if (m_configWizard) {
            openSettings();
            showHelp(kHelpContext, kSetupTopic);
        } else {
            askFirstRunQuestion();
        }
    }
}

void CTrayDialog::buildTrayIcon()
{
    m_menu = std::make_unique<QMenu>();
    QAction* configure = m_menu->addAction("&Configure...", this, &CTrayDialog::openSettings);
    m_menu->addAction("Setup &Wizard...", this, &CTrayDialog::openWizard);
    // A viewer is offered only when its program is installed beside this one.
    const std::string folder = programContext().programFolder;
    if (isProgram(folder + "/qfpavwr"))
        m_menu->addAction("Archive &Viewer...", this, [folder] { launchSibling({folder + "/qfpavwr"}, false); });
    if (isProgram(folder + "/cvlogvwr"))
        m_menu->addAction("Log File &Viewer...", this,
                          [folder] { launchSibling({folder + "/cvlogvwr", "-qfpro"}, false); });
    m_menu->addAction("&Help", this, [this] { showHelp(kHelpContents, 0); });
    m_menu->addSeparator();
    m_menu->addAction("&About", this, &CTrayDialog::showAbout);
    m_menu->addSeparator();
    m_menu->addAction("&Stop Quillfence Pro", this, &CTrayDialog::exit);
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this, configure] { configure->setEnabled(!settingsOpen()); });

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        CEventLog().LogEvent(2, "No system tray on this desktop: running without a tray icon");
        return;
    }
    m_tray = new QSystemTrayIcon(trayIcon(), this);
    m_tray->setToolTip(kProductName);
    m_tray->setContextMenu(m_menu.get());
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (settingsOpen()) {
            m_sheet->raise();
            m_sheet->activateWindow();
        } else if (reason == QSystemTrayIcon::DoubleClick) {
            openSettings();
        }
    });
    m_tray->show();
}

void CTrayDialog::askFirstRunQuestion()
{
    auto* box = new QMessageBox(QMessageBox::Question, "Initial setup",
                                "This is the first time Quillfence Pro has been run. Do you want the setup "
                                "wizard to guide you through setting up your mail account?");
    box->setInformativeText("Manual opens the settings window with the manual's section on setting up. Your "
                            "mail program logs in to Quillfence Pro on 127.0.0.1 as name@server. The settings "
                            "and the wizard are always at hand: start Quillfence Pro again, or use its menu.");
    QPushButton* wizard = box->addButton("Wizard", QMessageBox::AcceptRole);
    QPushButton* manual = box->addButton("Manual", QMessageBox::ActionRole);
    box->addButton("Later", QMessageBox::RejectRole);
    box->setDefaultButton(wizard);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, wizard, manual] {
        if (m_exiting)
            return;
        // Answered either way, the question is not asked again.
        recordConfigured();
        if (box->clickedButton() == wizard) {
            openWizard();
        } else if (box->clickedButton() == manual) {
            openSettings();
            showHelp(kHelpContext, kSetupTopic);
        }
    });
    m_firstRun = box;
    box->open();
}

void CTrayDialog::openWizard()
{
    if (m_exiting)
        return;
    if (m_wizard.isNull()) {
        m_wizard = new SetupWizard;
        m_wizard->setAttribute(Qt::WA_DeleteOnClose);
        CEventLog().LogEvent(4, "Setup wizard opened");
    }
    m_wizard->show();
    m_wizard->raise();
    m_wizard->activateWindow();
}

void CTrayDialog::recordConfigured()
{
    if (m_configured)
        return;
    m_configured = true;
    CRegistry reg;
    if (reg.CreateKey(programContext().settingsHive, "quilfpro", "/", true))
        storeFlag(reg, Setting::Configured, true);
}

void CTrayDialog::onTick()
{
    switch (m_ticker.tick(settingsOpen())) {
    case MainTicker::Outcome::Exit:
        exit();
        break;
    case MainTicker::Outcome::OpenSettings:
        openSettings();
        break;
    case MainTicker::Outcome::Continue:
        break;
    }
}

bool CTrayDialog::settingsOpen() const
{
    return !m_sheet.isNull();
}

void CTrayDialog::openSettings()
{
    if (m_exiting)
        return;
    if (settingsOpen()) {
        m_sheet->raise();
        m_sheet->activateWindow();
        return;
    }
    m_sheet = m_sheets();
    if (m_sheet.isNull())
        return;
    m_sheet->setAttribute(Qt::WA_DeleteOnClose);
    // Without a tray the window is all the user has of the program: a
    // window of its own (task bar, Alt-Tab) with the tray's commands.
    if (m_tray == nullptr) {
        m_sheet->setWindowFlags((m_sheet->windowFlags() & ~Qt::WindowType_Mask) | Qt::Window);
        m_sheet->addMenuButton("&Quillfence Pro", m_menu.get());
    }
    connect(m_sheet, &QDialog::finished, this, &CTrayDialog::onSettingsClosed);
    CEventLog().LogEvent(4, "Settings window opened");
    m_sheet->show();
    m_sheet->raise();
    m_sheet->activateWindow();
}

void CTrayDialog::onSettingsClosed(int result)
{
    if (result == QDialog::Accepted)
        recordConfigured();
    CEventLog().LogEvent(4, "Settings window closed");
}

void CTrayDialog::exit()
{
    m_exiting = true;
    m_timer->stop();
    if (m_tray)
        m_tray->hide();
    if (settingsOpen())
        m_sheet->done(QDialog::Rejected);
    if (m_firstRun)
        m_firstRun->close();
    if (m_wizard)
        m_wizard->close();
    if (m_helpProblem)
        m_helpProblem->close();
    emit exited();
}

void CTrayDialog::showHelp(int command, int data)
{
    if (m_showHelpId)
        showMessageBox(nullptr, QMessageBox::Information, "Help Data",
                       QString("Command: %1\nData: %2").arg(command).arg(data));
    const QString manual = QString::fromStdString(programContext().programFolder + "/quilfpro.html");
    QUrl url = QUrl::fromLocalFile(manual);
    // The first-run topic is the manual's setting-up section.
    if (data == kSetupTopic)
        url.setFragment("setup");
    QString problem;
    if (!QFileInfo(manual).isFile())
        problem = "The manual is not installed: " + manual + " is missing.";
    else if (!QDesktopServices::openUrl(url))
        problem = "No program on this desktop opens the manual, " + manual +
                  ". Open it in a web browser, or install one (xdg-open opens files with it).";
    if (problem.isEmpty())
        return;
    CEventLog().LogEvent(2, "Unable to open the manual %s", manual.toUtf8().constData());
    // Shown without waiting for it: help is asked from the first-run
    // question and the error dialog too.
    delete m_helpProblem.data();
    auto* box = new QMessageBox(QMessageBox::Warning, "Quillfence Pro Help", problem);
    box->setAttribute(Qt::WA_DeleteOnClose);
    m_helpProblem = box;
    box->open();
}

void CTrayDialog::showAbout()
{
    QMessageBox::about(nullptr, "About Quillfence Pro",
                       QString("Quillfence Pro\nVersion %1\n\nA POP3 proxy that filters spam before it reaches "
                               "your mail program.")
                           .arg(QF_VERSION));
}

QRect CTrayDialog::trayArea() const
{
    return m_tray ? m_tray->geometry() : QRect();
}

void CTrayDialog::sessionStarted()
{
    QMetaObject::invokeMethod(this, &CTrayDialog::onSessionStarted, Qt::QueuedConnection);
}

void CTrayDialog::sessionEnded()
{
    QMetaObject::invokeMethod(this, &CTrayDialog::onSessionEnded, Qt::QueuedConnection);
}

void CTrayDialog::listenerReady(int port)
{
    std::printf("Quillfence Pro is listening on 127.0.0.1:%d\n", port);
    std::fflush(stdout);
}

void CTrayDialog::listenerFailed(const std::string& text)
{
    std::fprintf(stderr, "Quillfence Error: %s\n", text.c_str());
    const QString copy = QString::fromStdString(text);
    QMetaObject::invokeMethod(this, [this, copy] { onListenerFailed(copy); }, Qt::QueuedConnection);
}

void CTrayDialog::statusText(const std::string& text)
{
    const QString copy = QString::fromLocal8Bit(text.c_str());
    QMetaObject::invokeMethod(this, [this, copy] { onStatusText(copy); }, Qt::QueuedConnection);
}

void CTrayDialog::onSessionStarted()
{
    if (m_activeSessions == 0 && !m_popup) {
        m_popup = std::make_unique<CStatusPopup>();
        m_popup->placeBeside(trayArea());
        m_popup->show();
    }
    ++m_activeSessions;
}

void CTrayDialog::onSessionEnded()
{
    if (m_popup && m_activeSessions == 1)
        m_popup.reset();
    if (m_activeSessions > 0)
        --m_activeSessions;
}

void CTrayDialog::onStatusText(const QString& text)
{
    // A text for a popup that is not there is dropped.  With sessions side
    // by side, the latest text says how many there are.
    if (m_popup)
        m_popup->setStatusText(m_activeSessions > 1 ? QString("%1 sessions: %2").arg(m_activeSessions).arg(text)
                                                    : text);
}

void CTrayDialog::onListenerFailed(const QString& text)
{
    if (showMessageBox(nullptr, QMessageBox::Critical, "Quillfence Error", text,
                       QMessageBox::Ok | QMessageBox::Help) == QMessageBox::Help)
        showHelp(kHelpContents, 0);
}
