// Finding the program's exported rule functions by name.
//
// findExported looks a symbol up among the running program's exported
// symbols (and its libraries'), once per name; later lookups come from a
// process-wide cache.  Null when nothing of that name is exported.
// ArgumentSlot is one 8-byte slot of the block a rule function receives.
#pragma once

#include "scriptkit/Program.h"

#include <string>

void* findExported(const std::string& name);

// The 8-byte argument slot of the calling convention.
union ArgumentSlot {
    const char* text;
    int32_t number;
    uint64_t raw;
};
static_assert(sizeof(ArgumentSlot) == 8);
