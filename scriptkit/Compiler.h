// Compiler: turns a script text into a Program for the machine, in one pass
// over its lines.
//
// Types are checked as the text is read: every expression is a number or a
// text.  Labels may be used before they are defined; each is checked at the
// end.  Blocks (if/else/endif, for/next, repeat/until) must close in order.
// Rule functions are bound by name when the first call of each is compiled.
// Nesting of expressions and blocks is bounded, so no text makes the
// compiler recurse without limit.  compile never throws.
#pragma once

#include "scriptkit/Program.h"

#include <string>
#include <string_view>

struct ScriptError {
    std::string message;
    int line = 0;
    int start = 0;
    int end = 0;
};

// True with program filled, or false with error filled.
bool compile(std::string_view text, Program& program, ScriptError& error);
