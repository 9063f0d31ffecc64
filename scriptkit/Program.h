// Program: a compiled script.  A flat list of instructions for the stack
// machine, the text constants they use, the source span of each instruction
// (for run-time errors) and the rule functions the script calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class ValueType : char { Integer = '%', Text = '$' };

enum class ResultKind { None, Integer, Truth, Text };

enum class Op : uint8_t {
    PushInt,      // a: value
    PushText,     // a: constant index
    LoadInt,      // a: integer slot
    StoreInt,
    LoadText,     // a: text slot
    StoreText,
    PopInt,       // drops the value of a call made as a statement
    PopText,
    Add, Sub, Mul, Div, Neg, And, Or, Xor, Not,
    CompareInt,   // a: Comparison
    CompareText,  // a: Comparison
    Concat,
    Contains,     // left in right, letter case ignored
    Jump,         // a: target
    JumpIfFalse,  // a: target
    Gosub,        // a: target
    Return,       // back after the last gosub, or the end of the run
    Stop,
    ForCheck,     // a: target past the loop, b: variable, c: limit slot, d: step slot, downto in e
    ForNext,      // a: target of the check, b: variable, d: step slot, downto in e
    CallBuiltin,  // a: builtin index
    CallRule,     // a: rule function index
};

enum class Comparison : int32_t { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual };

struct Instruction {
    Op op;
    int32_t a = 0;
    int32_t b = 0;
    int32_t c = 0;
    int32_t d = 0;
    int32_t e = 0;
    int32_t source = 0;   // index into Program::spans
};

struct SourceSpan {
    int line = 1;
    int start = 0;
    int end = 0;
};

struct RuleFunction {
    std::string name;                 // upper case, as exported
    std::vector<ValueType> parameters;
    ResultKind result = ResultKind::None;
    void* address = nullptr;          // bound at the first call the compiler meets
};

struct Program {
    std::vector<Instruction> code;
    std::vector<std::string> texts;
    std::vector<SourceSpan> spans;
    std::vector<RuleFunction> functions;
    int integerSlots = 0;
    int textSlots = 0;
    void* freeString = nullptr;       // the program's FreeString, once a text function is bound
};
