#include "proxy/CSession.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/CVDateTime.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "common/StopToken.h"
#include "proxy/Housekeeping.h"
#include "proxy/MainWindowLink.h"
#include "proxy/SessionList.h"
#include "filter/Archive.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

using Handler = void (CSession::*)(const std::vector<std::string>&);

struct Command {
    const char* name;
    Handler handler;
};

// "quit" is handled before this table, in every state.
const Command kCommands[] = {
    {"user", &CSession::cmdUser}, {"pass", &CSession::cmdPass}, {"stat", &CSession::cmdStat},
    {"list", &CSession::cmdList}, {"retr", &CSession::cmdRetr}, {"uidl", &CSession::cmdUidl},
    {"dele", &CSession::cmdDele}, {"top", &CSession::cmdTop},   {"noop", &CSession::cmdNoop},
    {"rset", &CSession::cmdRset}, {"capa", &CSession::cmdCapa},
};

bool isDelimiter(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::vector<std::string> tokens(const char* line)
{
    std::vector<std::string> out;
    const char* p = line;
    for (;;) {
        while (*p && isDelimiter(*p))
            ++p;
        if (!*p)
            return out;
        const char* start = p;
        while (*p && !isDelimiter(*p))
            ++p;
        out.emplace_back(start, p);
    }
}

} // namespace

CSession::CSession(SocketHandle handle, SessionSetup setup)
    : client(handle, true, kTimeoutMs, kTimeoutMs), m_judge(setup.judge ? *setup.judge : ruleJudge()),
      m_collection(std::move(setup.collection)), m_ownUser(setup.ownUser), m_accountState(stateFolder()),
      m_rules(std::move(setup.rules))
{
    // Short replies go out at once: "+OK" and its later line end must not
    // wait for the peer's delayed acknowledgement.
    int on = 1;
    client.setopt(IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&on), sizeof on);
    try {
        start();
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}

CSession::~CSession()
{
    try {
        mailbox.clear();
        if (popupStatus)
            if (MainWindowLink* link = mainWindowLink())
                link->sessionEnded();
        m_clientLogCopy.clear();
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
    filter.reset();
    // The sockets close (gracefully) as members, after this.
}

std::string CSession::stateFolder() const
{
    return programStateFolder();
}

void CSession::readSettings()
{
    CRegistry reg;
    if (!openSettingKey(reg, settingInfo(Setting::SeparatorChar)))
        return;
    int separatorValue = 0;
    if (querySetting(reg, Setting::SeparatorChar, separatorValue))
        separator = static_cast<char>(separatorValue);
    querySetting(reg, Setting::CollectionReport, collectionReport);
    querySetting(reg, Setting::TidyLogs, tidyLogs);
    querySetting(reg, Setting::TidyLogDays, tidyLogDays);
    querySetting(reg, Setting::PopupStatus, popupStatus);
    querySetting(reg, Setting::MaxCollectionTime, maxCollectionTime);
    querySetting(reg, Setting::TlsCAFile, m_tls.caFile);
    querySetting(reg, Setting::TlsVerify, m_tls.verify);
    querySetting(reg, Setting::UpstreamDeadline, m_upstreamDeadline);
    querySetting(reg, Setting::AccountWait, m_accountWait);
}

unsigned CSession::run()
{
    SessionList::setThreadId(this, currentThread());
    // Made here, so that its report file is named by this thread; the rule
    // functions find it by the thread too.
    filter = std::make_unique<FilterContext>(nullptr, std::move(m_rules));
    const ContextRegistration registration(*filter);
    tidyBeforeSession(programContext().dataRoot);
    readSettings();
    if (popupStatus)
        if (MainWindowLink* link = mainWindowLink())
            link->sessionStarted();
    finished = false;
    status("Client connected");
    try {
        sendClient("+OK Quillfence\r\n");
        while (!finished) {
            std::string line;
            if (readClient(line))
                dispatch(line);
            else
                sendClient("-ERR Line too long\r\n");
            keepAliveUpstream();
        }
        if (tidyLogs)
            tidyOldLogs(programContext().dataRoot, tidyLogDays);
        closeConnections();
    } catch (int error) {
        CEventLog().LogEvent(1, "Socket error %d occured, session terminating", error);
        if (tidyLogs)
            tidyOldLogs(programContext().dataRoot, tidyLogDays);
        closeConnections();
    } catch (long code) {
        // The client went away or fell silent: the ordinary end of many a
        // session, not a fault.
        if (code == Socket::kInterrupted)
            CEventLog().LogEvent(4, "Session stopped");
        else if (code == Socket::kTimedOut)
            CEventLog().LogEvent(2, "Client silent for %d seconds, session ending", kTimeoutMs / 1000);
        else
            CEventLog().LogEvent(4, "Client closed the connection");
        closeConnections();
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        closeConnections();
    }
    // A session that sent no QUIT and recorded nothing deleted nothing:
    // every message it staged a copy of is judged again, so its staging
    // files go.  Any other session's files are merged by now, or wait for
    // the account's next session (a QUIT sent but not confirmed, a merge
    // that failed).
    if (!m_quitSent && !m_stateWritten)
        discardStagedArchives(*filter);
    m_accountLock.release();
    return 0;
}

void CSession::closeConnections()
{
    try {
        client.SetTimeout(kCloseDrainMs, kCloseDrainMs);
        client.reset(1, 0);
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
    try {
        upstream.connection().close(kCloseDrainMs);
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}

void CSession::upstreamLost(long error)
{
    CEventLog().LogEvent(1, "Connection to the mail server %s lost, error %ld", upstream.host().c_str(), error);
    upstream.drop();
    if (m_replyBegun) {
        // A reply cut short must never pass for a whole one: the client
        // sees the connection end and counts the command as failed.
        finished = true;
        return;
    }
    sendClient("-ERR Connection to the mail server lost\r\n");
}

void CSession::keepAliveUpstream()
{
    try {
        upstream.keepAliveIfIdle();
    } catch (const UpstreamLost& lost) {
        // No command is waiting for a reply: the next one that needs the
        // server is told.
        CEventLog().LogEvent(1, "Connection to the mail server %s lost, error %ld", upstream.host().c_str(),
                             lost.error);
        upstream.drop();
    }
}

void CSession::dispatch(const std::string& line)
{
    const std::vector<std::string> words = tokens(line.c_str());
    if (words.empty())
        return;   // an empty line gets no reply
    const std::vector<std::string> args(words.begin() + 1, words.end());
    m_line = line;
    m_replyBegun = false;
    const char* verb = words[0].c_str();
    try {
        if (::strcasecmp(verb, "quit") == 0) {
            finished = true;   // however the upstream QUIT goes
            cmdQuit(args);
            return;
        }
        if (analysisFailed) {
            sendClient("-ERR Mailbox anaylsis failed\r\n");
            return;
        }
        for (const Command& command : kCommands) {
            if (::strcasecmp(verb, command.name) == 0) {
                (this->*command.handler)(args);
                return;
            }
        }
        sendClient("-ERR Unrecongised command\r\n");
    } catch (const UpstreamLost& lost) {
        upstreamLost(lost.error);
    } catch (const SpoolReadFailed& failed) {
        CEventLog().LogEvent(1, "Unable to read %s", failed.path.c_str());
        finished = true;   // the reply has begun: only closing can tell it
    } catch (int) {
        throw;   // the client's connection failed: the session ends
    } catch (long) {
        throw;
    } catch (...) {
        // The command stops where it failed; the dialogue goes on, unless
        // part of its reply has gone out already.
        DebugX(__FILE__, __LINE__);
        if (m_replyBegun)
            finished = true;
    }
}

bool CSession::requireLogin()
{
    if (loggedIn)
        return true;
    sendClient("-ERR Permission denied\r\n");
    return false;
}

CMessage* CSession::entry(long n)
{
    if (n < 1 || n > static_cast<long>(mailbox.size()))
        return nullptr;
    return mailbox[static_cast<size_t>(n - 1)].get();
}

void CSession::cmdNoop(const std::vector<std::string>&)
{
    sendClient("+OK\r\n");
}
