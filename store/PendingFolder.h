// The pending folder: messages of the proxy's own user, put there to be
// served with the next collection ("*.msg", one text each).  They are
// added to the end of a mailbox as local messages; a file goes only once
// the client has had it (see AccountState::write).
//
// Sessions run side by side: each claims the files it serves for as long
// as its PendingClaim lives, and a session beside it leaves them out, so
// that no pending message reaches two clients.
#pragma once

#include "store/CMessage.h"

#include <string>
#include <vector>

class PendingClaim
{
public:
    PendingClaim() = default;
    ~PendingClaim();
    PendingClaim(const PendingClaim&) = delete;
    PendingClaim& operator=(const PendingClaim&) = delete;

    // True when path is now this claim's (or was already); false when
    // another claim holds it.
    bool claim(const std::string& path);

private:
    std::vector<std::string> m_paths;
};

void addPendingMessages(const std::string& folder, Mailbox& mailbox, PendingClaim& claim);
