// Mailbox collection: list the server's messages, skip those judged in an
// earlier session, spool and judge the new ones, add the pending folder; and
// at QUIT the account state file that carries the judgements over.
#include "proxy/CSession.h"

#include "upstream/ReplyText.h"

#include "common/AtomicFile.h"
#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/CVDateTime.h"
#include "common/CVDir.h"
#include "common/EventLogBlock.h"
#include "common/EventLogGather.h"
#include "common/FileRetry.h"
#include "common/InternetDate.h"
#include "common/ProgramContext.h"
#include "common/UniqueFd.h"
#include "filter/Archive.h"
#include "filter/Evaluation.h"
#include "filter/SessionNotices.h"
#include "store/CollectionSpools.h"
#include "store/SpoolField.h"
#include "store/PendingFolder.h"
#include "store/SpoolReserve.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <fcntl.h>

void CSession::keepAlive()
{
    const long now = CVDateTime::currentTime();
    if (now - keepAliveTime < static_cast<long>(kKeepAliveMs / 1000))
        return;
    keepAliveTime = now;
    client.send(".", 1);
    CEventLog().LogEvent(128, ">c . (keep alive)");
}

bool CSession::collect()
{
    if (m_collection)
        return m_collected = m_collection(*this);
    // Every exchange with the server while the mailbox is collected may be
    // the moment the client has waited long enough for a keep-alive.
    struct KeepingAlive {
        UpstreamConnection& server;
        ~KeepingAlive() { server.setActivityHook({}); }
    } keeping{upstream.connection()};
    upstream.connection().setActivityHook([this] { keepAlive(); });
    try {
        const long start = CVDateTime::currentTime();
        keepAliveTime = start;
        status("Counting Msgs");
        {
            // The lines of the listings go to the log together, as do
            // those of each message below: a write for many lines.
            const EventLogGather gather;
            if (!collectListing() || !collectIds())
                return false;
        }
        // What this account's earlier sessions left staged: merged, but for
        // the copies of messages judged again now.
        filter->archiveAccount = accountFile;
        mergeLeftoverArchives(accountFile, [this](const std::string& key) { return judgedAgain(key, nullptr); });

        const size_t unspooled = static_cast<size_t>(std::count_if(
            mailbox.begin(), mailbox.end(), [](const auto& message) { return !message->hasText(); }));
        CollectionSpools spools(stateFolder(), unspooled);
        for (size_t i = 0; i < mailbox.size();) {
            bool removed = false;
            if (!mailbox[i]->hasText()) {
                const EventLogGather gather;
                spoolAndJudge(i, removed, spools);
            }
            if (maxCollectionTime > 0 && CVDateTime::currentTime() - start > maxCollectionTime) {
                const int position = static_cast<int>(i + 1);
                const int waiting = static_cast<int>(mailbox.size());
                CEventLog().LogEvent(4, "Timeout during message collection, only processed %d messages of %d waiting",
                                     removed ? position - 1 : position, waiting);
                // The messages not reached wait on the server for the next
                // collection; those judged in earlier sessions stay in the
                // mailbox, and so in the account state.
                const size_t cut = removed ? i : i + 1;
                mailbox.erase(std::remove_if(mailbox.begin() + static_cast<long>(cut), mailbox.end(),
                                             [](const auto& message) { return !message->hasText(); }),
                              mailbox.end());
                createTimeoutNotice(position + 1, waiting);
                break;
            }
            if (!removed)
                ++i;
        }
        if (m_ownUser)
            addPendingMessages(programContext().dataRoot + "/pending", mailbox);
        writeSessionNotices(*filter, m_ownUser);
        filter->closeReport();
        if ((collectionReport && filter->reportWritten) || !filter->notices.empty())
            createCollectionReport(collectionReport && filter->reportWritten ? filter->reportPath : "");
        m_collected = true;
        return true;
    } catch (const UpstreamLost& lost) {
        CEventLog().LogEvent(1, "Connection to the mail server %s lost, error %ld", upstream.host().c_str(),
                             lost.error);
        dropUpstream();
        return false;
    } catch (int) {
        throw;   // the client's connection failed (a keep-alive dot): the session ends
    } catch (long) {
        throw;   // the client went, or the program is stopping
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        return false;
    }
}

bool CSession::collectListing()
{
    std::vector<long> sizes;
    const auto listed = upstream.list(kMaxMessageSize, kMaxMailbox, sizes, [this](int position, long size) {
        status("Msg %d, %d KB", position, static_cast<int>(size / 1024 + 1));
    });
    if (listed != UpstreamClient::Listing::Done)
        return false;
    for (size_t i = 0; i < sizes.size(); ++i) {
        auto message = std::make_unique<CMessage>();
        message->serverNumber = static_cast<int>(i + 1);
        message->size = sizes[i];
        mailbox.push_back(std::move(message));
    }
    return true;
}

bool CSession::collectIds()
{
    std::vector<std::string> ids;
    switch (upstream.uidl(mailbox.size(), ids, [this](int position) { status("Getting Msg Id %d", position); })) {
    case UpstreamClient::Listing::Refused:
        uidlSupported = false;
        return true;
    case UpstreamClient::Listing::Malformed:
        return false;
    case UpstreamClient::Listing::Done:
        break;
    }
    assignUids(ids);
    m_accountState.read(accountFile, mailbox);
    return true;
}

void CSession::assignUids(const std::vector<std::string>& ids)
{
    // Only a valid id that names one message alone may key the state file;
    // others would be read back as other records, or serve one message's
    // spool for another.  The client is shown a stable stand-in for them.
    std::map<std::string, int> count;
    for (const std::string& id : ids)
        ++count[id];
    std::map<std::string, int> seen;
    for (size_t i = 0; i < ids.size(); ++i) {
        CMessage& message = *mailbox[i];
        const std::string& id = ids[i];
        const int occurrence = ++seen[id];
        if (CMessage::isValidUid(id) && count[id] == 1) {
            message.uid = id;
            message.stateKey = id;
        } else {
            message.uid = CMessage::substituteUid(id, occurrence);
        }
    }
}

std::string CSession::reserveSpoolFile()
{
    UniqueFd fd;
    const std::string id = SpoolReserve::create(stateFolder(), fd);
    if (id.empty())
        CEventLog().LogEvent(1, "Unable to create a spool file in %s", stateFolder().c_str());
    return id;
}

bool CSession::readMessageLines(int spool, bool& written, bool whole, long position)
{
    const char* statusFormat = whole ? "Reading Msg %d, %d KB" : "Reading Hdr %d, %d KB";
    // Lines as received, dot-stuffing kept, to the spool and to the
    // traffic log gathered, a write for many lines.
    EventLogBlock traffic(64);
    std::string pending;
    auto writePending = [&] {
        if (spool >= 0 && !pending.empty() && !writeFully(spool, pending.data(), pending.size()))
            written = false;
        pending.clear();
    };
    bool previousComplete = true;
    bool inHeader = true;
    long headerBytes = 0;
    long bytes = 0;
    int shownKB = 0;
    upstream.readMessage([&](const char* piece, unsigned length, bool complete, bool dotLine) {
        if (static_cast<int>(bytes / 1024 + 1) != shownKB) {
            shownKB = static_cast<int>(bytes / 1024 + 1);
            status(statusFormat, static_cast<int>(position), shownKB);
        }
        bytes += length;
        if (inHeader && previousComplete && complete && length == 2)
            inHeader = false;   // the blank line
        if (inHeader && !dotLine && (headerBytes += length) > kMaxHeaderBytes) {
            spool = -1;         // read on, keep nothing
            pending.clear();
        }
        if (spool >= 0) {
            traffic.add("<s %.*s", static_cast<int>(complete ? length - 2 : length), piece);
            pending.append(piece, length);
            if (pending.size() >= kSpoolBuffer)
                writePending();
        }
        if (dotLine)
            writePending();
        previousComplete = complete;
    });
    return headerBytes <= kMaxHeaderBytes;
}

CSession::Spooled CSession::spoolMessage(CMessage& message, const std::string& request,
                                         const std::string& path, int reserved, bool whole, long position)
{
    // The file first: a request is only sent when its reply has somewhere
    // to go.  A spool in use is replaced whole or not at all; a reserved
    // one is written in place, as nothing names it yet.
    std::unique_ptr<AtomicFile> replacement;
    if (reserved < 0) {
        replacement = std::make_unique<AtomicFile>(path);
        if (!replacement->isOpen())
            return Spooled::Unwritable;
    }
    const std::string reply = upstream.command(request);
    if (beginsWith(reply, "-ERR"))
        return Spooled::Refused;
    CEventLog().LogEvent(4, whole ? "Spooling message to file %s" : "Spooling message header to file %s",
                         path.c_str());
    bool written = true;
    if (!readMessageLines(replacement ? replacement->fd() : reserved, written, whole, position)) {
        CEventLog().LogEvent(2, "Message %d has a header of more than %ld bytes: passed on unjudged",
                             message.serverNumber, kMaxHeaderBytes);
        return Spooled::HeaderTooLarge;
    }
    // Made durable with the others of the collection before the account
    // state names it (writeAccountState).
    if (!written || (replacement && !replacement->commit(AtomicFile::Durability::Deferred))) {
        CEventLog().LogEvent(1, "Unable to write %s", path.c_str());
        return Spooled::Unwritable;
    }
    m_accountState.spoolWritten();
    message.headerOnly = !whole;
    return Spooled::Done;
}

void CSession::spoolAndJudge(size_t index, bool& removed, CollectionSpools& spools)
{
    CMessage& message = *mailbox[index];
    std::string path;
    UniqueFd scratch;
    if (!spools.scratch(path, scratch))
        return;   // stays on the server, relayed to the client unjudged
    const long position = static_cast<long>(index + 1);

    auto request = [&] {
        return formatText(useTop ? "TOP %d 0\r\n" : "RETR %d\r\n", message.serverNumber);
    };
    // The reply is written straight into the scratch spool, which nothing
    // names: what a refused request or a reply cut short left there is
    // overwritten by the next message.
    Spooled result = spoolMessage(message, request(), path, scratch.get(), !useTop, position);
    if (result == Spooled::Refused && useTop) {
        CEventLog().LogEvent(2, "TOP command not available, downloading whole of message");
        useTop = false;
        result = spoolMessage(message, request(), path, scratch.get(), true, position);
    }
    if (result == Spooled::Done && !CollectionSpools::finish(scratch.get())) {
        CEventLog().LogEvent(1, "Unable to write %s", path.c_str());
        result = Spooled::Unwritable;
    }
    scratch.reset();
    if (result != Spooled::Done) {
        if (result == Spooled::Refused) {
            mailbox.erase(mailbox.begin() + static_cast<long>(index));
            removed = true;
        } else {
            // Not spooled: the message stays on the server and is relayed,
            // and is fetched and judged again next time.
            message.headerOnly = false;
        }
        return;
    }

    currentIndex = static_cast<int>(index);
    currentSpoolPath = path;
    MessageDescriptor descriptor;
    descriptor.path = currentSpoolPath.c_str();
    descriptor.id = static_cast<uint32_t>(GetNextId());
    message.archiveKey = archiveKeyOf(message);
    filter->archiveKey = message.archiveKey;
    bool letThrough = true;
    try {
        letThrough = m_judge.judge(*filter, descriptor, static_cast<int>(message.size));
    } catch (...) {
        DebugX(__FILE__, __LINE__);   // let through
    }
    // Let through for want of an archive copy: not recorded, so that the
    // next session judges it again and, with room, archives and deletes it.
    if (letThrough && filter->keptUnarchived)
        message.stateKey.clear();
    if (!letThrough) {
        if (beginsWith(upstream.command(formatText("DELE %d\r\n", message.serverNumber)), "+OK")) {
            mailbox.erase(mailbox.begin() + static_cast<long>(index));
            removed = true;
            return;
        }
        // Kept by the server: relayed unrecorded, judged again next time
        // (its copy staged now is dropped at QUIT).
        CEventLog().LogEvent(2, "The server would not delete message %d: it is kept", message.serverNumber);
        message.stateKey.clear();
        message.headerOnly = false;
        return;
    }
    // The text is whatever the filter left in the scratch spool.
    const std::string field = spools.keep(message.headerOnly);
    const long listed = message.size;
    if (field.empty() || !message.load(field, stateFolder())) {
        // Relayed unjudged, judged again next time; a file of its own goes.
        SpoolField kept;
        if (SpoolField::parse(field, kept) && !kept.inPack())
            deleteFileRetry(stateFolder() + "/" + kept.fileName());
        message.headerOnly = false;
        return;
    }
    message.keepListedSize(listed);
}

bool CSession::writeAccountState(bool committed, std::set<std::string>* recorded)
{
    // Only a complete collection may replace the records of earlier
    // sessions: after a refused login or a failed collection the mailbox
    // would be empty or partial.
    if (!m_collected)
        return true;
    return m_accountState.write(accountFile, mailbox, committed, recorded);
}

std::string CSession::archiveKeyOf(const CMessage& message)
{
    if (!message.stateKey.empty())
        return message.stateKey;
    return message.uid.empty() || message.uid.size() >= CMessage::kMaxUid ? "-" : "-" + message.uid;
}

bool CSession::judgedAgain(const std::string& key, const std::set<std::string>* recorded) const
{
    for (const auto& message : mailbox) {
        if (message->local || message->serverNumber <= 0)
            continue;
        if (recorded == nullptr) {
            if (archiveKeyOf(*message) == key)
                return !message->hasText();
        } else if (message->archiveKey == key) {
            return !message->deleted && recorded->count(message->stateKey) == 0;
        }
    }
    return false;   // gone from the server: its copy is the one left
}

void CSession::fetchWholeMessage()
{
    if (currentIndex < 0 || static_cast<size_t>(currentIndex) >= mailbox.size())
        return;
    CMessage& message = *mailbox[static_cast<size_t>(currentIndex)];
    if (!message.headerOnly || message.wholeRefused)
        return;
    // A failure leaves the header-only spool as it was, and is not tried
    // again for this message: every rule that reads the body would ask.
    if (spoolMessage(message, formatText("RETR %d\r\n", message.serverNumber), currentSpoolPath, -1, true,
                     currentIndex + 1) != Spooled::Done)
        message.wholeRefused = true;
}

bool CSession::isCurrentHeaderOnly() const
{
    return currentIndex >= 0 && static_cast<size_t>(currentIndex) < mailbox.size() &&
           mailbox[static_cast<size_t>(currentIndex)]->headerOnly;
}

long CSession::currentMessageSize() const
{
    if (currentIndex < 0 || static_cast<size_t>(currentIndex) >= mailbox.size())
        return 0;
    return mailbox[static_cast<size_t>(currentIndex)]->sizeQuery(stateFolder());
}

bool CSession::createVirtualMessage(const std::string& subject, const std::string& body)
{
    char date[64];
    const std::string text = formatText("Message-Id: <%08x@mail.quillfence.invalid>\r\n",
                                        static_cast<unsigned>(GetNextId())) +
                             "Date: " + GetInternetTimeString(date, sizeof date) +
                             "\r\nTo: \"Local User\"\r\nFrom: \"Quillfence\"\r\nReply-To: null\r\n"
                             "Subject: " + subject + "\r\n\r\n" + body + ".\r\n";
    auto message = std::make_unique<CMessage>();
    message->local = true;
    message->uid = CMessage::generatedUid();
    const std::string id = reserveSpoolFile();
    const std::string path = id.empty() ? std::string() : stateFolder() + "/" + SpoolField::spoolFileName(id);
    if (!id.empty()) {
        AtomicFile file(path, 0600);
        // Served from the file as any spooled text is.
        if (file.write(text) && file.commit() && message->readText(path)) {
            CEventLog().LogEvent(4, "Writing spam report to virtual message %s", path.c_str());
            message->spoolId = id;
            mailbox.push_back(std::move(message));
            return true;
        }
        CEventLog().LogEvent(1, "Unable to create %s", path.c_str());
        deleteFileRetry(path);
    }
    // No room on disk: the message is served from memory, so that what it
    // tells the user still reaches them.
    message->textLength = 0;
    message->textTail = text;
    message->size = static_cast<long>(text.size());
    mailbox.push_back(std::move(message));
    return false;
}

void CSession::createCollectionReport(const std::string& reportPath)
{
    // The notices first, then the entries unchanged; lines ended with CR
    // LF (and stuffed: a line of the report never ends the message early).
    std::string body;
    auto add = [&body](std::istream& lines) {
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            body += (line.rfind(".", 0) == 0 ? "." : "") + line + "\r\n";
        }
    };
    for (const std::string& notice : filter->notices) {
        std::istringstream lines(notice + "\n");
        add(lines);
    }
    if (!reportPath.empty()) {
        std::ifstream report(reportPath, std::ios::binary);
        add(report);
    }
    createVirtualMessage("Quillfence Pro Collection Report", body);
}

void CSession::createTimeoutNotice(int processed, int waiting)
{
    char body[512];
    std::snprintf(body, sizeof body,
                  "The collection timeout was reached before all pending messages where collected.\r\n"
                  "Quillfence Pro processed %d of %d. The remaining messages can be collected by\r\n"
                  "initiating another collecting in your email client.\r\n",
                  processed, waiting);
    createVirtualMessage("Quillfence Pro collection timeout notification", body);
}
