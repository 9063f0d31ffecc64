// evaluate: the filter engine's judgement of one spooled message.
//
// Runs the rules in their order over the message, adds up the spam rating
// of the rules that call ISSPAM (capped at 10.0; an ISOK rule wipes it and
// stops), picks the rating band, and carries out the band's actions (report
// entry, subject rewrite, archive copy).  True when the band lets the
// message through, false when it is to be held back (the session then
// deletes it on the server).  Any failure inside lets the message through.
// Runs on the session's thread with the session's context.
#pragma once

#include "filter/FilterContext.h"
#include "filter/MessageDescriptor.h"
#include "scriptkit/ScriptKit.h"

// The rating of one spam rule adds rating x 0.1 points, in double
// precision, to a total of at most kMaxTotal.
constexpr double kPointsPerTenth = 0.1;
constexpr double kMaxTotal = 10.0;

bool evaluate(FilterContext& context, const MessageDescriptor& message, int size);

// The rule test: one script over message with a fresh context; nothing is
// decided or written.
void runSingleScript(FilterContext& context, const MessageDescriptor& message, HSCRIPT script, int rating);

// What judges the messages of a session: the rules (the program's), or a
// test's own judgement.
class MessageJudge
{
public:
    virtual ~MessageJudge() = default;
    virtual bool judge(FilterContext& context, const MessageDescriptor& message, int size) = 0;
};

// The rule engine's judge: evaluate().
MessageJudge& ruleJudge();
