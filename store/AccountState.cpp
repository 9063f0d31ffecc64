#include "store/AccountState.h"

#include "common/AtomicFile.h"
#include "common/CEventLog.h"
#include "common/FileRetry.h"
#include "store/SpoolField.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

void AccountState::read(const std::string& accountFile, Mailbox& mailbox)
{
    std::ifstream state(m_folder + "/" + accountFile, std::ios::binary);
    if (!state)
        return;
    std::map<std::string, CMessage*> byKey;
    for (auto& message : mailbox)
        if (!message->stateKey.empty())
            byKey[message->stateKey] = message.get();
    std::string text;
    while (std::getline(state, text)) {
        text.resize(std::min(text.size(), text.find_first_of("\r\n")));
        // "uid spoolField headerOnly": anything else is not a record of ours.
        std::istringstream fields(text);
        std::string uid, id;
        int headerOnly = 0;
        SpoolField field;
        if (!(fields >> uid >> id) || !CMessage::isValidUid(uid) || !SpoolField::parse(id, field))
            continue;
        // Header-only unless the record says otherwise (RETR is then relayed
        // from the server, never a header served as the message); a pack
        // holds headers alone.
        if (!(fields >> headerOnly) || field.inPack())
            headerOnly = 1;
        auto known = byKey.find(uid);
        if (known != byKey.end() && !known->second->hasText()) {
            CMessage& message = *known->second;
            const long listed = message.size;
            if (message.load(id, m_folder)) {
                message.headerOnly = headerOnly != 0;
                message.keepListedSize(listed);
            }
        } else if (known == byKey.end()) {
            m_goneSpools.push_back(m_folder + "/" + field.fileName());
        }
    }
}

bool AccountState::write(const std::string& accountFile, const Mailbox& mailbox, bool committed,
                         std::set<std::string>* recorded)
{
    const std::string path = m_folder + "/" + accountFile;
    std::unique_ptr<AtomicFile> file;
    for (int attempt = 0; attempt < 10; ++attempt) {
        file = std::make_unique<AtomicFile>(path);
        if (file->isOpen())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!file->isOpen()) {
        CEventLog().LogEvent(1, "Unable to create state file %s", path.c_str());
        return false;
    }
    std::set<std::string> obsolete;
    std::set<std::string> named;     // the spool files the new state names
    std::set<std::string> written;   // the keys it records
    for (const auto& message : mailbox) {
        // A message without a key cannot be found again, nor one without a
        // spool: its spool (if any) goes, and the next session judges it.
        if (message->pending) {
            // A file of the pending folder goes only once the client has
            // it: retrieved whole or deleted, and the QUIT confirmed.
            if (committed && (message->retrieved || message->deleted))
                obsolete.insert(message->path);
            continue;
        }
        if (message->local || (committed && message->deleted) || message->stateKey.empty() ||
            message->spoolId.empty()) {
            const std::string spool = message->filePath(m_folder);
            if (!spool.empty())
                obsolete.insert(spool);
            continue;
        }
        file->write(message->stateKey + " " + message->spoolId + " " + (message->headerOnly ? "1" : "0") + "\n");
        named.insert(message->filePath(m_folder));
        written.insert(message->stateKey);
    }
    // The spools and the header pack of this session were written
    // unflushed: one flush of the file system puts them (and the new
    // state's text) on disk before the state that names them replaces the
    // old one.
    if (m_unsynced) {
        if (!syncFileSystem(m_folder)) {
            CEventLog().LogEvent(1, "Unable to flush %s to disk", m_folder.c_str());
            return false;
        }
        m_unsynced = false;
    }
    if (!file->commit()) {
        CEventLog().LogEvent(1, "Unable to create state file %s", path.c_str());
        return false;
    }
    // Files go once the state that no longer names them is safely written;
    // a header pack stays while a record names any of its texts.
    obsolete.insert(m_goneSpools.begin(), m_goneSpools.end());
    m_goneSpools.clear();
    for (const std::string& spool : obsolete)
        if (named.count(spool) == 0)
            deleteFileRetry(spool);
    if (recorded)
        *recorded = std::move(written);
    return true;
}
