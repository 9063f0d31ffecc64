// libscriptkit.so: compiles and runs rule scripts.
//
// A script is an opaque handle.  ParseScript compiles a NUL-terminated text
// (the include file followed by a rule's body); RunScript runs it from its
// start, synchronously, on the calling thread; ResetScript readies it for the
// next run.  The language is described in docs/rule-language.md.
//
// Rule functions are not registered: a script declares each one with a
// "#declare" directive, and the engine finds it by its upper-case name among
// the running program's exported symbols.  Arguments reach it as one pointer
// to a block of 8-byte slots (a text slot starts with the address of a
// NUL-terminated text, a number slot with a 32-bit signed integer).  Truth and
// number results are 32-bit signed (truth: -1 true, 0 false).  A text result
// takes a pointer to a 32-bit length first and the slot block second, and
// returns a new text or null; the engine releases it with the program's
// exported FreeString, once.
//
// Different scripts may be parsed and run on different threads at the same
// time; one script is used by one thread at a time.  No text makes a parse or
// a run crash, hang or grow without bound: runs have a step budget, gosub
// nesting and text sizes are bounded, and every fault ends the call with an
// error that GetError reports.
#pragma once

#include <cstdint>

#define SCRIPTKIT_API extern "C" __attribute__((visibility("default")))

typedef struct ScriptkitScript* HSCRIPT;

// The number of steps a run may take unless SetScriptStepBudget says otherwise.
constexpr int64_t kDefaultStepBudget = 10'000'000;

// Both return true; the engine keeps no state that needs them, but the
// program calls them at start and exit.
SCRIPTKIT_API bool StartScriptEngine();
SCRIPTKIT_API bool StopScriptEngine();

// A new empty script; null only when memory runs out.
SCRIPTKIT_API HSCRIPT CreateScript();
// True when text compiled.  On false, GetError tells why and where.  Texts
// over 16 MB are refused.
SCRIPTKIT_API bool ParseScript(HSCRIPT script, const char* text);
// Readies a compiled script to run again from its start: variables empty.
SCRIPTKIT_API bool ResetScript(HSCRIPT script);
// Runs the script to its end.  False when it failed (GetError tells why).
SCRIPTKIT_API bool RunScript(HSCRIPT script);
// True when the last parse or run failed.  message points into the handle
// and stays valid until the next call on it; line counts from 1, start and
// end are byte offsets of the faulty span from the start of the full text
// (end exclusive).  Any out-pointer may be null.
SCRIPTKIT_API bool GetError(HSCRIPT script, const char** message, int* line, int* start, int* end);
// Releases the script.  A null handle is ignored.
SCRIPTKIT_API void CloseScript(HSCRIPT script);

// The step budget of later runs of this script (at least 1).
SCRIPTKIT_API void SetScriptStepBudget(HSCRIPT script, int64_t steps);
