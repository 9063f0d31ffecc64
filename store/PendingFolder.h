// The pending folder: messages of the proxy's own user, put there to be
// served with the next collection ("*.msg", one text each).  They are
// added to the end of a mailbox as local messages; a file goes only once
// the client has had it (see AccountState::write).
#pragma once

#include "store/CMessage.h"

#include <string>

void addPendingMessages(const std::string& folder, Mailbox& mailbox);
