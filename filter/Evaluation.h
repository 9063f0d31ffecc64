// evaluate: the filter engine's judgement of one spooled message.
//
// True when the message is to be let through, false when it is to be held
// back (the session then deletes it on the server).  Any failure inside lets
// the message through.  The rule engine is not built yet: every message is
// let through, except that tests may install a judgement of their own.
#pragma once

#include "filter/MessageDescriptor.h"

#include <functional>

bool evaluate(const MessageDescriptor& message, int size);

// Test seam until the rules exist; null removes it.
using EvaluationSeam = std::function<bool(const MessageDescriptor&, int)>;
void setEvaluationSeam(EvaluationSeam seam);
