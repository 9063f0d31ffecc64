#include "scriptkit/Machine.h"

#include "scriptkit/RuleBinding.h"
#include "scriptkit/TextSearch.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

int32_t wrap(int64_t value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

bool compare(int order, Comparison comparison)
{
    switch (comparison) {
    case Comparison::Equal: return order == 0;
    case Comparison::NotEqual: return order != 0;
    case Comparison::Less: return order < 0;
    case Comparison::Greater: return order > 0;
    case Comparison::LessEqual: return order <= 0;
    case Comparison::GreaterEqual: return order >= 0;
    }
    return false;
}

using NoResult = void (*)(const void*);
using NumberResult = int32_t (*)(const void*);
using TextResult = char* (*)(int32_t*, const void*);
using FreeText = void (*)(char*);

} // namespace

Machine::Machine(const Program& program) : m_program(program)
{
    reset();
}

void Machine::reset()
{
    m_integers.assign(static_cast<size_t>(m_program.integerSlots), 0);
    m_texts.resize(static_cast<size_t>(m_program.textSlots));
    for (std::string& text : m_texts)
        text.clear();
    m_returns.clear();
    m_stacks.integers.clear();
    m_stacks.texts.clear();
}

bool Machine::run(int64_t stepBudget, ScriptError& error)
{
    const std::vector<Instruction>& code = m_program.code;
    std::vector<int32_t>& ints = m_stacks.integers;
    std::vector<std::string>& texts = m_stacks.texts;
    size_t pc = 0;
    size_t at = 0;   // the instruction a fault is reported at
    int64_t steps = 0;
    const char* fault = nullptr;

    auto popInt = [&ints] {
        const int32_t value = ints.back();
        ints.pop_back();
        return value;
    };

    const size_t codeSize = code.size();
    while (fault == nullptr) {
        at = pc;
        if (pc >= codeSize) {
            fault = "The script ran past its end";
            break;
        }
        if (++steps > stepBudget) {
            fault = "The script took too many steps (an endless loop?)";
            break;
        }
        const Instruction& in = code[pc++];
        switch (in.op) {
        case Op::PushInt: ints.push_back(in.a); break;
        case Op::PushText: texts.push_back(m_program.texts[static_cast<size_t>(in.a)]); break;
        case Op::LoadInt: ints.push_back(m_integers[static_cast<size_t>(in.a)]); break;
        case Op::StoreInt: m_integers[static_cast<size_t>(in.a)] = popInt(); break;
        case Op::LoadText: texts.push_back(m_texts[static_cast<size_t>(in.a)]); break;
        case Op::StoreText:
            m_texts[static_cast<size_t>(in.a)] = std::move(texts.back());
            texts.pop_back();
            break;
        case Op::PopInt: ints.pop_back(); break;
        case Op::PopText: texts.pop_back(); break;
        case Op::Add:
        case Op::Sub:
        case Op::Mul:
        case Op::Div:
        case Op::And:
        case Op::Or:
        case Op::Xor: {
            const int64_t right = popInt();
            const int64_t left = popInt();
            int64_t result = 0;
            switch (in.op) {
            case Op::Add: result = left + right; break;
            case Op::Sub: result = left - right; break;
            case Op::Mul: result = left * right; break;
            case Op::Div:
                if (right == 0) {
                    fault = "Division by zero";
                    continue;
                }
                result = left / right;   // -2147483648 / -1 wraps back to itself
                break;
            case Op::And: result = left & right; break;
            case Op::Or: result = left | right; break;
            default: result = left ^ right; break;
            }
            ints.push_back(wrap(result));
            break;
        }
        case Op::Neg: ints.back() = wrap(-static_cast<int64_t>(ints.back())); break;
        case Op::Not: ints.back() = ~ints.back(); break;
        case Op::CompareInt: {
            const int32_t right = popInt();
            const int32_t left = ints.back();
            ints.back() = compare(left < right ? -1 : left > right ? 1 : 0, static_cast<Comparison>(in.a)) ? -1 : 0;
            break;
        }
        case Op::CompareText: {
            const int order = texts[texts.size() - 2].compare(texts.back());
            texts.pop_back();
            texts.pop_back();
            ints.push_back(compare(order, static_cast<Comparison>(in.a)) ? -1 : 0);
            break;
        }
        case Op::Concat: {
            std::string& left = texts[texts.size() - 2];
            if (left.size() + texts.back().size() > kMaxTextLength) {
                fault = "Text too long";
                continue;
            }
            left += texts.back();
            texts.pop_back();
            break;
        }
        case Op::Contains: {
            const bool found = findText(texts.back(), texts[texts.size() - 2], 0, true) != std::string_view::npos;
            texts.pop_back();
            texts.pop_back();
            ints.push_back(found ? -1 : 0);
            break;
        }
        case Op::Jump: pc = static_cast<size_t>(in.a); break;
        case Op::JumpIfFalse:
            if (popInt() == 0)
                pc = static_cast<size_t>(in.a);
            break;
        case Op::Gosub:
            if (m_returns.size() >= kMaxGosubDepth) {
                fault = "gosub nested deeper than 256 levels";
                continue;
            }
            m_returns.push_back(pc);
            pc = static_cast<size_t>(in.a);
            break;
        case Op::Return:
            if (m_returns.empty())
                return true;
            pc = m_returns.back();
            m_returns.pop_back();
            break;
        case Op::Stop: return true;
        case Op::ForCheck: {
            const int64_t value = m_integers[static_cast<size_t>(in.b)];
            const int64_t limit = m_integers[static_cast<size_t>(in.c)];
            const int64_t step = m_integers[static_cast<size_t>(in.d)];
            const int64_t stride = in.e ? -step : step;
            if (stride >= 0 ? value > limit : value < limit)
                pc = static_cast<size_t>(in.a);
            break;
        }
        case Op::ForNext: {
            const int64_t step = m_integers[static_cast<size_t>(in.d)];
            const int64_t value = m_integers[static_cast<size_t>(in.b)] + (in.e ? -step : step);
            // A step past the 32-bit range ends the loop instead of wrapping
            // back into it.
            if (value >= INT32_MIN && value <= INT32_MAX) {
                m_integers[static_cast<size_t>(in.b)] = static_cast<int32_t>(value);
                pc = static_cast<size_t>(in.a);
            }
            break;
        }
        case Op::CallBuiltin: fault = builtin(in.a).call(m_stacks); break;
        case Op::CallRule: fault = callRule(in); break;
        }
    }
    at = std::min(at, code.size() - 1);
    const SourceSpan& span = m_program.spans[static_cast<size_t>(code[at].source)];
    error = ScriptError{fault, span.line, span.start, span.end};
    return false;
}

const char* Machine::callRule(const Instruction& instruction)
{
    const RuleFunction& function = m_program.functions[static_cast<size_t>(instruction.a)];
    std::vector<int32_t>& ints = m_stacks.integers;
    std::vector<std::string>& texts = m_stacks.texts;

    size_t intCount = 0;
    for (ValueType type : function.parameters)
        intCount += type == ValueType::Integer ? 1 : 0;
    size_t intAt = ints.size() - intCount;
    size_t textAt = texts.size() - (function.parameters.size() - intCount);
    const size_t intBase = intAt;
    const size_t textBase = textAt;

    // Up to 16 arguments; a function without any still gets a valid block.
    std::array<ArgumentSlot, 16> slots{};
    for (size_t i = 0; i < function.parameters.size(); ++i) {
        if (function.parameters[i] == ValueType::Integer)
            slots[i].number = ints[intAt++];
        else
            slots[i].text = texts[textAt++].c_str();
    }

    int32_t number = 0;
    std::string text;
    try {
        switch (function.result) {
        case ResultKind::None:
            reinterpret_cast<NoResult>(function.address)(slots.data());
            break;
        case ResultKind::Integer:
            number = reinterpret_cast<NumberResult>(function.address)(slots.data());
            break;
        case ResultKind::Truth:
            number = reinterpret_cast<NumberResult>(function.address)(slots.data()) != 0 ? -1 : 0;
            break;
        case ResultKind::Text: {
            int32_t length = 0;
            char* result = reinterpret_cast<TextResult>(function.address)(&length, slots.data());
            if (result != nullptr) {
                text.assign(result, ::strnlen(result, kMaxTextLength + 1));
                reinterpret_cast<FreeText>(m_program.freeString)(result);
            }
            break;
        }
        }
    } catch (...) {
        m_fault = "Rule function '" + function.name + "' failed";
        return m_fault.c_str();
    }
    ints.resize(intBase);
    texts.resize(textBase);
    if (function.result == ResultKind::Text) {
        if (text.size() > kMaxTextLength)
            return "Text too long";
        texts.push_back(std::move(text));
    } else if (function.result != ResultKind::None) {
        ints.push_back(number);
    }
    return nullptr;
}
