// Messages of the proxy's own (the collection report, notices), added to
// the end of a mailbox as local messages.  body is stuffed already, its
// lines ended in CR LF; the header says it comes from the proxy.
#pragma once

#include "store/CMessage.h"

#include <string>

// The text is written to a fresh spool file in stateFolder and served from
// there; when that file cannot be written (logged) the message is served
// from memory, so that what it tells still reaches the user, and the
// result is false.
bool addVirtualMessage(Mailbox& mailbox, const std::string& stateFolder, const std::string& subject,
                       const std::string& body);
