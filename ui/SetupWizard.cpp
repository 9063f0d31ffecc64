#include "ui/SetupWizard.h"

#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "common/StopToken.h"
#include "oauth/SignIn.h"
#include "ui/SettingsKey.h"
#include "ui/WindowRect.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>
#include <utility>
#include <vector>

namespace {

constexpr int kPop3Port = 110;

// The account page is complete once its fields make a login name.
class AccountWizardPage : public QWizardPage
{
public:
    explicit AccountWizardPage(const SetupWizard& wizard) : m_wizard(wizard) {}
    bool isComplete() const override { return !m_wizard.loginName().isEmpty(); }
    void fieldsChanged() { emit completeChanged(); }

private:
    const SetupWizard& m_wizard;
};

QLabel* wrappedLabel(const QString& text)
{
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

// A label whose text the user can select and copy.
QLabel* selectableLabel(Qt::TextFormat format)
{
    QLabel* label = wrappedLabel(QString());
    label->setTextFormat(format);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

TlsMode tlsModeOf(int security)
{
    switch (security) {
    case SetupWizard::ImplicitTls:
        return TlsMode::Implicit;
    case SetupWizard::RequiredStls:
        return TlsMode::Stls;
    default:
        return TlsMode::Opportunistic;
    }
}

bool isIpv6Address(const std::string& text)
{
    in6_addr address{};
    return ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

bool holdsBlank(const QString& text)
{
    for (const QChar c : text)
        if (c.isSpace())
            return true;
    return false;
}

} // namespace

SetupWizard::SetupWizard(QWidget* parent)
    : QWizard(parent), m_listenPort(defaultOf(Setting::ListenPort)),
      m_separator(static_cast<char>(defaultOf(Setting::SeparatorChar)))
{
    CRegistry reg;
    if (openSettingsKey(reg)) {
        querySetting(reg, Setting::ListenPort, m_listenPort);
        int separator = 0;
        if (querySetting(reg, Setting::SeparatorChar, separator))
            m_separator = static_cast<char>(separator);
    }
    setWindowTitle("Quillfence Pro Setup");
    setPage(AccountPage, makeAccountPage());
    setPage(CheckPage, makeCheckPage());
    setPage(ClientPage, makeClientPage());
    setOption(QWizard::NoBackButtonOnStartPage);
    fitToScreenWhenShown(*this);
}

SetupWizard::~SetupWizard()
{
    stopCheck();
}

QWizardPage* SetupWizard::makeAccountPage()
{
    auto* page = new AccountWizardPage(*this);
    m_accountPage = page;
    page->setTitle("Your mail account");
    page->setSubTitle("The account as your mail provider gives it: Quillfence Pro logs in to this server for "
                      "your mail program.");
    m_user = new QLineEdit;
    m_user->setPlaceholderText("you, or you@example.com");
    m_host = new QLineEdit;
    m_host->setPlaceholderText("pop.example.com");
    m_security = new QComboBox;
    m_security->addItem("TLS from the first byte (POP3S)");
    m_security->addItem("STARTTLS (STLS), required");
    m_security->addItem("STLS when the server offers it, else none");
    m_port = new QSpinBox;
    m_port->setRange(1, 65535);
    m_port->setValue(kPop3sPort);
    m_method = new QComboBox;
    m_method->addItem("Password (USER and PASS)");
    m_method->addItem("APOP");
    m_method->addItem("OAuth 2.0 sign-in (Outlook.com, Microsoft 365, Gmail)");
    m_loginLabel = selectableLabel(Qt::PlainText);

    auto* form = new QFormLayout;
    form->addRow("&User name at the server:", m_user);
    form->addRow("Incoming (POP3) &server:", m_host);
    form->addRow("Connection s&ecurity:", m_security);
    form->addRow("&Port:", m_port);
    form->addRow("&Login method:", m_method);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addSpacing(8);
    layout->addWidget(m_loginLabel);
    layout->addStretch();

    connect(m_user, &QLineEdit::textChanged, this, &SetupWizard::onAccountEdited);
    connect(m_host, &QLineEdit::textChanged, this, &SetupWizard::onAccountEdited);
    connect(m_method, &QComboBox::currentIndexChanged, this, &SetupWizard::onAccountEdited);
    connect(m_security, &QComboBox::currentIndexChanged, this, &SetupWizard::onSecurityChanged);
    connect(m_port, &QSpinBox::valueChanged, this, [this] {
        if (!m_settingPort)
            m_portEdited = true;
        onAccountEdited();
    });
    onAccountEdited();
    return page;
}

QWizardPage* SetupWizard::makeCheckPage()
{
    auto* page = new QWizardPage;
    page->setTitle("Check the login");
    page->setSubTitle("Quillfence Pro can log in to your mail server now, as it will each time your mail "
                      "program collects mail. Nothing is read or deleted.");
    m_password = new QLineEdit;
    m_password->setEchoMode(QLineEdit::Password);
    m_checkButton = new QPushButton("&Try the Login");
    m_authorizeButton = new QPushButton("&Authorize...");
    m_authorizeButton->setToolTip("Sign in with the mail provider, once: Quillfence Pro then logs in with a token");
    m_signIn = selectableLabel(Qt::RichText);
    m_signIn->setOpenExternalLinks(true);
    m_signIn->setTextInteractionFlags(Qt::TextBrowserInteraction);
    m_result = selectableLabel(Qt::PlainText);

    auto* form = new QFormLayout;
    form->addRow("Pass&word:", m_password);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    m_passwordNote = wrappedLabel(QString());
    layout->addWidget(m_passwordNote);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_authorizeButton);
    buttons->addWidget(m_checkButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addWidget(m_signIn);
    layout->addWidget(m_result);
    layout->addStretch();
    connect(m_checkButton, &QPushButton::clicked, this, &SetupWizard::startCheck);
    connect(m_authorizeButton, &QPushButton::clicked, this, &SetupWizard::startAuthorize);
    return page;
}

QWizardPage* SetupWizard::makeClientPage()
{
    auto* page = new QWizardPage;
    page->setTitle("Set up your mail program");
    page->setSubTitle("Your mail program collects from Quillfence Pro on this computer. Give it these settings "
                      "for the account's incoming mail.");
    m_clientSettings = selectableLabel(Qt::RichText);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_clientSettings);
    layout->addWidget(wrappedLabel(
        "Sending mail (SMTP) is not touched: leave the outgoing server as your provider says. Many mail "
        "programs warn that this connection is not encrypted. For Quillfence Pro on 127.0.0.1 it is safe to "
        "go on: the connection never leaves your computer, and Quillfence Pro protects the part that crosses "
        "the network as chosen on the first page."));
    layout->addStretch();
    return page;
}

void SetupWizard::initializePage(int id)
{
    if (id == CheckPage) {
        const bool token = m_method->currentIndex() == OAuth;
        m_authorizeButton->setVisible(token);
        m_password->setEnabled(!token);
        m_passwordNote->setText(token ? "A token login needs no password: Authorize... signs the account in "
                                        "with its provider once, then Try the Login uses that sign-in."
                                      : "The password is used for this check only. Quillfence Pro does not keep "
                                        "it: your mail program gives it at each collection.");
        if (!checkRunning()) {
            m_result->clear();
            m_signIn->clear();
        }
    }
    if (id == ClientPage) {
        QString rows;
        for (const QString& line : clientSettingsText().split('\n')) {
            const qsizetype colon = line.indexOf(": ");
            rows += QString("<tr><td>%1</td><td><b>%2</b></td></tr>")
                        .arg(line.left(colon).toHtmlEscaped(), line.mid(colon + 2).toHtmlEscaped());
        }
        m_clientSettings->setText("<table cellspacing=\"4\">" + rows + "</table>");
    }
    QWizard::initializePage(id);
}

void SetupWizard::onSecurityChanged()
{
    // The port follows the choice until the user gives one.
    if (!m_portEdited) {
        m_settingPort = true;
        m_port->setValue(m_security->currentIndex() == ImplicitTls ? kPop3sPort : kPop3Port);
        m_settingPort = false;
    }
    onAccountEdited();
}

void SetupWizard::onAccountEdited()
{
    const QString name = loginName();
    if (name.isEmpty())
        m_loginLabel->setText(accountProblem());
    else
        m_loginLabel->setText("Your mail program logs in to Quillfence Pro as: " + name);
    static_cast<AccountWizardPage*>(m_accountPage)->fieldsChanged();
}

QString SetupWizard::accountProblem() const
{
    const QString user = m_user->text().trimmed();
    const QString host = m_host->text().trimmed();
    if (user.isEmpty())
        return "Give your user name at the mail server.";
    if (host.isEmpty())
        return "Give the name of your mail server.";
    if (holdsBlank(user))
        return "The user name cannot hold spaces.";
    if (holdsBlank(host) || host.contains('$') || host.contains(QChar(m_separator)) || host.contains('/'))
        return QString("The server name cannot hold spaces, '$', '/' or '%1'.").arg(QChar(m_separator));
    if (host.contains(':') && !isIpv6Address(fieldAddress().host))
        return "Give the port in the Port field, not with the server.";

    const LoginAddress address = fieldAddress();
    if (address.method == LoginMethod::OAuth && address.tls == TlsMode::Opportunistic)
        return "A token login is only sent over TLS: choose POP3S or STARTTLS (required).";
    LoginAddress readBack;
    switch (parseLoginAddress(formatLoginAddress(address, m_separator), m_separator, readBack)) {
    case LoginAddressFault::TooLong:
        return "The user name and server are too long.";
    case LoginAddressFault::Syntax:
        return "The user name and server do not make a login name.";
    case LoginAddressFault::None:
        break;
    }
    if (readBack.tls != address.tls)
        return "Port 995 always means TLS from the first byte: choose that, or another port.";
    if (readBack.user != address.user || readBack.host != address.host || readBack.port != address.port ||
        readBack.method != address.method)
        return "The user name and server do not make a login name.";
    return QString();
}

QString SetupWizard::loginName() const
{
    if (!accountProblem().isEmpty())
        return QString();
    return QString::fromStdString(formatLoginAddress(fieldAddress(), m_separator));
}

LoginAddress SetupWizard::fieldAddress() const
{
    LoginAddress address;
    address.user = m_user->text().trimmed().toStdString();
    // An IPv6 address may come in its brackets or without.
    QString host = m_host->text().trimmed();
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    address.host = host.toStdString();
    address.port = m_port->value();
    address.tls = tlsModeOf(m_security->currentIndex());
    const int method = m_method->currentIndex();
    address.method = method == Apop ? LoginMethod::Apop : method == OAuth ? LoginMethod::OAuth : LoginMethod::UserPass;
    return address;
}

QString SetupWizard::clientSettingsText() const
{
    const std::vector<std::pair<QString, QString>> rows = {
        {"Account type", "POP3 (POP)"},
        {"Incoming server", "127.0.0.1"},
        {"Port", QString::number(m_listenPort)},
        {"Connection security", "None (no SSL/TLS, no STARTTLS)"},
        {"Authentication", "Normal password (plain text, USER/PASS)"},
        {"User name", loginName()},
        {"Password", m_method->currentIndex() == OAuth ? "any (not used: Quillfence Pro signs in with a token)"
                                                       : "your mail server's password"},
    };
    QStringList lines;
    for (const auto& [setting, value] : rows)
        lines << setting + ": " + value;
    return lines.join('\n');
}

void SetupWizard::startCheck()
{
    if (checkRunning())
        return;
    const std::string name = loginName().toStdString();
    const std::string password = m_password->text().toStdString();
    setCheckButtonsEnabled(false);
    m_result->setText("Logging in to the mail server...");
    m_job = std::make_shared<CheckJob>();
    m_job->owner = this;
    std::promise<void> ended;
    m_checkEnded = ended.get_future();
    m_check = std::thread([job = m_job, name, password, ended = std::move(ended)]() mutable {
        StopToken::bind(&job->stop);
        LoginCheckResult result;
        try {
            result = checkLogin(name, password);
        } catch (...) {
            result.loggedIn = false;
            result.text = "The login could not be tried.";
        }
        StopToken::bind(nullptr);
        post(*job, [result](SetupWizard& wizard) { wizard.onCheckDone(result); });
        ended.set_value();
    });
}

void SetupWizard::post(CheckJob& job, std::function<void(SetupWizard&)> call)
{
    // The wizard cannot go while this is held; once posted, the call is
    // dropped with the wizard if it goes first.
    const std::lock_guard<std::mutex> lock(job.mutex);
    if (SetupWizard* owner = job.owner)
        QMetaObject::invokeMethod(owner, [owner, call = std::move(call)] { call(*owner); }, Qt::QueuedConnection);
}

void SetupWizard::setCheckButtonsEnabled(bool enabled)
{
    m_checkButton->setEnabled(enabled);
    m_authorizeButton->setEnabled(enabled);
}

void SetupWizard::startAuthorize()
{
    if (checkRunning())
        return;
    LoginAddress address;
    if (parseLoginAddress(loginName().toStdString(), m_separator, address) != LoginAddressFault::None)
        return;
    SignInRequest request{programContext().programFolder, programContext().dataRoot,
                                accountOfFile(address.accountFile), address.host, {}, {}};
    CRegistry reg;
    if (openSettingsKey(reg))
        querySetting(reg, Setting::TlsCAFile, request.https.caFile);
    setCheckButtonsEnabled(false);
    m_signIn->clear();
    m_result->setText("Asking the provider for a sign-in code...");
    m_job = std::make_shared<CheckJob>();
    m_job->owner = this;
    std::promise<void> ended;
    m_checkEnded = ended.get_future();
    m_check = std::thread([job = m_job, request, ended = std::move(ended)]() mutable {
        bool signedIn = false;
        QString text;
        try {
            const SignInResult result = signIn(
                request,
                [&job](const std::string& uri, const std::string& code, const std::string&) {
                    const QString address = QString::fromStdString(uri);
                    const QString link = QString("<a href=\"%1\">%2</a>")
                                             .arg(address.toHtmlEscaped(),
                                                  code.empty() ? QString("the provider's sign-in page")
                                                               : address.toHtmlEscaped());
                    const QString shown =
                        code.empty()
                            ? "Sign in at " + link + ", opened in your browser."
                            : QString("Open %1 in a browser and enter the code <b>%2</b>, then sign in there.")
                                  .arg(link, QString::fromStdString(code).toHtmlEscaped());
                    const bool openPage = code.empty();
                    post(*job, [shown, address, openPage](SetupWizard& wizard) {
                        wizard.m_signIn->setText(shown);
                        wizard.m_result->setText("Waiting for the sign-in...");
                        if (openPage)
                            QDesktopServices::openUrl(QUrl(address));
                    });
                },
                [&job] { return job->stop.load(); });
            signedIn = result.outcome == SignInResult::Outcome::SignedIn;
            text = signedIn ? QString("Signed in with %1. Try the Login now.").arg(QString::fromStdString(result.provider))
                            : QString::fromStdString("Not signed in: " + result.error);
        } catch (...) {
            text = "The sign-in could not be tried.";
        }
        post(*job, [signedIn, text](SetupWizard& wizard) { wizard.onAuthorizeDone(signedIn, text); });
        ended.set_value();
    });
}

void SetupWizard::onAuthorizeDone(bool signedIn, const QString& text)
{
    if (m_check.joinable())
        m_check.join();
    m_job.reset();
    setCheckButtonsEnabled(true);
    if (signedIn)
        m_signIn->clear();
    m_result->setText(text);
    emit authorizeFinished(signedIn);
}

void SetupWizard::onCheckDone(const LoginCheckResult& result)
{
    if (m_check.joinable())
        m_check.join();
    m_job.reset();
    setCheckButtonsEnabled(true);
    m_result->setText(QString::fromStdString(result.text));
    emit checkFinished(result.loggedIn);
}

void SetupWizard::stopCheck()
{
    if (!m_check.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_job->mutex);
        m_job->owner = nullptr;
        m_job->stop = true;
    }
    // Every wait of the check sees the flag within a tenth of a second; a
    // name lookup does not, and is not waited for.
    if (m_checkEnded.wait_for(std::chrono::seconds(1)) == std::future_status::ready)
        m_check.join();
    else
        m_check.detach();
    m_job.reset();
}
