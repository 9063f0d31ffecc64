// Machine: runs a compiled Program.
//
// Variables live in the machine; reset() empties them (texts "", numbers 0).
// run() executes from the first instruction until the script ends, returns
// from the top level, or faults: division by zero, the step budget spent,
// gosub nested deeper than kMaxGosubDepth, a text longer than
// kMaxTextLength, or a rule function that threw.  A fault gives false and an
// error pointing at the instruction's source.  Number arithmetic wraps at 32
// bits.  Rule functions are called on the calling thread.
#pragma once

#include "scriptkit/Builtins.h"
#include "scriptkit/Compiler.h"
#include "scriptkit/Program.h"

#include <cstdint>
#include <string>
#include <vector>

class Machine
{
public:
    // gosub nests at most this deep: deeper is almost surely a gosub that
    // never returns, and each level holds a return address.
    static constexpr size_t kMaxGosubDepth = 256;

    explicit Machine(const Program& program);

    void reset();
    bool run(int64_t stepBudget, ScriptError& error);

private:
    const char* callRule(const Instruction& instruction);

    const Program& m_program;
    std::vector<int32_t> m_integers;
    std::vector<std::string> m_texts;
    std::vector<size_t> m_returns;
    Stacks m_stacks;
    std::string m_fault;
};
