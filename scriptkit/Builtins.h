// The built-in functions of the script language: text and number helpers.
//
// Each takes its arguments from the machine's stacks (the last argument on
// top) and pushes its result.  Positions count from 1, as in the language.
// A built-in fails only where the language says so (mod by zero), and then
// returns the error message; otherwise null.
#pragma once

#include "scriptkit/Program.h"

#include <string>
#include <string_view>
#include <vector>

struct Stacks {
    std::vector<int32_t> integers;
    std::vector<std::string> texts;
};

struct Builtin {
    const char* name;          // lower case
    const char* parameters;    // one ValueType character per argument
    ValueType result;
    const char* (*call)(Stacks& stacks);
};

// The index of the built-in of that name (any letter case) taking that many
// arguments, -1 when there is none; nameExists tells whether the name exists
// with any number of arguments.
int findBuiltin(std::string_view name, size_t arguments, bool& nameExists);
const Builtin& builtin(int index);

// Texts a script builds or receives are at most this long: 16 MB is far more
// than any header value, and bounds what a runaway loop can allocate.
constexpr size_t kMaxTextLength = 16 * 1024 * 1024;
