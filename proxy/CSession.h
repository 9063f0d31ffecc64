// CSession: one mail client's connection, served on a thread of its own.
//
// Made with new by the listener for an accepted connection; its thread runs
// the POP3 dialogue (run) and deletes the session when the dialogue ends.
// The fields are the session's state as the rest of the proxy and the
// filter's rule functions see it (through currentSession()).  The server's
// side is the upstream client's, the mailbox's gathering the collection's
// (proxy/Collection); the session coordinates them and answers the client.
//
// Lines to and from the client go through sendClient and readClient, which
// write the traffic log (passwords masked).
#pragma once

#include "common/CWorkerThread.h"
#include "common/SettingsTable.h"
#include "common/Socket.h"
#include "common/UniqueFd.h"
#include "filter/Evaluation.h"
#include "filter/FilterContext.h"
#include "store/AccountLock.h"
#include "store/AccountState.h"
#include "store/CMessage.h"
#include "store/PendingFolder.h"
#include "proxy/LoginAddress.h"
#include "proxy/SessionList.h"
#include "upstream/UpstreamClient.h"

#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class CSession;

// What a session is given by whoever makes it: the judge of its messages
// (the rules when null), and, for tests and benchmarks that want a crafted
// mailbox, a collection of their own in place of the server's (true logs
// the client in).
struct SessionSetup {
    MessageJudge* judge = nullptr;
    std::function<bool(CSession&)> collection;
    // The client runs as the proxy's own user: only such a session is
    // given the messages of the pending folder, which are the user's.
    bool ownUser = true;
    // The rules, lists and settings to judge with (null: the latest load).
    std::shared_ptr<RuleSet> rules = nullptr;
};

class CSession : public CWorkerThread
{
public:
    // A client line holds at most 254 characters before its CR LF; a longer
    // one is refused whole ("-ERR Line too long").
    static constexpr size_t kMaxClientLine = 254;
    // Silence towards the client, while the mailbox is collected, after
    // which it is sent a keep-alive ".".
    static constexpr unsigned kKeepAliveMs = 45000;
    static constexpr int kTimeoutMs = 60000;
    // At the end of a session each connection waits this long for its peer
    // to close: a client that lingers after QUIT must not hold back the
    // next client for a whole read time-out.
    static constexpr int kCloseDrainMs = 5000;
    // A spooled text could not be read as far as it was measured.
    struct SpoolReadFailed {
        std::string path;
    };
    // The most a relayed reply holds back before sending it on.
    static constexpr size_t kRelayBatch = 65536;

    // Adopts the accepted connection; the session starts at once.
    explicit CSession(SocketHandle handle, SessionSetup setup = {});
    ~CSession() override;

    unsigned run() override;

    // Traffic wrappers.  Client errors are raised as the socket layer's
    // integers (the upstream client raises UpstreamLost for the server's).
    int sendClient(const std::string& text);
    // One client line without its CR LF; false when it was longer than
    // kMaxClientLine (then it has been read to its end and dropped, and
    // line is empty).  Password lines are logged masked.
    bool readClient(std::string& line);
    // A status text for the popup (cut at 63 characters).
    void status(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The commands; each reads its own arguments and replies itself.
    void cmdUser(const std::vector<std::string>& args);
    void cmdPass(const std::vector<std::string>& args);
    void cmdStat(const std::vector<std::string>& args);
    void cmdList(const std::vector<std::string>& args);
    void cmdRetr(const std::vector<std::string>& args);
    void cmdUidl(const std::vector<std::string>& args);
    void cmdDele(const std::vector<std::string>& args);
    void cmdTop(const std::vector<std::string>& args);
    void cmdNoop(const std::vector<std::string>& args);
    // RSET: the server's RSET; on its "+OK" every message marked deleted in
    // this session is listed again.
    void cmdRset(const std::vector<std::string>& args);
    // CAPA: what this proxy offers its client (before and after login), not
    // the server's list.
    void cmdCapa(const std::vector<std::string>& args);
    void cmdQuit(const std::vector<std::string>& args);

    // The password of a PASS command line.
    static std::string passwordOf(const std::string& line);
    // $OAUTH: the account's access token in place of the client's password;
    // false when the reply (an "-ERR" line) has gone to the client.
    bool tokenForLogin(std::string& token);
    // True for a line whose first word begins with PASS: it is logged masked.
    static bool isPasswordLine(const std::string& line);
    // The session's folders under the data root.
    std::string stateFolder() const;

    // At QUIT: records the kept messages for the next session and removes
    // the files of local and (committed) deleted ones.  Only after a
    // complete collection.  False when the new state could not be written
    // (the old one stands: the messages of this session are judged again).
    // recorded, when given, receives the state keys the new state holds.
    bool writeAccountState(bool committed, std::set<std::string>* recorded = nullptr);

    // First of the members, so gone last: the session is in the list until
    // everything it owns has closed (its sockets, files and locks).
    SessionList::Entry listEntry{this};
    Socket client;
    UpstreamClient upstream;
    long keepAliveTime = 0;
    bool analysisFailed = false;
    int maxCollectionTime = defaultOf(Setting::MaxCollectionTime);
    bool collectionReport = defaultOf(Setting::CollectionReport) != 0;
    bool uidlSupported = true;
    bool finished = false;
    std::string accountFile;
    char separator = static_cast<char>(defaultOf(Setting::SeparatorChar));
    bool loggedIn = false;
    bool tidyLogs = defaultOf(Setting::TidyLogs) != 0;
    int tidyLogDays = defaultOf(Setting::TidyLogDays);
    bool popupStatus = defaultOf(Setting::PopupStatus) != 0;
    Mailbox mailbox;
    // Written by the session's thread under the session list's lock, which
    // currentSession() holds while it reads it.
    unsigned long threadId = 0;
    std::unique_ptr<FilterContext> filter;

private:
    void readSettings();
    // Collects the mailbox after a login; true when the client can use it.
    bool collect();
    // A "." to the client when it has waited kKeepAliveMs: while collect()
    // runs, the server connection's activity hook calls it at every send
    // and read.
    void keepAlive();
    void dispatch(const std::string& line);
    void keepAliveUpstream();
    void closeConnections();
    void upstreamLost(long error);
    bool requireLogin();
    bool refuseSecondLogin();
    // USER's upstream half: connect, then the upstream client's begin; the
    // client is answered.
    void openUpstream(const LoginAddress& address);
    // The login's time ran out: the upstream connection is dropped and the
    // client told.
    void loginTimedOut();
    // For the length of one login command, every wait of the server socket
    // ends when the login's time left runs out.
    class LoginClock;
    // Entry n (1-based) or null when n is out of range.
    CMessage* entry(long n);
    // LIST n and UIDL n: the entry named by the first argument, or null
    // after "-ERR Invalid message number" (0 or below) or "-ERR No such
    // message" (past the end).
    CMessage* numberedEntry(const std::vector<std::string>& args, long& n);
    // RETR and DELE: the logged-in client's entry named by the first
    // argument, or null after the error reply (not logged in, no such
    // number, deleted).  n receives the number.
    CMessage* liveEntry(const std::vector<std::string>& args, long& n);
    void logTraffic(unsigned short level, const char* prefix, const std::string& text, bool isPassword);
    // Raw bytes to the client (message texts).
    void sendClientRaw(const char* data, size_t length);

    // Whether message has a text to serve; a local message whose file was
    // never measured is measured (CMessage::readText) when first served.
    bool measuredText(CMessage& message);
    // RETR (lines below 0) and TOP n lines of a message with a text.
    void serveText(CMessage& message, long n, long lines);
    // RETR n (or TOP n m_topLines when top) relayed from the server as is.
    void relayFromServer(long n, bool top);

    std::string m_clientLogCopy;
    long m_topLines = 0;   // the line count of the TOP being relayed
    // The server's numbers of the messages the filter deleted there while
    // collecting: a client's RSET must not bring them back.
    std::vector<int> m_filterDeleted;
    std::string m_line;    // the command line being handled
    bool m_collected = false;
    // Part of the reply to the command being handled has reached the client
    // (a relayed status line, PASS's "+OK"): a failure now cannot be told
    // with an error reply, only by closing the connection.
    bool m_replyBegun = false;
    bool m_quitConfirmed = false;   // the server answered QUIT with +OK
    bool m_quitSent = false;        // the server was sent QUIT
    bool m_stateWritten = false;    // QUIT wrote the account state
    // Seconds the server's part of a login may take (UpstreamDeadline),
    // and what is left of them: USER and PASS draw on the same time, the
    // client's own pause between them does not count.  A server that
    // trickles its greeting or its handshake a byte at a time cannot hold
    // the session longer.
    int m_upstreamDeadline = defaultOf(Setting::UpstreamDeadline);
    std::chrono::milliseconds m_loginTimeLeft{0};
    UpstreamClient::TlsSettings m_tls;   // settings TlsCAFile, TlsVerify
    // How USER asked to log in, and the account as the user names it
    // (without suffixes), for a token login's replies.
    LoginMethod m_loginMethod = LoginMethod::UserPass;
    std::string m_loginName;
    MessageJudge& m_judge;
    std::function<bool(CSession&)> m_collection;
    bool m_ownUser;
    AccountState m_accountState;
    std::shared_ptr<RuleSet> m_rules;   // until run() makes the filter context
    // A PASS for an account that another session is collecting waits this
    // many seconds (AccountWait), then is answered "-ERR [IN-USE] ...".
    int m_accountWait = defaultOf(Setting::AccountWait);
    // Held from the PASS that logs in until the session's end.
    AccountLock m_accountLock;
    PendingClaim m_pendingClaim;
};
