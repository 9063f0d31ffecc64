// CSession: one mail client's connection, served on a thread of its own.
//
// Made with new by the listener for an accepted connection; its thread runs
// the POP3 dialogue (run) and deletes the session when the dialogue ends.
// The fields are the session's state as the other parts of the proxy and
// the filter's rule functions see it (through currentSession()).
//
// Lines to and from the two peers go through sendClient, sendServer,
// readClient and readServer, which write the traffic log (passwords masked).
#pragma once

#include "common/CWorkerThread.h"
#include "common/Socket.h"
#include "filter/FilterContext.h"
#include "proxy/CMessage.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CSession : public CWorkerThread
{
public:
    // Lines from the client are read into a buffer of this size: at most 254
    // characters, longer lines arrive as several pieces.
    static constexpr unsigned kClientLine = 255;
    // Silence after which the upstream connection gets a NOOP.
    static constexpr unsigned kKeepAliveMs = 45000;
    static constexpr int kTimeoutMs = 60000;
    // At the end of a session each connection waits this long for its peer
    // to close: a client that lingers after QUIT must not hold back the
    // next client for a whole read time-out.
    static constexpr int kCloseDrainMs = 5000;
    // Replies of the server to USER and the greeting: at most 254 characters.
    static constexpr unsigned kServerLine = 255;
    // The APOP timestamp and the account state file name are refused, not
    // cut, beyond these lengths.
    static constexpr size_t kMaxTimestamp = 79;
    static constexpr size_t kMaxAccountFile = 511;

    // Adopts the accepted connection; the session starts at once.
    explicit CSession(SocketHandle handle);
    ~CSession() override;

    unsigned run() override;

    // Traffic wrappers; socket errors are reported and raised again.
    int sendClient(const std::string& text);
    int sendServer(const std::string& text, bool isPassword = false);
    unsigned readClient(char* buf, unsigned size, bool& found, const char* terminator = "\r\n");
    unsigned readServer(char* buf, unsigned size, bool& found, const char* terminator = "\r\n");
    // A status text for the popup (cut at 63 characters).
    void status(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Deletes a file with up to 10 attempts; logs the outcome.
    bool deleteFileRetry(const std::string& path);
    // Deletes daily logs older than tidyLogDays.
    void tidyOldLogs();

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
    void cmdQuit(const std::vector<std::string>& args);

    // Until the mailbox collection exists: when installed, a successful
    // upstream login calls this to fill the mailbox; true logs the client
    // in.  Tests and benchmarks install it; the program does not.
    using CollectionSeam = std::function<bool(CSession&)>;
    static void setCollectionSeam(CollectionSeam seam);

    // The password of a PASS command line.
    static std::string passwordOf(const std::string& line);
    // The AUTH MSN exchange through the security package; reply receives
    // the last server reply or an "-ERR Internal error" text.  True when the
    // server accepted.
    bool msnLogin(const std::string& user, const std::string& password, std::string& reply);
    // The largest security token handled, whatever a package declares.
    static constexpr unsigned long kMaxToken = 65536;

    // The session's folders under the data root.
    std::string stateFolder() const;

    // At QUIT: records the kept messages for the next session and removes
    // the files of local and (committed) deleted ones.  Only after a
    // complete collection.
    void writeAccountState(bool committed);
    // For the filter: the whole of the current header-only message into its
    // spool file; the current entry's header-only flag and size.
    void fetchWholeMessage();
    bool isCurrentHeaderOnly() const;
    long currentMessageSize() const;
    // A message of the proxy's own at the end of the mailbox; body lines end
    // in CR LF.  False (logged) when its file cannot be written.
    bool createVirtualMessage(const std::string& subject, const std::string& body);

    Socket client;
    Socket server;
    uint32_t serverActivityTick = 0;   // CVDateTime::tickCount()
    bool useTop = true;
    std::string serverHost;
    int authMethod = 0;
    long keepAliveTime = 0;
    bool analysisFailed = false;
    int maxCollectionTime = 0;
    std::string apopTimestamp;
    bool collectionReport = true;
    bool uidlSupported = true;
    bool finished = false;
    std::string accountFile;
    char separator = '@';
    bool loggedIn = false;
    bool tidyLogs = false;
    int tidyLogDays = 7;
    bool connected = false;
    bool popupStatus = true;
    std::vector<std::unique_ptr<CMessage>> mailbox;
    std::string upstreamUser;
    int currentIndex = 0;
    std::string currentSpoolPath;
    unsigned long threadId = 0;
    std::unique_ptr<FilterContext> filter;

private:
    void readSettings();
    // Collects the mailbox after a login; true when the client can use it.
    bool collect();
    void keepAlive();
    unsigned readServerKept(char* buf, unsigned size, bool& found);
    void sendServerKept(const std::string& text);
    void forgetAmbiguousUids();
    static void keepListedSize(CMessage& message, long listed);
    void readAccountState();
    // Writes the server's reply lines into path, whole or not at all.
    bool spoolMessage(CMessage& message, const std::string& path, bool whole, long position);
    void spoolAndJudge(size_t index, bool& removed);
    void addPendingMessages();
    void createTimeoutNotice(int processed, int waiting);
    void createCollectionReport(const std::string& reportPath);
    static CollectionSeam installedCollectionSeam();
    void dispatch(const char* line);
    void keepAliveUpstream();
    void closeConnections();
    bool requireLogin();
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

    // RETR and TOP: the three ways a message reaches the client.
    void sendText(CMessage& message, long n);
    void sendFile(CMessage& message, long n);
    // RETR n (or TOP n m_topLines when top) relayed from the server as is.
    void relayFromServer(long n, bool top);
    void sendTopOfText(CMessage& message, long n, long lines);
    void sendTopOfFile(CMessage& message, long n, long lines);

    std::string m_clientLogCopy;
    std::string m_serverLogCopy;
    long m_topLines = 0;   // the line count of the TOP being relayed
    std::string m_line;    // the command line being handled
    bool m_collected = false;
};
