#include "proxy/Collection.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/CVDateTime.h"
#include "common/EventLogBlock.h"
#include "common/EventLogGather.h"
#include "common/FileHead.h"
#include "common/FileRetry.h"
#include "common/ProgramContext.h"
#include "common/UniqueFd.h"
#include "filter/Archive.h"
#include "filter/SessionNotices.h"
#include "store/CollectionSpools.h"
#include "store/PendingFolder.h"
#include "store/SpoolField.h"
#include "store/VirtualMessage.h"
#include "upstream/ReplyText.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

Collection::Collection(Place place, Settings settings, std::function<void(const char*)> status)
    : m_place(std::move(place)), m_settings(settings), m_status(std::move(status))
{}

void Collection::show(const char* format, ...)
{
    char text[64];   // at most 63 characters: longer texts are cut
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    m_status(text);
}

bool Collection::run()
{
    // The filter's questions about the message judged come here while the
    // collection runs.
    struct Linked {
        FilterContext& filter;
        ~Linked() { filter.setSession(nullptr); }
    } linked{m_place.filter};
    m_place.filter.setSession(this);
    const long start = CVDateTime::currentTime();
    show("Counting Msgs");
    {
        // The lines of the listings go to the log together, as do
        // those of each message below: a write for many lines.
        const EventLogGather gather;
        if (!collectListing() || !collectIds())
            return false;
    }
    // What this account's earlier sessions left staged: merged, but for
    // the copies of messages judged again now.
    m_place.filter.archiveAccount = m_place.accountFile;
    mergeLeftoverArchives(m_place.accountFile,
                          [this](const std::string& key) { return judgedAgain(m_place.mailbox, key, nullptr); });

    CollectionSpools spools(m_place.stateFolder);
    for (size_t i = 0; i < m_place.mailbox.size();) {
        bool removed = false;
        if (!m_place.mailbox[i]->hasText()) {
            const EventLogGather gather;
            spoolAndJudge(i, removed, spools);
        }
        if (m_settings.maxSeconds > 0 && CVDateTime::currentTime() - start > m_settings.maxSeconds) {
            const int position = static_cast<int>(i + 1);
            const int waiting = static_cast<int>(m_place.mailbox.size());
            CEventLog().LogEvent(4, "Timeout during message collection, only processed %d messages of %d waiting",
                                 removed ? position - 1 : position, waiting);
            // The messages not reached wait on the server for the next
            // collection; those judged in earlier sessions stay in the
            // mailbox, and so in the account state.
            const size_t cut = removed ? i : i + 1;
            m_place.mailbox.erase(std::remove_if(m_place.mailbox.begin() + static_cast<long>(cut), m_place.mailbox.end(),
                                         [](const auto& message) { return !message->hasText(); }),
                          m_place.mailbox.end());
            createTimeoutNotice(position + 1, waiting);
            break;
        }
        if (!removed)
            ++i;
    }
    settleAhead();
    deleteJudgedSpam();
    if (m_settings.ownUser)
        addPendingMessages(programContext().dataRoot + "/pending", m_place.mailbox, m_place.pending);
    writeSessionNotices(m_place.filter, m_settings.ownUser);
    m_place.filter.closeReport();
    if ((m_settings.report && m_place.filter.reportWritten) || !m_place.filter.notices.empty())
        createCollectionReport(m_settings.report && m_place.filter.reportWritten ? m_place.filter.reportPath : "");
    return true;
}

bool Collection::collectListing()
{
    std::vector<long> sizes;
    const auto listed = m_place.server.list(kMaxMessageSize, kMaxMailbox, sizes, [this](int position, long size) {
        show("Msg %d, %d KB", position, static_cast<int>(size / 1024 + 1));
    });
    if (listed != UpstreamClient::Listing::Done)
        return false;
    for (size_t i = 0; i < sizes.size(); ++i) {
        auto message = std::make_unique<CMessage>();
        message->serverNumber = static_cast<int>(i + 1);
        message->size = sizes[i];
        m_place.mailbox.push_back(std::move(message));
    }
    return true;
}

bool Collection::collectIds()
{
    std::vector<std::string> ids;
    switch (m_place.server.uidl(m_place.mailbox.size(), ids, [this](int position) { show("Getting Msg Id %d", position); })) {
    case UpstreamClient::Listing::Refused:
        m_uidlSupported = false;
        return true;
    case UpstreamClient::Listing::Malformed:
        return false;
    case UpstreamClient::Listing::Done:
        break;
    }
    assignUids(ids);
    m_place.state.read(m_place.accountFile, m_place.mailbox);
    return true;
}

void Collection::assignUids(const std::vector<std::string>& ids)
{
    // Only a valid id that names one message alone may key the state file;
    // others would be read back as other records, or serve one message's
    // spool for another.  The client is shown a stable stand-in for them.
    std::map<std::string, int> count;
    for (const std::string& id : ids)
        ++count[id];
    std::map<std::string, int> seen;
    for (size_t i = 0; i < ids.size(); ++i) {
        CMessage& message = *m_place.mailbox[i];
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

bool Collection::readMessageLines(int spool, bool& written, bool whole, long position)
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
    m_place.server.readMessage([&](const char* piece, unsigned length, bool complete, bool dotLine) {
        if (static_cast<int>(bytes / 1024 + 1) != shownKB) {
            shownKB = static_cast<int>(bytes / 1024 + 1);
            show(statusFormat, static_cast<int>(position), shownKB);
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

Collection::Spooled Collection::spoolMessage(CMessage& message, const std::string& request,
                                         const std::string& path, int file, bool whole, long position)
{
    const std::string reply = ask(request);
    if (beginsWith(reply, "-ERR"))
        return Spooled::Refused;
    CEventLog().LogEvent(kDebugLevel, whole ? "Spooling message to file %s" : "Spooling message header to file %s",
                         path.c_str());
    bool written = true;
    if (!readMessageLines(file, written, whole, position)) {
        CEventLog().LogEvent(2, "Message %d has a header of more than %ld bytes: passed on unjudged",
                             message.serverNumber, kMaxHeaderBytes);
        return Spooled::HeaderTooLarge;
    }
    // Made durable with the others of the collection before the account
    // state names it (writeAccountState).
    if (!written || !CollectionSpools::finish(file)) {
        CEventLog().LogEvent(1, "Unable to write %s", path.c_str());
        return Spooled::Unwritable;
    }
    m_place.state.spoolWritten();
    message.headerOnly = !whole;
    return Spooled::Done;
}

void Collection::spoolAndJudge(size_t index, bool& removed, CollectionSpools& spools)
{
    CMessage& message = *m_place.mailbox[index];
    std::string path;
    const int scratch = spools.scratch(path);
    if (scratch < 0)
        return;   // stays on the server, relayed to the client unjudged
    const long position = static_cast<long>(index + 1);
    // The reply is written straight into the scratch spool, which nothing
    // names: what a refused request or a reply cut short left there is
    // overwritten by the next message.
    const bool whole = fetchesWhole(message);
    Spooled result = spoolMessage(message, requestFor(message), path, scratch, whole, position);
    if (result == Spooled::Refused && !whole) {
        CEventLog().LogEvent(2, "TOP command not available, downloading whole of message");
        m_useTop = false;
        result = spoolMessage(message, requestFor(message), path, scratch, true, position);
    }
    if (result != Spooled::Done) {
        if (result == Spooled::Refused) {
            m_place.mailbox.erase(m_place.mailbox.begin() + static_cast<long>(index));
            removed = true;
        } else {
            // Not spooled: the message stays on the server and is relayed,
            // and is fetched and judged again next time.
            message.headerOnly = false;
        }
        return;
    }

    // A whole message needs nothing more from the server while it is
    // judged (a header may: the rules can ask for the body).
    if (!message.headerOnly)
        sendAhead(index);
    m_current = static_cast<int>(index);
    m_currentPath = path;
    m_spools = &spools;
    MessageDescriptor descriptor;
    descriptor.path = m_currentPath.c_str();
    descriptor.id = static_cast<uint32_t>(GetNextId());
    message.archiveKey = archiveKeyOf(message);
    m_place.filter.archiveKey = message.archiveKey;
    bool letThrough = true;
    try {
        letThrough = m_place.judge.judge(m_place.filter, descriptor, static_cast<int>(message.size));
    } catch (...) {
        DebugX(__FILE__, __LINE__);   // let through
    }
    m_spools = nullptr;
    // Judged without its body, the message after is fetched header first.
    if (message.headerOnly && !message.wholeRefused)
        m_bodyAsked = false;
    if (m_place.filter.spoolDamaged) {
        // Relayed from the server unjudged, judged again next time.
        message.stateKey.clear();
        message.headerOnly = false;
        return;
    }
    // Let through for want of an archive copy: not recorded, so that the
    // next session judges it again and, with room, archives and deletes it.
    if (letThrough && m_place.filter.keptUnarchived)
        message.stateKey.clear();
    if (!letThrough) {
        // Nothing serves it from the spool: it is deleted, or relayed.
        m_judgedSpam.push_back(&message);
        return;
    }
    // The text is whatever the filter left in the scratch spool.
    // A pack record was just written whole (CollectionSpools::keep); a
    // file of its own is measured.
    const std::string field = spools.keep();
    const long listed = message.size;
    if (field.empty() || !(message.takePacked(field, m_place.stateFolder) || message.load(field, m_place.stateFolder))) {
        // Relayed unjudged, judged again next time; a file of its own goes.
        SpoolField kept;
        if (SpoolField::parse(field, kept) && !kept.inPack())
            deleteFileRetry(m_place.stateFolder + "/" + kept.fileName());
        message.headerOnly = false;
        return;
    }
    message.keepListedSize(listed);
}

bool Collection::fetchesWhole(const CMessage& message) const
{
    return !m_useTop || (m_bodyAsked && message.size <= m_settings.wholeAhead);
}

std::string Collection::requestFor(const CMessage& message) const
{
    return formatText(fetchesWhole(message) ? "RETR %d\r\n" : "TOP %d 0\r\n", message.serverNumber);
}

std::string Collection::ask(const std::string& request)
{
    if (!m_sentAhead.empty() && m_sentAhead == request) {
        m_sentAhead.clear();
        return m_place.server.readStatus();
    }
    settleAhead();
    return m_place.server.command(request);
}

void Collection::settleAhead()
{
    if (m_sentAhead.empty())
        return;
    m_sentAhead.clear();
    if (beginsWith(m_place.server.readStatus(), "+OK"))
        m_place.server.readMessage([](const char*, unsigned, bool, bool) {});
}

void Collection::sendAhead(size_t index)
{
    for (size_t next = index + 1; next < m_place.mailbox.size(); ++next) {
        const CMessage& message = *m_place.mailbox[next];
        if (message.hasText())
            continue;   // judged in an earlier session
        settleAhead();
        m_sentAhead = requestFor(message);
        m_place.server.send(m_sentAhead);
        return;
    }
}

void Collection::deleteJudgedSpam()
{
    std::set<const CMessage*> deleted;
    for (CMessage* message : m_judgedSpam) {
        if (beginsWith(ask(formatText("DELE %d\r\n", message->serverNumber)), "+OK")) {
            m_deletedOnServer.push_back(message->serverNumber);
            deleted.insert(message);
            continue;
        }
        // Kept by the server: relayed unrecorded, judged again next time
        // (its copy staged now is dropped at QUIT).
        CEventLog().LogEvent(2, "The server would not delete message %d: it is kept", message->serverNumber);
        message->stateKey.clear();
        message->headerOnly = false;
    }
    m_judgedSpam.clear();
    m_place.mailbox.erase(std::remove_if(m_place.mailbox.begin(), m_place.mailbox.end(),
                                         [&deleted](const auto& entry) { return deleted.count(entry.get()) > 0; }),
                          m_place.mailbox.end());
}

std::string archiveKeyOf(const CMessage& message)
{
    if (!message.stateKey.empty())
        return message.stateKey;
    return message.uid.empty() || message.uid.size() >= CMessage::kMaxUid ? "-" : "-" + message.uid;
}

bool judgedAgain(const Mailbox& mailbox, const std::string& key, const std::set<std::string>* recorded)
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

void Collection::fetchWholeMessage()
{
    if (m_current < 0 || static_cast<size_t>(m_current) >= m_place.mailbox.size())
        return;
    CMessage& message = *m_place.mailbox[static_cast<size_t>(m_current)];
    std::string path;
    const int file = message.headerOnly && !message.wholeRefused && m_spools ? m_spools->scratch(path) : -1;
    if (file < 0 || path != m_currentPath)
        return;   // the spool judged is gone: nothing to put the message in
    // The whole message is written over the header in the scratch spool.
    // A failure puts the header back as it was, and is not tried again for
    // this message: every rule that reads the body would ask.
    struct Restore {
        int file;
        FilterContext& filter;
        std::string header;
        bool done = false;
        ~Restore()
        {
            if (done || (pwriteFully(file, header.data(), header.size(), 0) &&
                         ::ftruncate(file, static_cast<off_t>(header.size())) == 0))
                return;
            CEventLog().LogEvent(1, "Unable to restore the spooled header of a message");
            filter.spoolDamaged = true;
        }
    } restore{file, m_place.filter, {}};
    if (!readWholeFile(file, kMaxHeaderBytes + 16, restore.header)) {
        restore.done = true;
        message.wholeRefused = true;
        return;
    }
    if (spoolMessage(message, formatText("RETR %d\r\n", message.serverNumber), path, file, true, m_current + 1) ==
        Spooled::Done) {
        restore.done = true;
        m_bodyAsked = true;
    } else {
        message.wholeRefused = true;
    }
}

bool Collection::isCurrentHeaderOnly() const
{
    return m_current >= 0 && static_cast<size_t>(m_current) < m_place.mailbox.size() &&
           m_place.mailbox[static_cast<size_t>(m_current)]->headerOnly;
}

long Collection::currentMessageSize() const
{
    if (m_current < 0 || static_cast<size_t>(m_current) >= m_place.mailbox.size())
        return 0;
    return m_place.mailbox[static_cast<size_t>(m_current)]->sizeQuery(m_place.stateFolder);
}

void Collection::createCollectionReport(const std::string& reportPath)
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
    for (const std::string& notice : m_place.filter.notices) {
        std::istringstream lines(notice + "\n");
        add(lines);
    }
    if (!reportPath.empty()) {
        std::ifstream report(reportPath, std::ios::binary);
        add(report);
    }
    addVirtualMessage(m_place.mailbox, m_place.stateFolder, "Quillfence Pro Collection Report", body);
}

void Collection::createTimeoutNotice(int processed, int waiting)
{
    char body[512];
    std::snprintf(body, sizeof body,
                  "The collection timeout was reached before all pending messages where collected.\r\n"
                  "Quillfence Pro processed %d of %d. The remaining messages can be collected by\r\n"
                  "initiating another collecting in your email client.\r\n",
                  processed, waiting);
    addVirtualMessage(m_place.mailbox, m_place.stateFolder, "Quillfence Pro collection timeout notification", body);
}
