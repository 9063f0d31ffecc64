// A script handle owned for the length of a test, and a helper that parses
// and runs a script after the test declarations and returns its notes.
#pragma once

#include "TestFunctions.h"
#include "scriptkit/ScriptKit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class ScriptHandle
{
public:
    ScriptHandle() : m_script(CreateScript()) {}
    ~ScriptHandle() { CloseScript(m_script); }
    ScriptHandle(const ScriptHandle&) = delete;
    ScriptHandle& operator=(const ScriptHandle&) = delete;
    HSCRIPT get() const { return m_script; }

private:
    HSCRIPT m_script;
};

struct ScriptError {
    std::string message;
    int line = 0;
    int start = 0;
    int end = 0;
    std::string span;   // the text between start and end
};

// The last error of the script, with the span cut from text.
inline ScriptError lastError(HSCRIPT script, const std::string& text)
{
    ScriptError error;
    const char* message = nullptr;
    if (!GetError(script, &message, &error.line, &error.start, &error.end))
        return error;
    error.message = message ? message : "";
    if (error.start >= 0 && error.end >= error.start && static_cast<size_t>(error.end) <= text.size())
        error.span = text.substr(static_cast<size_t>(error.start), static_cast<size_t>(error.end - error.start));
    return error;
}

inline std::string fullText(const std::string& body)
{
    return std::string(kTestDeclarations) + body;
}

// Parses and runs body after the declarations; the notes it made, or one
// note "parse error: ..." / "run error: ...".
inline std::vector<std::string> runBody(const std::string& body)
{
    ScriptHandle script;
    const std::string text = fullText(body);
    threadNotes().clear();
    if (!ParseScript(script.get(), text.c_str()))
        return {"parse error: " + lastError(script.get(), text).message};
    ResetScript(script.get());
    if (!RunScript(script.get())) {
        std::vector<std::string> notes = threadNotes();
        notes.push_back("run error: " + lastError(script.get(), text).message);
        return notes;
    }
    return threadNotes();
}
