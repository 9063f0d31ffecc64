// Upstream login: USER with the composite user name, PASS with USER/PASS,
// APOP or (when a security package is installed) AUTH MSN.
#include "proxy/CSession.h"

#include "proxy/LoginAddress.h"
#include "proxy/ReplyText.h"

#include "common/CEventLog.h"
#include "common/Base64.h"
#include "common/MD5.h"
#include "proxy/SecurityInterface.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

class CSession::LoginClock
{
public:
    explicit LoginClock(CSession& session)
        : m_session(session), m_end(std::chrono::steady_clock::now() + session.m_loginTimeLeft)
    {
        session.server.setDeadline(m_end);
    }
    ~LoginClock()
    {
        m_session.server.clearDeadline();
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
                         serverHost.c_str(), m_upstreamDeadline);
    dropUpstream();
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
    authMethod = address.method;
    accountFile = address.accountFile;
    serverHost = address.host;

    // A second USER starts again with a fresh upstream connection, and the
    // whole of the login's time.
    if (connected)
        dropUpstream();
    m_loginTimeLeft = std::chrono::seconds(m_upstreamDeadline);
    const LoginClock clock(*this);
    try {
        openUpstream(address.user, address.port, address.tls);
    } catch (const UpstreamLost&) {
        if (!server.deadlinePassed())
            throw;
        loginTimedOut();
    }
}

void CSession::openUpstream(const std::string& user, int port, TlsMode tls)
{
    status("Connecting");
    if (server.connect(serverHost.c_str(), port) != 0) {
        if (server.deadlinePassed()) {
            loginTimedOut();
            return;
        }
        sendClient(formatText("-ERR Unable to connect to %s:%d, error %d\r\n", serverHost.c_str(), port,
                              server.getLastError()));
        return;
    }
    connected = true;
    status("Connected");

    if (tls == TlsMode::Implicit && !startUpstreamTls())
        return;
    const std::string greeting = readServer();
    if (!beginsWith(greeting, "+OK")) {
        sendClient("-ERR Server signon " + greeting + "\r\n");
        return;
    }
    if (authMethod == LoginMethod::Apop) {
        apopTimestamp.clear();
        const size_t open = greeting.find('<');
        if (open == std::string::npos) {
            sendClient("-ERR Apop login not available, no timestamp\r\n");
            return;
        }
        const size_t close = greeting.find('>', open);
        if (close != std::string::npos) {
            const std::string timestamp = greeting.substr(open, close - open + 1);
            if (timestamp.size() > kMaxTimestamp) {
                sendClient("-ERR Apop timestamp of the server too long\r\n");
                return;
            }
            apopTimestamp = timestamp;
        }
    }
    if (tls != TlsMode::Implicit && !negotiateStls(tls == TlsMode::Stls))
        return;
    upstreamUser = user;
    if (authMethod != LoginMethod::UserPass) {
        sendClient("+OK user accepted\r\n");
        return;
    }
    sendServer("USER " + user + "\r\n");
    sendClient(readServer() + "\r\n");
}

bool CSession::startUpstreamTls()
{
    if (!m_tlsVerify)
        CEventLog().LogEvent(2, "TLS certificate of %s not verified (TlsVerify is off)", serverHost.c_str());
    const TlsOptions options{serverHost, m_tlsCAFile, m_tlsVerify};
    std::string error;
    if (server.startTls(options, error)) {
        CEventLog().LogEvent(4, "TLS with %s", serverHost.c_str());
        return true;
    }
    if (server.deadlinePassed()) {
        loginTimedOut();
        return false;
    }
    // Nothing more goes to a server that could not be verified.
    CEventLog().LogEvent(1, "TLS with %s failed: %s", serverHost.c_str(), error.c_str());
    dropUpstream();
    sendClient("-ERR " + error + "\r\n");
    return false;
}

bool CSession::negotiateStls(bool required)
{
    bool offered = required;
    if (!required) {
        // A server that lists STLS among its capabilities is asked for it.
        sendServer("CAPA\r\n");
        if (beginsWith(readServer(), "+OK")) {
            for (std::string line; (line = readServer()) != ".";) {
                const std::string word = line.substr(0, line.find(' '));
                offered = offered || ::strcasecmp(word.c_str(), "STLS") == 0;
            }
        }
    }
    if (!offered)
        return true;
    sendServer("STLS\r\n");
    if (!beginsWith(readServer(), "+OK")) {
        if (!required) {
            CEventLog().LogEvent(2, "%s lists STLS but refused it: the session stays unencrypted", serverHost.c_str());
            return true;
        }
        CEventLog().LogEvent(1, "%s does not offer STLS", serverHost.c_str());
        dropUpstream();
        sendClient("-ERR The server " + serverHost + " does not offer STLS\r\n");
        return false;
    }
    return startUpstreamTls();
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
    if (!connected) {
        sendClient("-ERR Send USER <username>@<server> first\r\n");
        return;
    }
    status("Authenticating");
    std::string reply;
    {
        // The collection below has time limits of its own.
        const LoginClock clock(*this);
        try {
            if (!authenticate(password, reply))
                return;
        } catch (const UpstreamLost&) {
            if (!server.deadlinePassed())
                throw;
            loginTimedOut();
            return;
        }
    }
    if (!beginsWith(reply, "+OK")) {
        sendClient(reply + "\r\n");
        return;
    }
    // "+OK" now; the line is completed once the mailbox is collected.
    sendClient("+OK");
    m_replyBegun = true;
    loggedIn = collect();
    analysisFailed = !loggedIn;
    if (analysisFailed && connected) {
        // The stream may hold the rest of a reply the collection did not
        // read: nothing more is sent on it, not even QUIT or DELE.
        CEventLog().LogEvent(1, "Mailbox collection failed, connection to the mail server closed");
        dropUpstream();
    }
    sendClientRaw("\r\n", 2);
}

bool CSession::authenticate(const std::string& password, std::string& reply)
{
    switch (authMethod) {
    case LoginMethod::UserPass:
        sendServer("PASS " + password + "\r\n", true);
        reply = readServer();
        return true;
    case LoginMethod::Apop: {
        MD5_CTX context;
        MD5Init(&context);
        const std::string text = apopTimestamp + password;
        MD5Update(&context, reinterpret_cast<const unsigned char*>(text.data()),
                  static_cast<unsigned>(text.size()));
        unsigned char digest[16];
        MD5Final(digest, &context);
        char hex[33];
        for (int i = 0; i < 16; ++i)
            std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        sendServer("APOP " + upstreamUser + " " + hex + "\r\n");
        reply = readServer();
        return true;
    }
    case LoginMethod::Msn:
        if (!SecurityInterface::available()) {
            sendClient("-ERR MSN authentication package not available\r\n");
            return false;
        }
        msnLogin(upstreamUser, password, reply);
        return true;
    }
    return false;
}

bool CSession::msnLogin(const std::string& user, const std::string& password, std::string& reply)
{
    const QfSecurityFunctionTable* sspi = SecurityInterface::table();
    QfSecPackageInfo info{};
    long status = sspi->QuerySecurityPackageInfo("MSN", &info);
    if (status != 0) {
        CEventLog().LogEvent(1, "QuerySecurityPackageInfo failed, error %08x", static_cast<unsigned>(status));
        reply = formatText("-ERR Internal error, QuerySecurityPackageInfo failed, error %08x",
                       static_cast<unsigned>(status));
        return false;
    }
    void* credentials = nullptr;
    status = sspi->AcquireCredentialsHandle("MSN", user.c_str(), "", password.c_str(), &credentials);
    if (status != 0) {
        CEventLog().LogEvent(1, "AcquireCredentialsHandle, error %08x", static_cast<unsigned>(status));
        reply = formatText("-ERR Internal error, AcquireCredentialsHandle failed, error %08x",
                       static_cast<unsigned>(status));
        return false;
    }
    // Tokens are bounded whatever the package claims.
    const unsigned long maxToken = std::min<unsigned long>(std::max<unsigned long>(info.maxToken, 1), kMaxToken);
    std::vector<unsigned char> input(maxToken), output(maxToken);

    sendServer("AUTH MSN\r\n");
    reply = readServer(kMaxChallengeLine);
    void* context = nullptr;
    while (beginsWith(reply, "+") && !beginsWith(reply, "+OK")) {
        unsigned long inputLength = 0;
        const bool haveInput = reply.size() > 2;
        if (haveInput) {
            std::vector<char> decoded(reply.size() + 3);
            const int n = MimeDecodeLine(reply.c_str() + 2, decoded.data());
            inputLength = std::min<unsigned long>(static_cast<unsigned long>(n), maxToken);
            std::memcpy(input.data(), decoded.data(), inputLength);
        }
        unsigned long outputLength = maxToken;
        void* next = nullptr;
        status = sspi->InitializeSecurityContext(credentials, context, &next, serverHost.c_str(),
                                                 haveInput ? input.data() : nullptr, inputLength,
                                                 output.data(), &outputLength);
        if (next != nullptr)
            context = next;
        if (status < 0) {
            reply = formatText("-ERR Internal error, InitializeSecurityContext failed, error %08x",
                           static_cast<unsigned>(status));
            break;
        }
        outputLength = std::min(outputLength, maxToken);
        std::string token(4 * ((outputLength + 2) / 3) + 1, '\0');
        MimeEncodeStr(reinterpret_cast<const char*>(output.data()), token.data(), static_cast<int>(outputLength));
        token.resize(std::strlen(token.c_str()));
        sendServer(token + "\r\n");
        reply = readServer(kMaxChallengeLine);
        if (!beginsWith(reply, "+"))
            break;
    }
    if (context != nullptr)
        sspi->DeleteSecurityContext(context);
    sspi->FreeCredentialsHandle(credentials);
    return beginsWith(reply, "+OK");
}
