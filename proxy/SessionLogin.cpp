// The client's login: USER names the upstream login and opens it, PASS
// completes it and collects the mailbox.  The exchanges with the server are
// the upstream client's.
#include "proxy/CSession.h"

#include "proxy/LoginAddress.h"
#include "upstream/ReplyText.h"

#include "common/CEventLog.h"
#include "oauth/AccessTokens.h"

#include <algorithm>
#include <chrono>

class CSession::LoginClock
{
public:
    explicit LoginClock(CSession& session)
        : m_session(session), m_end(std::chrono::steady_clock::now() + session.m_loginTimeLeft)
    {
        session.upstream.connection().setDeadline(m_end);
    }
    ~LoginClock()
    {
        m_session.upstream.connection().clearDeadline();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_end - std::chrono::steady_clock::now());
        m_session.m_loginTimeLeft = std::max(left, std::chrono::milliseconds(0));
    }
    LoginClock(const LoginClock&) = delete;
    LoginClock& operator=(const LoginClock&) = delete;

private:
    CSession& m_session;
    const std::chrono::steady_clock::time_point m_end;
};

void CSession::loginTimedOut()
{
    CEventLog().LogEvent(1, "The mail server %s did not complete the login within %d seconds, connection dropped",
                         upstream.host().c_str(), m_upstreamDeadline);
    upstream.drop();
    sendClient(formatText("-ERR The mail server did not complete the login within %d seconds\r\n",
                          m_upstreamDeadline));
}

bool CSession::refuseSecondLogin()
{
    // One session serves one account: its mailbox, spools and state file
    // belong to the login that built them.
    if (!loggedIn)
        return false;
    sendClient("-ERR Already logged in\r\n");
    return true;
}

void CSession::cmdUser(const std::vector<std::string>& args)
{
    if (refuseSecondLogin())
        return;
    // The syntax reply keeps its long-standing text; the TLS suffixes and
    // bracketed IPv6 addresses are described in the README.
    const std::string syntax = formatText(
        "-ERR Quillfence requires USER <username>%c<server>[:<port>][$APOP|$MSN]\r\n", separator);
    LoginAddress address;
    switch (parseLoginAddress(args.empty() ? std::string() : args[0], separator, address)) {
    case LoginAddressFault::Syntax:
        sendClient(syntax);
        return;
    case LoginAddressFault::TooLong:
        sendClient("-ERR User name and server too long\r\n");
        return;
    case LoginAddressFault::None:
        break;
    }
    accountFile = address.accountFile;
    m_loginMethod = address.method;
    m_loginName = args[0].substr(0, args[0].find('$', args[0].rfind(separator)));
    if (address.method == LoginMethod::OAuth && !m_ownUser) {
        // The kept sign-ins are the user's own, like their mailbox.
        CEventLog().LogEvent(2, "Token login for %s refused: the client runs as another user", m_loginName.c_str());
        sendClient("-ERR Token logins are served only to the user who runs Quillfence Pro\r\n");
        return;
    }

    // A second USER starts again with a fresh upstream connection, and the
    // whole of the login's time.
    if (upstream.isConnected())
        upstream.drop();
    m_loginTimeLeft = std::chrono::seconds(m_upstreamDeadline);
    const LoginClock clock(*this);
    try {
        openUpstream(address);
    } catch (const UpstreamLost&) {
        if (!upstream.connection().deadlinePassed())
            throw;
        loginTimedOut();
    }
}

void CSession::openUpstream(const LoginAddress& address)
{
    status("Connecting");
    if (upstream.connect(address.host, address.port) != 0) {
        if (upstream.connection().deadlinePassed()) {
            loginTimedOut();
            return;
        }
        sendClient(formatText("-ERR Unable to connect to %s:%d, error %d\r\n", address.host.c_str(), address.port,
                              upstream.connection().lastError()));
        return;
    }
    status("Connected");
    std::string reply;
    if (!upstream.begin(address.user, address.tls, address.method, m_tls, reply) && reply.empty()) {
        loginTimedOut();
        return;
    }
    sendClient(reply + "\r\n");
}

namespace {

// The provider's answer draws on the login's time too.
OAuthContext oauthContextWith(const UpstreamClient::TlsSettings& tls, std::chrono::milliseconds timeLeft)
{
    return programOAuthContext(tls.caFile, std::chrono::duration_cast<std::chrono::seconds>(timeLeft).count());
}

} // namespace

bool CSession::tokenForLogin(std::string& token)
{
    std::string reply;
    if (currentAccessToken(oauthContextWith(m_tls, m_loginTimeLeft), accountOfFile(accountFile), m_loginName, token,
                           reply))
        return true;
    // The server waits for AUTH: it is not kept waiting for a login that
    // cannot come.
    upstream.drop();
    sendClient(reply + "\r\n");
    return false;
}

std::string CSession::passwordOf(const std::string& line)
{
    // After the word PASS and the one delimiter that ends it; trailing
    // blanks go, everything else stays.
    size_t pos = line.find_first_not_of(" \t");
    pos = line.find_first_of(" \t\r\n", pos);
    if (pos == std::string::npos)
        return {};
    std::string password = line.substr(pos + 1);
    password.resize(std::min(password.size(), password.find_first_of("\r\n")));
    password.resize(password.find_last_not_of(" \t") + 1);
    return password;
}

void CSession::cmdPass(const std::vector<std::string>&)
{
    if (refuseSecondLogin())
        return;
    const std::string password = passwordOf(m_line);
    if (password.empty()) {
        sendClient("-ERR password required\r\n");
        return;
    }
    if (!upstream.isConnected()) {
        sendClient("-ERR Send USER <username>@<server> first\r\n");
        return;
    }
    // Before the server is asked: a second session of this account must not
    // log in while another is collecting or deleting from its mailbox.
    if (!m_accountLock.acquire(accountFile, std::chrono::seconds(m_accountWait))) {
        CEventLog().LogEvent(2, "Account %s is being collected by another session", accountFile.c_str());
        sendClient("-ERR [IN-USE] Quillfence Pro is collecting this account for another client, try again later\r\n");
        return;
    }
    status("Authenticating");
    std::string reply;
    {
        // The collection below has time limits of its own.
        const LoginClock clock(*this);
        try {
            std::string secret = password;
            if (m_loginMethod == LoginMethod::OAuth && !tokenForLogin(secret)) {
                m_accountLock.release();
                return;
            }
            reply = upstream.authenticate(secret);
            if (m_loginMethod == LoginMethod::OAuth && !beginsWith(reply, "+OK")) {
                // The server's reason goes to the client; the server is not
                // asked again on this connection.
                forgetAccessToken(oauthContextWith(m_tls, m_loginTimeLeft), accountOfFile(accountFile));
                upstream.drop();
            }
        } catch (const UpstreamLost&) {
            m_accountLock.release();
            if (!upstream.connection().deadlinePassed())
                throw;
            loginTimedOut();
            return;
        }
    }
    if (!beginsWith(reply, "+OK")) {
        m_accountLock.release();
        sendClient(reply + "\r\n");
        return;
    }
    // "+OK" now; the line is completed once the mailbox is collected.
    sendClient("+OK");
    m_replyBegun = true;
    loggedIn = collect();
    analysisFailed = !loggedIn;
    if (analysisFailed && upstream.isConnected()) {
        // The stream may hold the rest of a reply the collection did not
        // read: nothing more is sent on it, not even QUIT or DELE.
        CEventLog().LogEvent(1, "Mailbox collection failed, connection to the mail server closed");
        upstream.drop();
    }
    sendClientRaw("\r\n", 2);
}
