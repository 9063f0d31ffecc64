#include "scriptkit/Builtins.h"

#include "scriptkit/TextSearch.h"

#include <algorithm>
#include <strings.h>

namespace {

int32_t popInt(Stacks& s)
{
    const int32_t value = s.integers.back();
    s.integers.pop_back();
    return value;
}

std::string popText(Stacks& s)
{
    std::string value = std::move(s.texts.back());
    s.texts.pop_back();
    return value;
}

// Clamps a 1-based position and a count to the text: the part of
// [start, start + count) that lies inside it.
std::string_view slice(std::string_view text, int64_t start, int64_t count)
{
    if (start < 1)
        start = 1;
    if (count <= 0 || start > static_cast<int64_t>(text.size()))
        return {};
    const auto from = static_cast<size_t>(start - 1);
    return text.substr(from, static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(text.size() - from))));
}

const char* len(Stacks& s)
{
    const std::string text = popText(s);
    s.integers.push_back(static_cast<int32_t>(text.size()));
    return nullptr;
}

const char* left(Stacks& s)
{
    const int32_t count = popInt(s);
    std::string text = popText(s);
    s.texts.emplace_back(slice(text, 1, count));
    return nullptr;
}

const char* right(Stacks& s)
{
    const int32_t count = popInt(s);
    std::string text = popText(s);
    const int64_t size = static_cast<int64_t>(text.size());
    s.texts.emplace_back(slice(text, size - std::min<int64_t>(std::max(count, 0), size) + 1, count));
    return nullptr;
}

const char* mid3(Stacks& s)
{
    const int32_t count = popInt(s);
    const int32_t start = popInt(s);
    std::string text = popText(s);
    s.texts.emplace_back(slice(text, start, count));
    return nullptr;
}

const char* mid2(Stacks& s)
{
    const int32_t start = popInt(s);
    std::string text = popText(s);
    s.texts.emplace_back(slice(text, start, static_cast<int64_t>(text.size())));
    return nullptr;
}

int32_t findFrom(std::string_view text, std::string_view needle, int64_t start)
{
    if (start < 1)
        start = 1;
    if (start > static_cast<int64_t>(text.size()) + 1)
        return 0;
    const size_t found = findText(text, needle, static_cast<size_t>(start - 1), false);
    return found == std::string_view::npos ? 0 : static_cast<int32_t>(found + 1);
}

const char* instr2(Stacks& s)
{
    const std::string needle = popText(s);
    const std::string text = popText(s);
    s.integers.push_back(findFrom(text, needle, 1));
    return nullptr;
}

const char* instr3(Stacks& s)
{
    const std::string needle = popText(s);
    const std::string text = popText(s);
    const int32_t start = popInt(s);
    s.integers.push_back(findFrom(text, needle, start));
    return nullptr;
}

const char* upper(Stacks& s)
{
    for (char& c : s.texts.back()) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return nullptr;
}

const char* lower(Stacks& s)
{
    for (char& c : s.texts.back()) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return nullptr;
}

const char* trim(Stacks& s)
{
    std::string& text = s.texts.back();
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        text.clear();
        return nullptr;
    }
    text = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    return nullptr;
}

const char* str(Stacks& s)
{
    s.texts.push_back(std::to_string(popInt(s)));
    return nullptr;
}

// The number at the start of the text (after blanks, with an optional sign);
// 0 when there is none, clamped to the 32-bit range.
const char* val(Stacks& s)
{
    const std::string text = popText(s);
    size_t i = text.find_first_not_of(" \t");
    int64_t value = 0;
    bool negative = false;
    if (i != std::string::npos && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), 2147483648LL);
    value = negative ? -value : std::min<int64_t>(value, 2147483647LL);
    s.integers.push_back(static_cast<int32_t>(value));
    return nullptr;
}

const char* chr(Stacks& s)
{
    s.texts.emplace_back(1, static_cast<char>(popInt(s) & 0xff));
    return nullptr;
}

const char* asc(Stacks& s)
{
    const std::string text = popText(s);
    s.integers.push_back(text.empty() ? 0 : static_cast<unsigned char>(text[0]));
    return nullptr;
}

const char* absolute(Stacks& s)
{
    const int32_t value = popInt(s);
    // abs of the smallest number is itself, as its negation wraps.
    s.integers.push_back(value < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(value)) : value);
    return nullptr;
}

const char* minimum(Stacks& s)
{
    const int32_t b = popInt(s);
    const int32_t a = popInt(s);
    s.integers.push_back(std::min(a, b));
    return nullptr;
}

const char* maximum(Stacks& s)
{
    const int32_t b = popInt(s);
    const int32_t a = popInt(s);
    s.integers.push_back(std::max(a, b));
    return nullptr;
}

const char* modulo(Stacks& s)
{
    const int32_t b = popInt(s);
    const int32_t a = popInt(s);
    if (b == 0)
        return "Division by zero";
    s.integers.push_back(b == -1 ? 0 : a % b);
    return nullptr;
}

constexpr Builtin kBuiltins[] = {
    {"len", "$", ValueType::Integer, len},
    {"left", "$%", ValueType::Text, left},
    {"right", "$%", ValueType::Text, right},
    {"mid", "$%", ValueType::Text, mid2},
    {"mid", "$%%", ValueType::Text, mid3},
    {"instr", "$$", ValueType::Integer, instr2},
    {"instr", "%$$", ValueType::Integer, instr3},
    {"upper", "$", ValueType::Text, upper},
    {"lower", "$", ValueType::Text, lower},
    {"trim", "$", ValueType::Text, trim},
    {"str", "%", ValueType::Text, str},
    {"val", "$", ValueType::Integer, val},
    {"chr", "%", ValueType::Text, chr},
    {"asc", "$", ValueType::Integer, asc},
    {"abs", "%", ValueType::Integer, absolute},
    {"min", "%%", ValueType::Integer, minimum},
    {"max", "%%", ValueType::Integer, maximum},
    {"mod", "%%", ValueType::Integer, modulo},
};

} // namespace

int findBuiltin(std::string_view name, size_t arguments, bool& nameExists)
{
    nameExists = false;
    for (size_t i = 0; i < std::size(kBuiltins); ++i) {
        const Builtin& entry = kBuiltins[i];
        if (name.size() != std::char_traits<char>::length(entry.name)
            || ::strncasecmp(name.data(), entry.name, name.size()) != 0)
            continue;
        nameExists = true;
        if (std::char_traits<char>::length(entry.parameters) == arguments)
            return static_cast<int>(i);
    }
    return -1;
}

const Builtin& builtin(int index)
{
    return kBuiltins[index];
}
