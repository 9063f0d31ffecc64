// SetupWizard: the first-run guide to one mail account, in three pages.
//
// The account: the user name at the mail server, the server, how the
// connection is protected, the port and the login method, from which the
// login name the mail program gives Quillfence Pro is made (and shown as it
// is typed).  The check: with the password, Try the Login logs in to the
// server by the proxy's own login code (proxy/LoginCheck) on a thread of its
// own and says what happened; the password is kept for the check alone.
// For a token login ($OAUTH) Authorize... first signs the account in with
// its provider (oauth/SignIn) on that same thread, showing the address to
// open and the code to enter (or opening the provider's page in the
// browser); the sign-in is kept for the proxy's sessions.
// The mail program: the settings to give it, as the client guide lists
// them, with this proxy's port and the login name filled in.  The wizard
// stores nothing itself.  A check still running when it closes is stopped
// and waited for a moment; one held up longer (by a slow name lookup) is
// left to end by itself, and its result goes nowhere.
#pragma once

#include "proxy/LoginAddress.h"
#include "proxy/LoginCheck.h"

#include <QWizard>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class SetupWizard : public QWizard
{
    Q_OBJECT
public:
    enum PageId { AccountPage, CheckPage, ClientPage };
    // The choices of the security field, in its order.
    enum Security { ImplicitTls, RequiredStls, OfferedStls };
    enum Method { UserPass, Apop, OAuth };

    // The port the mail program connects to and the separator are read
    // from the settings (ListenPort, SeparatorChar).
    explicit SetupWizard(QWidget* parent = nullptr);
    ~SetupWizard() override;
    SetupWizard(const SetupWizard&) = delete;
    SetupWizard& operator=(const SetupWizard&) = delete;

    // The user name for the mail program; empty while the fields make none.
    QString loginName() const;
    // Why the fields make no login name; empty when they do.
    QString accountProblem() const;
    bool checkRunning() const { return m_check.joinable(); }
    // The text of the mail program's settings, as the last page shows it.
    QString clientSettingsText() const;

    QLineEdit* userField() const { return m_user; }
    QLineEdit* hostField() const { return m_host; }
    QComboBox* securityField() const { return m_security; }
    QSpinBox* portField() const { return m_port; }
    QComboBox* methodField() const { return m_method; }
    QLineEdit* passwordField() const { return m_password; }
    QPushButton* checkButton() const { return m_checkButton; }
    QPushButton* authorizeButton() const { return m_authorizeButton; }
    QLabel* signInText() const { return m_signIn; }
    QLabel* checkResult() const { return m_result; }

signals:
    // A check has ended, its result shown.
    void checkFinished(bool loggedIn);
    // A sign-in (Authorize...) has ended, its result shown.
    void authorizeFinished(bool signedIn);

protected:
    void initializePage(int id) override;

private:
    // The account the fields give, as they stand.
    LoginAddress fieldAddress() const;
    QWizardPage* makeAccountPage();
    QWizardPage* makeCheckPage();
    QWizardPage* makeClientPage();
    void onSecurityChanged();
    void onAccountEdited();
    void startCheck();
    void onCheckDone(const LoginCheckResult& result);
    void startAuthorize();
    void onAuthorizeDone(bool signedIn, const QString& text);
    void stopCheck();
    void setCheckButtonsEnabled(bool enabled);

    int m_listenPort;
    char m_separator;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_host = nullptr;
    QComboBox* m_security = nullptr;
    QSpinBox* m_port = nullptr;
    QComboBox* m_method = nullptr;
    QLabel* m_loginLabel = nullptr;
    QWizardPage* m_accountPage = nullptr;
    bool m_portEdited = false;   // the user chose the port: security no longer sets it
    bool m_settingPort = false;
    QLineEdit* m_password = nullptr;
    QPushButton* m_checkButton = nullptr;
    QPushButton* m_authorizeButton = nullptr;
    QLabel* m_passwordNote = nullptr;
    QLabel* m_signIn = nullptr;   // the provider's address and code
    QLabel* m_result = nullptr;
    QLabel* m_clientSettings = nullptr;
    // What a check's thread shares with the wizard: its stop flag, and the
    // wizard to tell, null once the wizard is gone.
    struct CheckJob {
        std::atomic<bool> stop{false};
        std::mutex mutex;
        SetupWizard* owner = nullptr;
    };
    // Runs call on the wizard's thread, unless the wizard has gone.
    static void post(CheckJob& job, std::function<void(SetupWizard&)> call);
    std::shared_ptr<CheckJob> m_job;
    std::thread m_check;
    std::future<void> m_checkEnded;
};
