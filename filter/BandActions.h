// What a rating band does with a judged message once the rules have run.
//
// writeReportEntry adds the message's entry to the session report when the
// band's CollectionEmail setting is on.  rewriteSubject and archiveMessage
// do nothing yet: the subject rewrite with the decision headers and the
// archive copy come with the band actions' own work.
#pragma once

#include "filter/FilterContext.h"
#include "filter/MessageDescriptor.h"

// band: 0 to 4.
void writeReportEntry(FilterContext& context, float total, int band);
void rewriteSubject(FilterContext& context, const MessageDescriptor& message, int band);
void archiveMessage(FilterContext& context, const MessageDescriptor& message, int band);
