// scanForViruses: has the message of context scanned (the whole message
// fetched first) and, when an attachment was infected, unscannable or
// failed, the rewritten message (notices in place of those attachments) put
// in place of the spool.  True when something was replaced.  Attachments
// that could not be scanned at all get a line on context.headerNotes
// ("X-Quillfence-Pro: attachments not scanned: <reason>").
#pragma once

#include "filter/FilterContext.h"

bool scanForViruses(FilterContext& context);
