// Mailbox collection: list the server's messages, skip those judged in an
// earlier session, spool and judge the new ones, add the pending folder; and
// at QUIT the account state file that carries the judgements over.
#include "proxy/CSession.h"

#include "proxy/ReplyText.h"

#include "common/AtomicFile.h"
#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/CVDateTime.h"
#include "common/CVDir.h"
#include "common/InternetDate.h"
#include "common/ProgramContext.h"
#include "filter/Evaluation.h"

#include <strings.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

namespace {

// Spool ids come from the state file: nothing but hex digits is accepted,
// so a damaged file cannot name a path outside the state folder.
bool plainSpoolId(const std::string& id)
{
    if (id.empty() || id.size() > 7)
        return false;
    for (char c : id)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

std::string spoolIdOf(int number)
{
    char id[16];
    std::snprintf(id, sizeof id, "%05x", static_cast<unsigned>(number));
    return id;
}

} // namespace

void CSession::keepAlive()
{
    const long now = CVDateTime::currentTime();
    if (now - keepAliveTime < static_cast<long>(kKeepAliveMs / 1000))
        return;
    keepAliveTime = now;
    client.send(".", 1);
    CEventLog().LogEvent(128, ">c . (keep alive)");
}

unsigned CSession::readServerKept(char* buf, unsigned size, bool& found)
{
    const unsigned n = readServer(buf, size, found);
    keepAlive();
    return n;
}

void CSession::sendServerKept(const std::string& text)
{
    sendServer(text);
    keepAlive();
}

bool CSession::collect()
{
    if (CollectionSeam seam = installedCollectionSeam())
        return m_collected = seam(*this);
    try {
        const long start = CVDateTime::currentTime();
        keepAliveTime = start;
        status("Counting Msgs");
        char line[kServerLine];
        bool found = false;
        sendServerKept("LIST\r\n");
        readServerKept(line, sizeof line, found);
        if (!beginsWith(line, "+OK"))
            return false;
        for (int position = 1;; ++position) {
            readServerKept(line, sizeof line, found);
            if (line[0] == '.')
                break;
            long number = 0, size = 0;
            if (std::sscanf(line, "%ld %ld", &number, &size) != 2 || size < 0)
                return false;
            status("Msg %d, %d KB", static_cast<int>(number), static_cast<int>(size / 1024 + 1));
            auto message = std::make_unique<CMessage>();
            message->serverNumber = position;
            message->size = size;
            mailbox.push_back(std::move(message));
        }

        sendServerKept("UIDL\r\n");
        readServerKept(line, sizeof line, found);
        if (!beginsWith(line, "+OK")) {
            uidlSupported = false;
        } else {
            for (size_t i = 0; i < mailbox.size(); ++i) {
                status("Getting Msg Id %d", static_cast<int>(i + 1));
                readServerKept(line, sizeof line, found);
                if (std::strcmp(line, ".") == 0)
                    return false;   // fewer ids than messages
                if (const char* blank = std::strchr(line, ' '))
                    mailbox[i]->uid = std::string(blank + 1).substr(0, CMessage::kMaxUid);
            }
            readServerKept(line, sizeof line, found);
            if (std::strcmp(line, ".") != 0)
                return false;
            forgetAmbiguousUids();
            readAccountState();
        }

        for (size_t i = 0; i < mailbox.size();) {
            bool removed = false;
            if (!mailbox[i]->text)
                spoolAndJudge(i, removed);
            if (maxCollectionTime > 0 && CVDateTime::currentTime() - start > maxCollectionTime) {
                const int position = static_cast<int>(i + 1);
                const int waiting = static_cast<int>(mailbox.size());
                CEventLog().LogEvent(4, "Timeout during message collection, only processed %d messages of %d waiting",
                                     removed ? position - 1 : position, waiting);
                mailbox.resize(removed ? i : i + 1);
                createTimeoutNotice(position + 1, waiting);
                break;
            }
            if (!removed)
                ++i;
        }
        addPendingMessages();
        filter->closeReport();
        if (collectionReport && filter->reportWritten)
            createCollectionReport(filter->reportPath);
        m_collected = true;
        return true;
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        return false;
    }
}

void CSession::keepListedSize(CMessage& message, long listed)
{
    // A header-only spool is not the message: the client is told the size
    // the server listed, as RETR relays the whole message.
    if (message.headerOnly)
        message.size = listed;
}

void CSession::forgetAmbiguousUids()
{
    // Two entries with one uid (or uids equal once cut) could be served
    // each other's text from the state file: neither counts as known.
    std::map<std::string, int> seen;
    for (const auto& message : mailbox)
        if (!message->uid.empty())
            ++seen[message->uid];
    for (auto& message : mailbox)
        if (!message->uid.empty() && seen[message->uid] > 1)
            message->uid.clear();
}

void CSession::readAccountState()
{
    std::ifstream state(stateFolder() + "/" + accountFile, std::ios::binary);
    if (!state)
        return;
    std::string text;
    while (std::getline(state, text)) {
        text.resize(std::min<size_t>(text.size(), 254));
        text.resize(std::min(text.size(), text.find_first_of("\r\n")));
        char uid[256] = "", id[256] = "";
        int headerOnly = 0;
        if (std::sscanf(text.c_str(), "%255s %255s %d", uid, id, &headerOnly) < 2 || !plainSpoolId(id))
            continue;
        CMessage* known = nullptr;
        for (auto& message : mailbox)
            if (message->uid == uid && !message->text)
                known = message.get();
        if (known) {
            const long listed = known->size;
            if (known->load(id, stateFolder())) {
                known->headerOnly = headerOnly != 0;
                keepListedSize(*known, listed);
            }
        } else {
            deleteFileRetry(stateFolder() + "/msg" + id + ".msg");
        }
    }
}

bool CSession::spoolMessage(CMessage& message, const std::string& path, bool whole, long position)
{
    AtomicFile spool(path);
    if (!spool.isOpen())
        return false;
    const char* statusFormat = whole ? "Reading Msg %d, %d KB" : "Reading Hdr %d, %d KB";
    CEventLog().LogEvent(4, whole ? "Spooling message to file %s" : "Spooling message header to file %s",
                         path.c_str());
    // Lines as received, dot-stuffing kept, up to the "." line that
    // follows a complete line.
    constexpr unsigned kLine = 253;
    char line[kLine + 2];
    bool found = false, previousComplete = true;
    long bytes = 0;
    int shownKB = 0;
    for (;;) {
        unsigned length = server.getline(line, kLine, found, "\r\n");
        serverActivityTick = CVDateTime::tickCount();
        if (static_cast<int>(bytes / 1024 + 1) != shownKB) {
            shownKB = static_cast<int>(bytes / 1024 + 1);
            status(statusFormat, static_cast<int>(position), shownKB);
        }
        keepAlive();
        CEventLog().LogEvent(64, "<s %s", line);
        const bool dotLine = previousComplete && found && length == 1 && line[0] == '.';
        if (found) {
            line[length++] = '\r';
            line[length++] = '\n';
        }
        spool.write(line, length);
        bytes += length;
        if (dotLine)
            break;
        previousComplete = found;
    }
    if (!spool.commit()) {
        CEventLog().LogEvent(1, "Unable to write %s", path.c_str());
        return false;
    }
    message.headerOnly = !whole;
    return true;
}

void CSession::spoolAndJudge(size_t index, bool& removed)
{
    CMessage& message = *mailbox[index];
    const int number = GetNextId();
    const std::string id = spoolIdOf(number);
    const std::string path = stateFolder() + "/msg" + id + ".msg";

    char reply[kServerLine];
    bool found = false;
    auto request = [&] {
        char command[64];
        std::snprintf(command, sizeof command, useTop ? "TOP %d 0\r\n" : "RETR %d\r\n", message.serverNumber);
        sendServerKept(command);
        readServerKept(reply, 253, found);
    };
    request();
    if (beginsWith(reply, "-ERR") && useTop) {
        CEventLog().LogEvent(2, "TOP command not available, downloading whole of message");
        useTop = false;
        request();
    }
    if (beginsWith(reply, "-ERR")) {
        mailbox.erase(mailbox.begin() + static_cast<long>(index));
        removed = true;
        return;
    }
    if (!spoolMessage(message, path, !useTop, static_cast<long>(index + 1))) {
        // Not spooled: the message stays on the server and is relayed, and
        // is fetched and judged again next time.
        message.headerOnly = false;
        return;
    }

    currentIndex = static_cast<int>(index);
    currentSpoolPath = path;
    MessageDescriptor descriptor;
    descriptor.path = currentSpoolPath.c_str();
    descriptor.id = static_cast<uint32_t>(GetNextId());
    if (evaluate(descriptor, static_cast<int>(message.size))) {
        // The text is whatever the filter left in the spool file.
        const long listed = message.size;
        message.load(id, stateFolder());
        keepListedSize(message, listed);
        return;
    }
    deleteFileRetry(path);
    char command[64];
    std::snprintf(command, sizeof command, "DELE %d\r\n", message.serverNumber);
    sendServerKept(command);
    readServerKept(reply, sizeof reply, found);
    mailbox.erase(mailbox.begin() + static_cast<long>(index));
    removed = true;
}

void CSession::addPendingMessages()
{
    const std::string folder = programContext().dataRoot + "/pending";
    for (CVDir it(folder.c_str(), "*.msg"); !it.atEnd(); it.moveNext()) {
        if (it.isDir())
            continue;
        auto message = std::make_unique<CMessage>();
        if (!message->readText(folder + "/" + it.fileName()))
            continue;
        message->local = true;
        message->pending = true;
        message->uid = CMessage::generatedUid();
        mailbox.push_back(std::move(message));
        CEventLog().LogEvent(4, "Pending queue message index %zu is %s", mailbox.size(), it.fileName());
    }
}

void CSession::writeAccountState(bool committed)
{
    // Only a complete collection may replace the records of earlier
    // sessions: after a refused login or a failed collection the mailbox
    // would be empty or partial.
    if (!m_collected)
        return;
    const std::string path = stateFolder() + "/" + accountFile;
    std::unique_ptr<AtomicFile> file;
    for (int attempt = 0; attempt < 10; ++attempt) {
        file = std::make_unique<AtomicFile>(path);
        if (file->isOpen())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!file->isOpen()) {
        CEventLog().LogEvent(1, "Unable to create state file %s", path.c_str());
        return;
    }
    std::vector<std::string> obsolete;
    for (const auto& message : mailbox) {
        if (message->local || (committed && message->deleted)) {
            const std::string spool = message->pending ? message->path : message->filePath(stateFolder());
            if (!spool.empty())
                obsolete.push_back(spool);
            continue;
        }
        file->write(message->uid + " " + message->spoolId + " " + (message->headerOnly ? "1" : "0") + "\n");
    }
    if (!file->commit()) {
        CEventLog().LogEvent(1, "Unable to create state file %s", path.c_str());
        return;
    }
    // Files go once the state that no longer names them is safely written.
    for (const std::string& spool : obsolete)
        deleteFileRetry(spool);
}

void CSession::fetchWholeMessage()
{
    if (currentIndex < 0 || static_cast<size_t>(currentIndex) >= mailbox.size())
        return;
    CMessage& message = *mailbox[static_cast<size_t>(currentIndex)];
    if (!message.headerOnly)
        return;
    char command[64];
    std::snprintf(command, sizeof command, "RETR %d\r\n", message.serverNumber);
    sendServerKept(command);
    char reply[4093];
    bool found = false;
    readServerKept(reply, sizeof reply, found);
    if (beginsWith(reply, "-ERR"))
        return;
    if (spoolMessage(message, currentSpoolPath, true, currentIndex + 1))
        message.headerOnly = false;
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
    const std::string id = spoolIdOf(GetNextId());
    const std::string path = stateFolder() + "/msg" + id + ".msg";
    char date[64];
    char header[512];
    std::snprintf(header, sizeof header,
                  "Message-Id: <%08x@mail.quillfence.invalid>\r\nDate: %s\r\nTo: \"Local User\"\r\n"
                  "From: \"Quillfence\"\r\nReply-To: null\r\nSubject: %s\r\n\r\n",
                  static_cast<unsigned>(GetNextId()), GetInternetTimeString(date, sizeof date),
                  subject.c_str());
    AtomicFile file(path, 0600);
    if (!file.write(std::string(header) + body + ".\r\n") || !file.commit()) {
        CEventLog().LogEvent(1, "Unable to create %s", path.c_str());
        return false;
    }
    CEventLog().LogEvent(4, "Writing spam report to virtual message %s", path.c_str());
    auto message = std::make_unique<CMessage>();
    message->local = true;
    message->uid = CMessage::generatedUid();
    message->spoolId = id;
    message->path = path;
    mailbox.push_back(std::move(message));
    return true;
}

void CSession::createCollectionReport(const std::string& reportPath)
{
    std::ifstream report(reportPath, std::ios::binary);
    if (!report)
        return;
    // The entries unchanged, their lines ended with CR LF.
    std::string body;
    for (std::string line; std::getline(report, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        body += line + "\r\n";
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
