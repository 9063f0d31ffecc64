#include "upstream/UpstreamClient.h"

#include "common/CEventLog.h"
#include "common/DotLine.h"
#include "upstream/ListingLines.h"
#include "upstream/ReplyText.h"

#include <strings.h>

#include <cstring>

int UpstreamClient::connect(const std::string& host, int port)
{
    m_host = host;
    m_port = port;
    return m_connection.connect(host, port);
}

bool UpstreamClient::begin(const std::string& user, TlsMode mode, LoginMethod method, const TlsSettings& tls,
                           std::string& reply)
{
    m_method = method;
    const LoginMethodRow& row = loginMethodRow(method);
    if (mode == TlsMode::Implicit && !startTls(tls, reply))
        return false;
    const std::string greeting = m_connection.readLine();
    if (!beginsWith(greeting, "+OK")) {
        reply = "-ERR Server signon " + greeting;
        return false;
    }
    m_timestamp.clear();
    if (row.needsTimestamp) {
        switch (apopTimestampOf(greeting, m_timestamp)) {
        case TimestampFault::Missing:
            reply = "-ERR Apop login not available, no timestamp";
            return false;
        case TimestampFault::TooLong:
            reply = "-ERR Apop timestamp of the server too long";
            return false;
        case TimestampFault::None:
            break;
        }
    }
    if (mode != TlsMode::Implicit && !negotiateStls(mode == TlsMode::Stls, tls, reply))
        return false;
    if (row.needsTls && !m_connection.secure()) {
        // A token is as good as the password: never on a plain connection.
        CEventLog().LogEvent(1, "%s offers no TLS: a token login is never sent on a plain connection",
                             m_host.c_str());
        m_connection.drop();
        reply = "-ERR The server " + m_host + " offers no TLS, and a token login needs it";
        return false;
    }
    m_user = user;
    if (!row.sendsUser) {
        reply = "+OK user accepted";
        return true;
    }
    reply = command("USER " + user + "\r\n");
    return true;
}

bool UpstreamClient::startTls(const TlsSettings& tls, std::string& reply)
{
    if (!tls.verify)
        CEventLog().LogEvent(2, "TLS certificate of %s not verified (TlsVerify is off)", m_host.c_str());
    const TlsOptions options{m_host, tls.caFile, tls.verify};
    std::string error;
    if (m_connection.startTls(options, error)) {
        CEventLog().LogEvent(4, "TLS with %s", m_host.c_str());
        return true;
    }
    reply.clear();
    if (m_connection.deadlinePassed())
        return false;
    // Nothing more goes to a server that could not be verified.
    CEventLog().LogEvent(1, "TLS with %s failed: %s", m_host.c_str(), error.c_str());
    m_connection.drop();
    reply = "-ERR " + error;
    return false;
}

bool UpstreamClient::negotiateStls(bool required, const TlsSettings& tls, std::string& reply)
{
    bool offered = required;
    if (!required && beginsWith(command("CAPA\r\n"), "+OK")) {
        // A server that lists STLS among its capabilities is asked for it.
        for (std::string line; (line = m_connection.readLine()) != ".";) {
            const std::string word = line.substr(0, line.find(' '));
            offered = offered || ::strcasecmp(word.c_str(), "STLS") == 0;
        }
    }
    if (!offered)
        return true;
    if (!beginsWith(command("STLS\r\n"), "+OK")) {
        if (!required) {
            CEventLog().LogEvent(2, "%s lists STLS but refused it: the session stays unencrypted", m_host.c_str());
            return true;
        }
        CEventLog().LogEvent(1, "%s does not offer STLS", m_host.c_str());
        m_connection.drop();
        reply = "-ERR The server " + m_host + " does not offer STLS";
        return false;
    }
    return startTls(tls, reply);
}

std::string UpstreamClient::authenticate(const std::string& password)
{
    return loginMethodRow(m_method).exchange(m_connection,
                                             LoginCredentials{m_user, password, m_host, m_port, m_timestamp});
}

UpstreamClient::Listing UpstreamClient::list(long maxSize, size_t maxCount, std::vector<long>& sizes,
                                             const std::function<void(int, long)>& progress)
{
    if (!beginsWith(command("LIST\r\n"), "+OK"))
        return Listing::Refused;
    for (int position = 1;; ++position) {
        const std::string line = m_connection.readLine();
        if (line == ".")
            return Listing::Done;
        long size = 0;
        if (!parseListLine(line, maxSize, size) || sizes.size() >= maxCount) {
            CEventLog().LogEvent(1, "Malformed LIST line %d from the server", position);
            return Listing::Malformed;
        }
        progress(position, size);
        sizes.push_back(size);
    }
}

UpstreamClient::Listing UpstreamClient::uidl(size_t count, std::vector<std::string>& ids,
                                             const std::function<void(int)>& progress)
{
    if (!beginsWith(command("UIDL\r\n"), "+OK"))
        return Listing::Refused;
    for (size_t i = 0; i < count; ++i) {
        progress(static_cast<int>(i + 1));
        const std::string line = m_connection.readLine();
        if (line == ".")
            return Listing::Malformed;   // fewer ids than messages
        ids.push_back(uidOfUidlLine(line));
    }
    return m_connection.readLine() == "." ? Listing::Done : Listing::Malformed;
}

std::string UpstreamClient::command(const std::string& line, bool isPassword)
{
    m_connection.send(line, isPassword);
    return m_connection.readLine();
}

void UpstreamClient::readMessage(const PieceSink& sink)
{
    char piece[kPiece + 3];
    bool previousComplete = true;
    for (;;) {
        bool complete = false;
        const unsigned length = m_connection.readPiece(piece, kPiece, complete);
        const bool last = previousComplete && complete && isDotLine(std::string_view(piece, length));
        sink(piece, length, complete, last);
        if (last)
            return;
        previousComplete = complete;
    }
}

void UpstreamClient::keepAliveIfIdle()
{
    if (isConnected() && m_connection.idleMs() >= kKeepAliveMs)
        command("NOOP\r\n");
}
