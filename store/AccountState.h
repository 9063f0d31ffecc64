// AccountState: an account's state file in the state folder, which carries
// the judgements of one session over to the next.  One line per message
// kept on the server:
//
//   <uid> <spool field> <header-only: 0 or 1> LF
//
// read() gives the messages of a new mailbox the texts earlier sessions
// spooled for them; write() records what is kept, once the spools it names
// are on disk, and only then removes the files no record names any more.
// Lines that are not such a record are ignored.
#pragma once

#include "store/CMessage.h"

#include <set>
#include <string>
#include <vector>

class AccountState
{
public:
    explicit AccountState(std::string stateFolder) : m_folder(std::move(stateFolder)) {}

    // Each message of mailbox without a text whose state key a record of
    // accountFile names gets that record's spool; the spools of records for
    // messages gone from the server are noted for the next write.
    void read(const std::string& accountFile, Mailbox& mailbox);
    // A spool was renamed into place unflushed: the next write flushes the
    // file system before the state that names it.
    void spoolWritten() { m_unsynced = true; }
    // Records the messages of mailbox that are kept (committed: the deleted
    // ones are gone) and removes the files of the rest.  False, the old
    // state standing, when the new one could not be written.  recorded,
    // when given, receives the state keys recorded.
    bool write(const std::string& accountFile, const Mailbox& mailbox, bool committed,
               std::set<std::string>* recorded);

private:
    std::string m_folder;
    std::vector<std::string> m_goneSpools;
    bool m_unsynced = false;
};
