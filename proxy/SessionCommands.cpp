// The client's transaction commands: STAT, LIST, RETR, UIDL, DELE, TOP, RSET,
// CAPA, QUIT.
#include "proxy/CSession.h"

#include "proxy/Collection.h"
#include "store/MessageText.h"
#include "store/TopCut.h"
#include "upstream/ReplyText.h"
#include "filter/Archive.h"

#include "common/CEventLog.h"
#include "common/CVDateTime.h"

#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <set>
#include <cstring>
#include <memory>
#include <string>

namespace {

// The C library's decimal conversion: leading digits count, anything else
// is 0.  Clamped to the int range.
long number(const std::vector<std::string>& args, size_t index, long missing)
{
    if (index >= args.size())
        return missing;
    errno = 0;
    const long value = std::strtol(args[index].c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return value;
}

} // namespace

CMessage* CSession::numberedEntry(const std::vector<std::string>& args, long& n)
{
    n = number(args, 0, 0);
    CMessage* message = entry(n);
    if (n <= 0)
        sendClient("-ERR Invalid message number\r\n");
    else if (message == nullptr)
        sendClient("-ERR No such message\r\n");
    return n <= 0 ? nullptr : message;
}

CMessage* CSession::liveEntry(const std::vector<std::string>& args, long& n)
{
    if (!requireLogin())
        return nullptr;
    n = number(args, 0, 0);
    CMessage* message = entry(n);
    if (args.empty() || message == nullptr) {
        sendClient("-ERR Invalid message number\r\n");
        return nullptr;
    }
    if (message->deleted) {
        sendClient("-ERR Message doesn't exist\r\n");
        return nullptr;
    }
    return message;
}

void CSession::cmdStat(const std::vector<std::string>&)
{
    if (!requireLogin())
        return;
    status("Client Stat");
    // Each size is at most Collection::kMaxMessageSize and the mailbox at most
    // Collection::kMaxMailbox entries: the sum cannot wrap.
    long long total = 0;
    const std::string folder = stateFolder();
    for (const auto& message : mailbox)
        total += message->deleted ? 0 : message->sizeQuery(folder);
    sendClient(formatText("+OK %zu %lld\r\n", mailbox.size(), total));
}

void CSession::cmdList(const std::vector<std::string>& args)
{
    if (!requireLogin())
        return;
    status("Client List");
    if (!args.empty()) {
        long n = 0;
        CMessage* message = numberedEntry(args, n);
        if (message && message->deleted)
            sendClient("-ERR Message doesn't exist\r\n");
        else if (message)
            sendClient(formatText("+OK %ld %ld\r\n", n, message->sizeQuery(stateFolder())));
        return;
    }
    cmdStat(args);
    const std::string folder = stateFolder();
    for (size_t i = 0; i < mailbox.size(); ++i) {
        const CMessage& message = *mailbox[i];
        sendClient(formatText("%zu %ld\r\n", i + 1, message.deleted ? 0 : message.sizeQuery(folder)));
    }
    sendClient(".\r\n");
}

void CSession::cmdRetr(const std::vector<std::string>& args)
{
    long n = 0;
    CMessage* message = liveEntry(args, n);
    if (message == nullptr)
        return;
    if (measuredText(*message) && !message->headerOnly)
        serveText(*message, n, -1);
    else
        relayFromServer(n, false);
}

bool CSession::measuredText(CMessage& message)
{
    if (!message.hasText() && message.local)
        message.readText(message.filePath(stateFolder()));
    return message.hasText();
}

void CSession::serveText(CMessage& message, long n, long lines)
{
    MessageText text(message);
    if (!text.isOpen()) {
        sendClient("-ERR Internal error.\r\n");
        return;
    }
    const bool whole = lines < 0;
    sendClient(whole ? formatText("+OK %ld octets\r\n", message.sizeQuery(stateFolder()))
                     : std::string("+OK top of message follows.\r\n"));
    m_replyBegun = true;
    CEventLog().LogEvent(kDebugLevel, whole ? "Spooling message %s to client" : "Spooling top of message %s to client",
                         message.filePath(stateFolder()).c_str());
    const long total = text.size();
    if (whole)
        status("Sending Msg %d, %d KB", static_cast<int>(n), static_cast<int>(total / 1024 + 1));
    TopCut cut(lines, total);
    char block[16384];
    while (!cut.done()) {
        const long got = text.read(block, sizeof block);
        if (got < 0)
            throw SpoolReadFailed{message.path};
        if (got == 0)
            break;
        const long taken = cut.take(block, got);
        if (!whole)
            status("Sending Top %d, %d KB", static_cast<int>(n),
                   static_cast<int>((cut.inHeader() ? total : cut.bodyBytes()) / 1024 + 1));
        if (taken > 0)
            sendClientRaw(block, static_cast<size_t>(taken));
    }
    if (cut.needsTerminator())
        sendClientRaw(".\r\n", 3);
    if (cut.tookAll())
        message.retrieved = true;
}

void CSession::relayFromServer(long n, bool top)
{
    CMessage& message = *entry(n);
    if (message.local) {
        // A local message whose file cannot be read: none is the server's.
        sendClient("-ERR Internal error.\r\n");
        return;
    }
    const char* statusFormat = top ? "Sending Top %d, %d KB" : "Sending Msg %d, %d KB";
    // The client's line count was checked by cmdTop and is passed on as is.
    const std::string reply = upstream.command(top ? formatText("TOP %d %ld\r\n", message.serverNumber, m_topLines)
                                                   : formatText("RETR %d\r\n", message.serverNumber));
    sendClient(reply + "\r\n");
    if (top ? !beginsWith(reply, "+OK") : beginsWith(reply, "-ERR"))
        return;
    m_replyBegun = true;
    CEventLog().LogEvent(kDebugLevel,
                         top ? "Relaying top of message from server to client" : "Relaying message from server to client");
    // The message lines are relayed unlogged, in batches: a batch is sent
    // when it is full or when no whole line is left to read without waiting
    // for the server, so the client never waits for lines the proxy holds.
    std::string batch;
    batch.reserve(kRelayBatch + UpstreamClient::kPiece + 3);
    long relayed = 0;
    upstream.readMessage([&](const char* piece, unsigned length, bool, bool end) {
        relayed += length;
        batch.append(piece, length);
        if (end || batch.size() >= kRelayBatch || !upstream.connection().hasBufferedLine()) {
            status(statusFormat, static_cast<int>(n), static_cast<int>(relayed / 1024 + 1));
            sendClientRaw(batch.data(), batch.size());
            batch.clear();
        }
    });
}

void CSession::cmdUidl(const std::vector<std::string>& args)
{
    if (!requireLogin())
        return;
    if (!uidlSupported) {
        sendClient("-ERR Unknown command\r\n");
        return;
    }
    status("Client UIDL");
    if (!args.empty()) {
        long n = 0;
        if (CMessage* message = numberedEntry(args, n))
            sendClient(formatText("+OK %ld %s\r\n", n, message->uid.c_str()));
        return;
    }
    sendClient("+OK Unique id list follows\r\n");
    for (size_t i = 0; i < mailbox.size(); ++i)
        sendClient(formatText("%zu %s\r\n", i + 1, mailbox[i]->uid.c_str()));
    sendClient(".\r\n");
}

void CSession::cmdDele(const std::vector<std::string>& args)
{
    long n = 0;
    CMessage* message = liveEntry(args, n);
    if (message == nullptr)
        return;
    // A deleted message's size stays: STAT and LIST count it as 0 while it
    // is marked, and RSET lists it again as it was.
    if (message->local) {
        message->deleted = true;
        sendClient("+OK Message deleted\r\n");
        return;
    }
    status("Client DELE %d", static_cast<int>(n));
    const std::string reply = upstream.command(formatText("DELE %d\r\n", message->serverNumber));
    if (beginsWith(reply, "+OK"))
        message->deleted = true;
    sendClient(reply + "\r\n");
}

void CSession::cmdRset(const std::vector<std::string>&)
{
    if (!requireLogin())
        return;
    status("Client RSET");
    // The server unmarks its messages; the local ones follow only when it
    // has, so that the two never disagree about what QUIT deletes.
    const std::string reply = upstream.command("RSET\r\n");
    if (beginsWith(reply, "+OK")) {
        for (const auto& message : mailbox)
            message->deleted = false;
        // The server has unmarked the filter's deletions too; they are the
        // filter's, not the client's to undo.  Their archive copies are
        // merged at QUIT as for any deleted message.
        for (const int number : m_filterDeleted)
            if (!beginsWith(upstream.command(formatText("DELE %d\r\n", number)), "+OK"))
                CEventLog().LogEvent(2, "The server would not delete message %d again after RSET: it is kept",
                                     number);
    }
    sendClient(reply + "\r\n");
}

void CSession::cmdCapa(const std::vector<std::string>&)
{
    // Commands from a pipelining client are read and answered one at a
    // time, in order.  The "[IN-USE]" of a second login to a busy account
    // is a response code.  UIDL is left out once the server is known not
    // to have it.
    std::string reply = "+OK Capability list follows\r\nUSER\r\nTOP\r\n";
    if (!loggedIn || uidlSupported)
        reply += "UIDL\r\n";
    reply += "PIPELINING\r\nRESP-CODES\r\nIMPLEMENTATION Quillfence-Pro\r\n.\r\n";
    sendClient(reply);
}

void CSession::cmdTop(const std::vector<std::string>& args)
{
    if (!requireLogin())
        return;
    const long n = number(args, 0, 0);
    const long lines = number(args, 1, -1);
    CMessage* message = entry(n);
    if (message == nullptr) {
        sendClient("-ERR Invalid message number\r\n");
        return;
    }
    if (lines < 0) {
        sendClient("-ERR Invalid line count\r\n");
        return;
    }
    if (message->deleted) {
        sendClient("-ERR Message doesn't exist\r\n");
        return;
    }
    // A header-only spool answers only for the header: a client that asks
    // for body lines gets the server's text, never less than it asked for.
    if (measuredText(*message) && (!message->headerOnly || lines == 0)) {
        serveText(*message, n, lines);
    } else {
        m_topLines = lines;
        relayFromServer(n, true);
    }
}

void CSession::cmdQuit(const std::vector<std::string>&)
{
    status("Client Finished");
    if (!upstream.isConnected()) {
        sendClient("+OK Session closed.\r\n");
        return;
    }
    // The server deletes at QUIT: the archive copies of what it deletes
    // must be on disk first.  Without them the server is left without its
    // QUIT and deletes nothing; the messages are collected again next time.
    // The staging files stay for the account's next session, which drops
    // the copies of what it judges again and merges those of messages
    // recorded now.
    if (!flushStagedArchives(*filter)) {
        m_quitConfirmed = false;
        m_stateWritten = writeAccountState(false);
        sendClient("-ERR Unable to save the archive copies, nothing deleted\r\n");
        return;
    }
    m_quitSent = true;
    const std::string reply = upstream.command("QUIT\r\n");
    m_quitConfirmed = beginsWith(reply, "+OK");
    std::set<std::string> recorded;
    m_stateWritten = writeAccountState(m_quitConfirmed, &recorded);
    // A message kept on the server that the new state does not record is
    // judged and archived again next time: its copy does not go in now.
    // A QUIT without "+OK" may still have deleted some messages ("-ERR
    // some deleted messages not removed"): its files wait for the next
    // session, which tells which are gone.
    if (m_quitConfirmed)
        mergeStagedArchives(*filter,
                            [this, &recorded](const std::string& key) { return judgedAgain(mailbox, key, &recorded); });
    sendClient(reply + "\r\n");
}
