// The client's transaction commands: STAT, LIST, RETR, UIDL, DELE, TOP, QUIT.
#include "proxy/CSession.h"

#include "store/MessageText.h"
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

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

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
    // Each size is at most kMaxMessageSize and the mailbox at most
    // kMaxMailbox entries: the sum cannot wrap.
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
    if (message->hasText() && !message->headerOnly)
        sendText(*message, n);
    else if (message->local && !message->hasText())
        sendFile(*message, n);
    else
        relayFromServer(n, false);
}

void CSession::sendText(CMessage& message, long n)
{
    MessageText text(message);
    if (!text.isOpen()) {
        sendClient("-ERR Internal error.\r\n");
        return;
    }
    sendClient(formatText("+OK %ld octets\r\n", message.sizeQuery(stateFolder())));
    m_replyBegun = true;
    CEventLog().LogEvent(4, "Spooling message %s to client", message.filePath(stateFolder()).c_str());
    status("Sending Msg %d, %d KB", static_cast<int>(n), static_cast<int>(text.size() / 1024 + 1));
    char block[16384];
    for (long got; (got = text.read(block, sizeof block)) != 0;) {
        if (got < 0)
            throw SpoolReadFailed{message.path};
        sendClientRaw(block, static_cast<size_t>(got));
    }
    message.retrieved = true;
}

void CSession::sendFile(CMessage& message, long n)
{
    sendClient(formatText("+OK %ld octets\r\n", message.sizeQuery(stateFolder())));
    const std::string path = message.filePath(stateFolder());
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        sendClient("-ERR Internal error.\r\n");
        return;
    }
    CEventLog().LogEvent(4, "Spooling virtual message %s to client", path.c_str());
    char block[1024];
    long sent = 0;
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
        status("Sending Msg %d, %d KB", static_cast<int>(n), static_cast<int>(sent / 1024 + 1));
        sendClientRaw(block, got);
        sent += static_cast<long>(got);
    }
}

void CSession::relayFromServer(long n, bool top)
{
    CMessage& message = *entry(n);
    const char* statusFormat = top ? "Sending Top %d, %d KB" : "Sending Msg %d, %d KB";
    // The client's line count was checked by cmdTop and is passed on as is.
    const std::string reply = upstream.command(top ? formatText("TOP %d %ld\r\n", message.serverNumber, m_topLines)
                                                   : formatText("RETR %d\r\n", message.serverNumber));
    sendClient(reply + "\r\n");
    if (top ? !beginsWith(reply, "+OK") : beginsWith(reply, "-ERR"))
        return;
    m_replyBegun = true;
    CEventLog().LogEvent(4, top ? "Relaying top of message from server to client"
                                : "Relaying message from server to client");
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
    if (message->local) {
        message->size = 0;
        message->deleted = true;
        sendClient("+OK Message deleted\r\n");
        return;
    }
    status("Client DELE %d", static_cast<int>(n));
    const std::string reply = upstream.command(formatText("DELE %d\r\n", message->serverNumber));
    if (beginsWith(reply, "+OK")) {
        message->size = 0;
        message->deleted = true;
    }
    sendClient(reply + "\r\n");
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
    if (message->hasText() && (!message->headerOnly || lines == 0)) {
        sendTopOfText(*message, n, lines);
    } else if (message->local && !message->hasText()) {
        sendTopOfFile(*message, n, lines);
    } else {
        m_topLines = lines;
        relayFromServer(n, true);
    }
}

void CSession::sendTopOfText(CMessage& message, long n, long lines)
{
    MessageText text(message);
    if (!text.isOpen()) {
        sendClient("-ERR Internal error.\r\n");
        return;
    }
    sendClient("+OK top of message follows.\r\n");
    m_replyBegun = true;
    CEventLog().LogEvent(4, "Spooling top of message %s to client",
                         message.filePath(stateFolder()).c_str());
    // The header up to its blank line, then at most lines lines of the body.
    // The text's own terminating line is not a body line: the reply gets
    // exactly one "." line, however many lines were asked for.
    const long total = text.size();
    const long bodyEnd = total - 3;
    static const char kBlank[] = "\r\n\r\n";
    int blankMatched = 0;
    long headerEnd = -1;   // just past the blank line
    long bodyLines = 0;
    long bodyBytes = 0;
    long offset = 0;
    long sent = 0;
    char previous = '\0';
    bool done = false;
    char block[16384];
    while (!done) {
        const long got = text.read(block, sizeof block);
        if (got < 0)
            throw SpoolReadFailed{message.path};
        if (got == 0)
            break;
        long sendUpTo = got;   // bytes of this block that belong to the reply
        for (long i = 0; i < got; ++i) {
            const long at = offset + i;
            const char c = block[i];
            const bool lineEnd = previous == '\r' && c == '\n';
            previous = c;
            if (headerEnd < 0) {
                blankMatched = (c == kBlank[blankMatched]) ? blankMatched + 1 : (c == '\r' ? 1 : 0);
                if (blankMatched == 4) {
                    headerEnd = at + 1;
                    if (lines == 0 || headerEnd >= bodyEnd) {
                        sendUpTo = i + 1;
                        done = true;
                        break;
                    }
                }
                continue;
            }
            if (at >= bodyEnd) {
                sendUpTo = i;
                done = true;
                break;
            }
            ++bodyBytes;
            if (lineEnd && ++bodyLines == lines) {
                sendUpTo = i + 1;
                done = true;
                break;
            }
        }
        if (headerEnd >= 0)
            status("Sending Top %d, %d KB", static_cast<int>(n), static_cast<int>(bodyBytes / 1024 + 1));
        else
            status("Sending Top %d, %d KB", static_cast<int>(n), static_cast<int>(total / 1024 + 1));
        sendClientRaw(block, static_cast<size_t>(sendUpTo));
        sent += sendUpTo;
        offset += got;
    }
    // Without a blank line the whole text has gone, its own "." included.
    if (headerEnd >= 0)
        sendClientRaw(".\r\n", 3);
    // As many lines as the body has or more (TOP n 99999999): retrieved.
    if (sent >= bodyEnd)
        message.retrieved = true;
}

void CSession::sendTopOfFile(CMessage& message, long n, long lines)
{
    const std::string path = message.filePath(stateFolder());
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        sendClient("-ERR Internal error.\r\n");
        return;
    }
    sendClient("+OK top of message follows.\r\n");
    CEventLog().LogEvent(4, "Spooling top of virtual message %s to client", path.c_str());
    char line[1023];   // lines of at most 1022 characters
    long sent = 0;
    bool previousComplete = true;
    bool dotSent = false;
    auto sendLine = [&](size_t length) {
        status("Sending Top %d, %d KB", static_cast<int>(n), static_cast<int>(sent / 1024 + 1));
        sendClientRaw(line, length);
        sent += static_cast<long>(length);
    };
    auto isComplete = [&](size_t length) {
        return length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n';
    };
    // The header, up to and including its blank line.
    while (std::fgets(line, sizeof line, file.get())) {
        const size_t length = std::strlen(line);
        sendLine(length);
        if (previousComplete && std::strcmp(line, "\r\n") == 0)
            break;
        if (previousComplete && std::strcmp(line, ".\r\n") == 0) {
            dotSent = true;
            break;
        }
        previousComplete = isComplete(length);
    }
    // Then at most lines body lines.
    for (long count = 0; !dotSent && count < lines && std::fgets(line, sizeof line, file.get());) {
        const size_t length = std::strlen(line);
        sendLine(length);
        if (isComplete(length))
            ++count;
        if (std::strcmp(line, ".\r\n") == 0)
            dotSent = true;
    }
    if (!dotSent)
        sendClientRaw(".\r\n", 3);
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
        mergeStagedArchives(*filter, [this, &recorded](const std::string& key) { return judgedAgain(key, &recorded); });
    sendClient(reply + "\r\n");
}
