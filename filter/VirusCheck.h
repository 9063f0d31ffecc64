// scanForViruses: has the message of context scanned (the whole message
// fetched first) and, when it is infected, its infected parts replaced in
// the spool.  True when it was infected.  No scanner engine is built in
// yet: the answer is "not infected", and nothing is fetched.
#pragma once

#include "filter/FilterContext.h"

bool scanForViruses(FilterContext& context);
