// What a rating band does with a judged message once the rules have run
// (the archive copy is in Archive.h).
//
// writeReportEntry adds the message's entry to the session report when the
// band's CollectionEmail setting is on.  rewriteSubject, when the band's
// Subject setting is on, replaces the spooled message's subject with the
// band's template and puts the decision block (X-Quillfence-Pro lines) at
// the end of its header, rewriting the spool in place (it is the session's
// scratch spool, which nothing names yet).  The context's headerNotes
// (attachments not scanned) go at the end of the header whatever the
// Subject setting: with it off, they are the only change.
#pragma once

#include "filter/FilterContext.h"
#include "filter/MessageDescriptor.h"

// band: 0 to 4.
void writeReportEntry(FilterContext& context, float total, int band);
// A notice for the collection report: the message (From, Subject, rating)
// that its band would have deleted was kept on the server, since no whole
// archive copy of it could be saved.
void noteKeptOnServer(FilterContext& context, double total, int band);
// False when a rewrite failed part way: the spool is no copy of the
// message any more.
bool rewriteSubject(FilterContext& context, const MessageDescriptor& message, int band);
