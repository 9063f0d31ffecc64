// The engine's C interface: handles over a compiled Program and its Machine.
#include "scriptkit/ScriptKit.h"

#include "scriptkit/Compiler.h"
#include "scriptkit/Machine.h"

#include <cstring>
#include <memory>
#include <new>

struct ScriptkitScript {
    Program program;
    std::unique_ptr<Machine> machine;   // present once the text compiled
    ScriptError error;
    bool failed = false;
    int64_t stepBudget = kDefaultStepBudget;

    void setError(ScriptError newError)
    {
        error = std::move(newError);
        failed = true;
    }
};

namespace {

// A script is the include file and one rule: 16 MB is far beyond any, and
// keeps every offset within the 32-bit positions errors report.
constexpr size_t kMaxScriptLength = 16 * 1024 * 1024;

void notCompiled(HSCRIPT script)
{
    script->setError(ScriptError{"The script has not been compiled", 1, 0, 0});
}

} // namespace

bool StartScriptEngine()
{
    return true;
}

bool StopScriptEngine()
{
    return true;
}

HSCRIPT CreateScript()
{
    return new (std::nothrow) ScriptkitScript;
}

bool ParseScript(HSCRIPT script, const char* text)
{
    if (script == nullptr)
        return false;
    script->machine.reset();
    script->failed = false;
    if (text == nullptr) {
        script->setError(ScriptError{"No script text", 1, 0, 0});
        return false;
    }
    if (std::strlen(text) > kMaxScriptLength) {
        script->setError(ScriptError{"Script too long", 1, 0, 0});
        return false;
    }
    ScriptError error;
    if (!compile(text, script->program, error)) {
        script->setError(std::move(error));
        return false;
    }
    try {
        script->machine = std::make_unique<Machine>(script->program);
    } catch (const std::bad_alloc&) {
        script->setError(ScriptError{"Out of memory", 1, 0, 0});
        return false;
    }
    return true;
}

bool ResetScript(HSCRIPT script)
{
    if (script == nullptr)
        return false;
    if (!script->machine) {
        notCompiled(script);
        return false;
    }
    script->machine->reset();
    return true;
}

bool RunScript(HSCRIPT script)
{
    if (script == nullptr)
        return false;
    if (!script->machine) {
        notCompiled(script);
        return false;
    }
    script->failed = false;
    ScriptError error;
    bool ok = false;
    try {
        ok = script->machine->run(script->stepBudget, error);
    } catch (const std::bad_alloc&) {
        error = ScriptError{"Out of memory", 1, 0, 0};
    } catch (const std::exception&) {
        error = ScriptError{"Internal error while running", 1, 0, 0};
    }
    if (!ok)
        script->setError(std::move(error));
    return ok;
}

bool GetError(HSCRIPT script, const char** message, int* line, int* start, int* end)
{
    if (script == nullptr || !script->failed)
        return false;
    if (message)
        *message = script->error.message.c_str();
    if (line)
        *line = script->error.line;
    if (start)
        *start = script->error.start;
    if (end)
        *end = script->error.end;
    return true;
}

void CloseScript(HSCRIPT script)
{
    delete script;
}

void SetScriptStepBudget(HSCRIPT script, int64_t steps)
{
    if (script != nullptr)
        script->stepBudget = steps < 1 ? 1 : steps;
}
