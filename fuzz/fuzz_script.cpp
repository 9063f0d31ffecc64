// Compiles the input as a script and, when it compiles, runs it twice with a
// small step budget.  The program exports a rule function of each shape so
// that scripts declaring them reach the calling convention too.  Checks that
// a failure always comes with an error inside the text.
#include "scriptkit/ScriptKit.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#define FUZZ_EXPORT extern "C" __attribute__((visibility("default")))

FUZZ_EXPORT void FUZZ_NONE(const void*) {}

FUZZ_EXPORT int32_t FUZZ_NUMBER(const void* slots)
{
    int32_t value;
    std::memcpy(&value, slots, sizeof value);
    return value * 3;
}

FUZZ_EXPORT char* FUZZ_TEXT(int32_t* length, const void* slots)
{
    const char* text;
    std::memcpy(&text, slots, sizeof text);
    const size_t size = std::strlen(text);
    if (size % 2)
        return nullptr;
    char* copy = static_cast<char*>(std::malloc(size + 2));
    std::memcpy(copy, text, size);
    copy[size] = '!';
    copy[size + 1] = '\0';
    *length = static_cast<int32_t>(size + 1);
    return copy;
}

FUZZ_EXPORT void FreeString(char* text)
{
    std::free(text);
}

namespace {

void checkError(HSCRIPT script, size_t textSize)
{
    const char* message = nullptr;
    int line = 0;
    int start = -1;
    int end = -1;
    if (!GetError(script, &message, &line, &start, &end) || message == nullptr || line < 1 || start < 0
        || end < start || static_cast<size_t>(end) > textSize)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t textSize = std::strlen(text.c_str());
    HSCRIPT script = CreateScript();
    SetScriptStepBudget(script, 20000);
    if (!ParseScript(script, text.c_str())) {
        checkError(script, textSize);
    } else {
        for (int run = 0; run < 2; ++run) {
            ResetScript(script);
            if (!RunScript(script))
                checkError(script, textSize);
        }
    }
    CloseScript(script);
    return 0;
}
