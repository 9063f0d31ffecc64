// UpstreamClient: the proxy as the mail server's client.
//
// Owns the connection to the server.  begin() takes a connected server
// through TLS (from the first byte, or STLS when offered or required), the
// greeting and USER (and refuses a method that needs TLS on a plain
// connection); authenticate() proves the password by the login
// method's row (upstream/LoginMethods).  Then the calls of a session: LIST,
// UIDL, a message by TOP or RETR read into a sink, and the one-line
// commands (DELE, QUIT) by command(); NOOP when the line is idle.  A
// multi-line reply ends at the "." line that follows a whole line; its
// lines are given on as received, dot-stuffing kept.  Failures of the
// connection are raised as UpstreamLost (upstream/UpstreamConnection).
#pragma once

#include "upstream/LoginMethods.h"
#include "upstream/UpstreamConnection.h"

#include <functional>
#include <string>
#include <vector>

class UpstreamClient
{
public:
    // Silence after which the connection is worth a NOOP.
    static constexpr unsigned kKeepAliveMs = 45000;

    struct TlsSettings {
        std::string caFile;   // empty: the system's authorities
        bool verify = true;
    };

    UpstreamConnection& connection() { return m_connection; }
    const std::string& host() const { return m_host; }
    bool isConnected() const { return m_connection.isConnected(); }

    // Connects to host:port; 0, or -1 with connection().lastError().
    int connect(const std::string& host, int port);
    // The login up to the password, on the connected server: TLS by mode,
    // the greeting (and an APOP timestamp from it), STLS, and USER when
    // the method sends it.  reply receives the line for the mail client
    // (without CR LF).  False when the login cannot go on; reply is then
    // empty when the login's deadline passed.  A failed TLS drops the
    // connection: nothing more goes to a server that was not verified.
    bool begin(const std::string& user, TlsMode mode, LoginMethod method, const TlsSettings& tls,
               std::string& reply);
    // The method's exchange with the password ($OAUTH: the access token):
    // the server's last reply, or an "-ERR" text of the proxy's own.
    std::string authenticate(const std::string& password);

    enum class Listing { Done, Refused, Malformed };
    // LIST: the sizes in the server's order.  Malformed (logged) for a line
    // beyond the grammar of parseListLine or maxSize, or past maxCount
    // entries.  progress is told each entry's position and size.
    Listing list(long maxSize, size_t maxCount, std::vector<long>& sizes,
                 const std::function<void(int, long)>& progress);
    // UIDL for count messages: their ids in order.  Refused when the server
    // has no UIDL; Malformed when it lists fewer or more.  progress is told
    // each position before it is read.
    Listing uidl(size_t count, std::vector<std::string>& ids, const std::function<void(int)>& progress);

    // Sends a command line (with its CR LF) and reads the status line.
    std::string command(const std::string& line, bool isPassword = false);
    // The two halves of command(), for a caller that has other work to do
    // while the server answers: the line is sent, and its status line read
    // later.  Nothing else may be sent in between.
    void send(const std::string& line) { m_connection.send(line); }
    std::string readStatus() { return m_connection.readLine(); }
    // The lines of a multi-line reply whose status line has been read, in
    // pieces of at most kPiece bytes, line ends made CR LF, up to and with
    // the terminating line (last true).  The reply is always read to its
    // end, so that none of it can be taken for the next reply.
    static constexpr unsigned kPiece = 4096;
    using PieceSink = std::function<void(const char* piece, unsigned length, bool complete, bool last)>;
    void readMessage(const PieceSink& sink);

    // Sends NOOP when the connection has been silent for kKeepAliveMs.
    void keepAliveIfIdle();
    // Drops the connection at once (see UpstreamConnection::drop).
    void drop() { m_connection.drop(); }

private:
    bool startTls(const TlsSettings& tls, std::string& reply);
    // CAPA (unless required) and STLS; false when the login cannot go on.
    bool negotiateStls(bool required, const TlsSettings& tls, std::string& reply);
    UpstreamConnection m_connection;
    std::string m_host;
    int m_port = 0;
    std::string m_user;
    std::string m_timestamp;   // the greeting's, for APOP
    LoginMethod m_method = LoginMethod::UserPass;
};
