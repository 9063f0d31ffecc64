// The setup wizard, driven offscreen: the login name it makes of the
// account's fields, the mail program's settings on its last page (those of
// the client guide), and its login check over real sockets: refused, cut
// short by closing the wizard, against a scripted server (what it sends,
// what it says of a plain login), and (SetupWizardLogin, run by
// with-dovecot.py) against a real Dovecot over TLS and STLS, with APOP.
#include "ui/SetupWizard.h"

#include "SettingsTestSupport.h"
#include "support/FakeUpstream.h"
#include "support/Loopback.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace {

struct CheckOutcome {
    bool loggedIn = false;
    std::string text;
};

class SetupWizardTest : public SettingsPageTest
{
protected:
    static void fillAccount(SetupWizard& wizard, const QString& user, const QString& host,
                            SetupWizard::Security security, int port = 0)
    {
        wizard.userField()->setText(user);
        wizard.hostField()->setText(host);
        wizard.securityField()->setCurrentIndex(security);
        if (port != 0)
            wizard.portField()->setValue(port);
    }

    // Presses Try the Login on the check page and waits for its end.
    static CheckOutcome tryLogin(SetupWizard& wizard, const QString& password)
    {
        wizard.show();
        while (wizard.currentId() != SetupWizard::CheckPage)
            wizard.next();
        wizard.passwordField()->setText(password);
        QSignalSpy finished(&wizard, &SetupWizard::checkFinished);
        wizard.checkButton()->click();
        EXPECT_FALSE(wizard.checkButton()->isEnabled()) << "one check at a time";
        EXPECT_TRUE(finished.wait(30000)) << "the check did not end";
        CheckOutcome outcome;
        if (!finished.isEmpty())
            outcome.loggedIn = finished.front().front().toBool();
        outcome.text = wizard.checkResult()->text().toStdString();
        EXPECT_TRUE(wizard.checkButton()->isEnabled());
        return outcome;
    }
};

TEST_F(SetupWizardTest, TheLoginNameFollowsTheAccountsFields)
{
    SetupWizard wizard;
    QWizardPage* page = wizard.page(SetupWizard::AccountPage);
    EXPECT_FALSE(page->isComplete()) << "nothing given yet";
    EXPECT_EQ(wizard.accountProblem(), "Give your user name at the mail server.");

    // TLS from the first byte on 995 is the first choice.
    fillAccount(wizard, "me@example.com", "pop.example.com", SetupWizard::ImplicitTls);
    EXPECT_EQ(wizard.portField()->value(), 995);
    EXPECT_EQ(wizard.loginName(), "me@example.com@pop.example.com:995");
    EXPECT_TRUE(page->isComplete());

    // The port follows the security until the user sets one.
    wizard.securityField()->setCurrentIndex(SetupWizard::RequiredStls);
    EXPECT_EQ(wizard.portField()->value(), 110);
    EXPECT_EQ(wizard.loginName(), "me@example.com@pop.example.com$STLS");
    wizard.methodField()->setCurrentIndex(SetupWizard::Apop);
    EXPECT_EQ(wizard.loginName(), "me@example.com@pop.example.com$STLS$APOP");
    wizard.methodField()->setCurrentIndex(SetupWizard::UserPass);
    wizard.portField()->setValue(2110);
    wizard.securityField()->setCurrentIndex(SetupWizard::ImplicitTls);
    EXPECT_EQ(wizard.portField()->value(), 2110);
    EXPECT_EQ(wizard.loginName(), "me@example.com@pop.example.com:2110$TLS");
    wizard.hostField()->setText("[2001:db8::5]");
    EXPECT_EQ(wizard.loginName(), "me@example.com@[2001:db8::5]:2110$TLS");

    // What no login name can say.
    wizard.hostField()->setText("pop.example.com");
    wizard.securityField()->setCurrentIndex(SetupWizard::OfferedStls);
    wizard.portField()->setValue(995);
    EXPECT_EQ(wizard.loginName(), "");
    EXPECT_TRUE(wizard.accountProblem().startsWith("Port 995 always means TLS"));
    EXPECT_FALSE(page->isComplete());
    wizard.portField()->setValue(110);
    EXPECT_EQ(wizard.loginName(), "me@example.com@pop.example.com");
    for (const char* host : {"pop example.com", "pop$APOP", "me@pop", "pop/x"}) {
        wizard.hostField()->setText(host);
        EXPECT_EQ(wizard.loginName(), "") << host;
        EXPECT_TRUE(wizard.accountProblem().startsWith("The server name cannot hold")) << host;
    }
    wizard.hostField()->setText("pop.example.com");
    wizard.userField()->setText("me you");
    EXPECT_EQ(wizard.loginName(), "");
    wizard.userField()->setText("me@example.com");
    wizard.hostField()->setText("pop.example.com:995");
    EXPECT_EQ(wizard.accountProblem(), "Give the port in the Port field, not with the server.");
    wizard.hostField()->setText("2001:db8::5");
    EXPECT_EQ(wizard.loginName(), "me@example.com@[2001:db8::5]") << "an IPv6 address without its brackets";
    wizard.hostField()->setText("pop.example.com");
    wizard.userField()->setText(QString(600, 'u'));
    EXPECT_EQ(wizard.accountProblem(), "The user name and server are too long.");
}

TEST_F(SetupWizardTest, ATokenLoginIsAuthorizedFromTheCheckPageAndNeedsTls)
{
    // A provider of the user's own that lacks a client id: Authorize...
    // runs the sign-in on its thread up to the point where it says what is
    // missing, before anything would go to the network.
    const std::string providers = programContext().dataRoot + "/oauth-providers.txt";
    std::ofstream(providers) << "[mailco]\nservers = pop.mailco.example\n";
    SetupWizard wizard;
    fillAccount(wizard, "me", "pop.mailco.example", SetupWizard::OfferedStls);
    wizard.methodField()->setCurrentIndex(SetupWizard::OAuth);
    EXPECT_EQ(wizard.loginName(), "");
    EXPECT_TRUE(wizard.accountProblem().startsWith("A token login is only sent over TLS"));
    wizard.securityField()->setCurrentIndex(SetupWizard::ImplicitTls);
    EXPECT_EQ(wizard.loginName(), "me@pop.mailco.example:995$OAUTH");

    wizard.show();
    wizard.next();
    ASSERT_EQ(wizard.currentId(), SetupWizard::CheckPage);
    EXPECT_TRUE(wizard.authorizeButton()->isVisible());
    EXPECT_FALSE(wizard.passwordField()->isEnabled());
    QSignalSpy finished(&wizard, &SetupWizard::authorizeFinished);
    wizard.authorizeButton()->click();
    EXPECT_FALSE(wizard.checkButton()->isEnabled()) << "one check or sign-in at a time";
    ASSERT_TRUE(finished.wait(10000)) << "the sign-in did not end";
    EXPECT_FALSE(finished.front().front().toBool());
    EXPECT_TRUE(wizard.checkResult()->text().startsWith("Not signed in: mailco needs a client id"))
        << wizard.checkResult()->text().toStdString();
    EXPECT_TRUE(wizard.checkButton()->isEnabled());
    EXPECT_TRUE(wizard.authorizeButton()->isEnabled());
    EXPECT_TRUE(wizard.clientSettingsText().contains("Password: any (not used"));

    // A password login has no Authorize... and takes the password again.
    wizard.back();
    wizard.methodField()->setCurrentIndex(SetupWizard::UserPass);
    wizard.next();
    EXPECT_FALSE(wizard.authorizeButton()->isVisible());
    EXPECT_TRUE(wizard.passwordField()->isEnabled());
    std::filesystem::remove(providers);
}

TEST_F(SetupWizardTest, TheLastPageGivesTheMailProgramTheClientGuidesSettings)
{
    setSetting("ListenPort", 2345);
    setSetting("SeparatorChar", static_cast<int>('#'));
    SetupWizard wizard;
    fillAccount(wizard, "me@example.com", "pop.example.com", SetupWizard::ImplicitTls);
    EXPECT_EQ(wizard.loginName(), "me@example.com#pop.example.com:995") << "the separator of the settings";
    wizard.show();
    wizard.next();
    wizard.next();
    ASSERT_EQ(wizard.currentId(), SetupWizard::ClientPage);
    const QString text = wizard.clientSettingsText();
    std::map<std::string, std::string> rows;
    for (const QString& line : text.split('\n')) {
        const qsizetype colon = line.indexOf(": ");
        ASSERT_GT(colon, 0) << line.toStdString();
        rows[line.left(colon).toStdString()] = line.mid(colon + 2).toStdString();
    }
    EXPECT_EQ(rows["Port"], "2345");
    EXPECT_EQ(rows["Incoming server"], "127.0.0.1");
    EXPECT_EQ(rows["User name"], "me@example.com#pop.example.com:995");

    // Each row is one of the guide's, and where the guide's value is the
    // same for everyone it is the same text.
    std::ifstream guide(QF_CLIENT_GUIDE);
    ASSERT_TRUE(guide) << QF_CLIENT_GUIDE;
    std::map<std::string, std::string> guideRows;
    for (std::string line; std::getline(guide, line);) {
        if (line.rfind("| ", 0) != 0)
            continue;
        const size_t bar = line.find(" | ", 2);
        if (bar != std::string::npos)
            guideRows.emplace(line.substr(2, bar - 2), line.substr(bar + 3, line.size() - bar - 5));
    }
    for (const auto& [setting, value] : rows) {
        SCOPED_TRACE(setting);
        ASSERT_EQ(guideRows.count(setting), 1u) << "not a row of the client guide";
        if (setting == "Account type" || setting == "Connection security" || setting == "Authentication" ||
            setting == "Password") {
            EXPECT_EQ(value, guideRows[setting]);
        }
    }
    // The page shows them, the user name as text, not markup.
    wizard.back();
    wizard.back();
    wizard.userField()->setText("<b>me</b>");
    wizard.next();
    wizard.next();
    const auto labels = wizard.currentPage()->findChildren<QLabel*>();
    const bool escaped = std::any_of(labels.begin(), labels.end(), [](const QLabel* label) {
        return label->text().contains("&lt;b&gt;me&lt;/b&gt;#pop.example.com:995");
    });
    EXPECT_TRUE(escaped);
}

TEST_F(SetupWizardTest, TheCheckSaysWhenNothingListensOnTheServersPort)
{
    int port = 0;
    {
        const LoopbackListener closed;
        port = closed.port();
    }
    SetupWizard wizard;
    fillAccount(wizard, "me", "127.0.0.1", SetupWizard::OfferedStls, port);
    const CheckOutcome outcome = tryLogin(wizard, "secret");
    EXPECT_FALSE(outcome.loggedIn);
    EXPECT_EQ(outcome.text, "Unable to connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused.");

    // Without a password nothing is tried.
    const CheckOutcome empty = tryLogin(wizard, "");
    EXPECT_EQ(empty.text, "A password is needed to try the login.");
}

TEST_F(SetupWizardTest, ClosingTheWizardStopsACheckThatWaitsForTheServer)
{
    // A server that takes the connection and never greets, and a login
    // deadline beyond the test's time: only the stop can end the check.
    setSetting("UpstreamDeadline", 3600);
    LoopbackListener silent;
    auto wizard = std::make_unique<SetupWizard>();
    fillAccount(*wizard, "me", "127.0.0.1", SetupWizard::OfferedStls, silent.port());
    wizard->show();
    wizard->next();
    wizard->passwordField()->setText("secret");
    wizard->checkButton()->click();
    ASSERT_TRUE(wizard->checkRunning());
    UniqueFd connection = silent.accept();
    ASSERT_TRUE(connection);
    QTest::qWait(200);
    EXPECT_TRUE(wizard->checkRunning()) << "still waiting for the greeting";
    wizard.reset();
    // The check's connection is closed, not left open to the server.
    pollfd ready{connection.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 5000), 1) << "the connection is still open";
    char byte = 0;
    EXPECT_EQ(::recv(connection.get(), &byte, 1, 0), 0);
}

TEST_F(SetupWizardTest, APlainLoginIsCalledUnencryptedAndTouchesNothingInTheMailbox)
{
    FakeUpstream server({{"CAPA", "-ERR no capabilities\r\n"},
                         {"USER me", "+OK\r\n"},
                         {"PASS secret", "+OK welcome\r\n"},
                         {"USER nobody", "-ERR no such user\r\n"},
                         {"QUIT", "+OK bye\r\n"}});
    const std::string where = "127.0.0.1:" + std::to_string(server.port());
    SetupWizard wizard;
    fillAccount(wizard, "me", "127.0.0.1", SetupWizard::OfferedStls, server.port());
    CheckOutcome outcome = tryLogin(wizard, "secret");
    EXPECT_TRUE(outcome.loggedIn);
    EXPECT_EQ(outcome.text, "Logged in to " + where + ", but without encryption: the password crossed the network "
                            "as plain text. The server said: +OK welcome");
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.received().size() == 4; }, 5000));
    EXPECT_EQ(server.received(), (std::vector<std::string>{"CAPA", "USER me", "PASS secret", "QUIT"}));

    wizard.back();
    wizard.userField()->setText("nobody");
    outcome = tryLogin(wizard, "secret");
    EXPECT_FALSE(outcome.loggedIn);
    EXPECT_EQ(outcome.text, "The server refused the user name: -ERR no such user");
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.received().size() >= 6; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(server.received().size(), 6u);
    EXPECT_EQ(server.received().back(), "USER nobody") << "no password after a refused user name";
}

// Against the Dovecot that with-dovecot.py starts: user alice, password
// "secret", a certificate for localhost from the test CA.
class SetupWizardLogin : public SetupWizardTest
{
protected:
    void SetUp() override
    {
        SetupWizardTest::SetUp();
        const char* plain = std::getenv("QF_TEST_POP3_PORT");
        const char* tls = std::getenv("QF_TEST_POP3S_PORT");
        const char* ca = std::getenv("QF_TEST_CA");
        if (plain == nullptr || tls == nullptr || ca == nullptr)
            GTEST_SKIP() << "no Dovecot: run through with-dovecot.py";
        m_plainPort = std::atoi(plain);
        m_tlsPort = std::atoi(tls);
        m_ca = ca;
        setSetting("TlsCAFile", m_ca.c_str());
    }

    int m_plainPort = 0;
    int m_tlsPort = 0;
    std::string m_ca;
};

TEST_F(SetupWizardLogin, LogsInOverTlsAndStlsAndSaysWhatTheServerSaid)
{
    SetupWizard implicit;
    fillAccount(implicit, "alice", "localhost", SetupWizard::ImplicitTls, m_tlsPort);
    CheckOutcome outcome = tryLogin(implicit, "secret");
    EXPECT_TRUE(outcome.loggedIn) << outcome.text;
    EXPECT_EQ(outcome.text.rfind("Logged in to localhost:" + std::to_string(m_tlsPort) + " over TLS. The server "
                                 "said: +OK", 0), 0u) << outcome.text;

    SetupWizard stls;
    fillAccount(stls, "alice", "localhost", SetupWizard::RequiredStls, m_plainPort);
    stls.methodField()->setCurrentIndex(SetupWizard::Apop);
    outcome = tryLogin(stls, "secret");
    EXPECT_TRUE(outcome.loggedIn) << outcome.text;
    EXPECT_NE(outcome.text.find("over TLS"), std::string::npos) << outcome.text;
}

TEST_F(SetupWizardLogin, AWrongPasswordOrAnUnknownCertificateIsNoLogin)
{
    SetupWizard wizard;
    fillAccount(wizard, "alice", "localhost", SetupWizard::ImplicitTls, m_tlsPort);
    CheckOutcome outcome = tryLogin(wizard, "not the password");
    EXPECT_FALSE(outcome.loggedIn);
    EXPECT_EQ(outcome.text.rfind("Not logged in: -ERR", 0), 0u) << outcome.text;

    // Without the test CA the server's certificate is not trusted: the
    // login stops before the password is sent.
    setSetting("TlsCAFile", "");
    outcome = tryLogin(wizard, "secret");
    EXPECT_FALSE(outcome.loggedIn);
    EXPECT_EQ(outcome.text.rfind("Not logged in: -ERR", 0), 0u) << outcome.text;
    EXPECT_NE(outcome.text.find("certificate"), std::string::npos) << outcome.text;

    // With TlsVerify off the login goes through, and the check says the
    // certificate was not checked.
    setSetting("TlsVerify", 0);
    outcome = tryLogin(wizard, "secret");
    EXPECT_TRUE(outcome.loggedIn) << outcome.text;
    EXPECT_NE(outcome.text.find("over TLS, but the server's certificate was not checked (TlsVerify is off)"),
              std::string::npos)
        << outcome.text;
}

TEST_F(SetupWizardLogin, StlsWhenOfferedIsTakenWhenTheServerOffersIt)
{
    SetupWizard wizard;
    fillAccount(wizard, "alice", "localhost", SetupWizard::OfferedStls, m_plainPort);
    const CheckOutcome outcome = tryLogin(wizard, "secret");
    EXPECT_TRUE(outcome.loggedIn) << outcome.text;
    EXPECT_NE(outcome.text.find("over TLS"), std::string::npos) << outcome.text;
}

} // namespace
