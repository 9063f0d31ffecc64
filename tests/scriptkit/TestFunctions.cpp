#include "TestFunctions.h"

#include "filter/RuleFunctionTable.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

std::atomic<int> freedTexts{0};
std::atomic<int> returnedTexts{0};

std::vector<std::string>& threadNotes()
{
    thread_local std::vector<std::string> notes;
    return notes;
}

namespace {

const char* textAt(const void* slots, int index)
{
    const char* text;
    std::memcpy(&text, static_cast<const char*>(slots) + 8 * index, sizeof text);
    return text;
}

int32_t numberAt(const void* slots, int index)
{
    int32_t number;
    std::memcpy(&number, static_cast<const char*>(slots) + 8 * index, sizeof number);
    return number;
}

char* newText(const std::string& text, int32_t* length)
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *length = static_cast<int32_t>(text.size());
    ++returnedTexts;
    return copy;
}

} // namespace

const char* const kTestDeclarations =
    "#declare TEST_NOTE(string)\n"
    "#declare TEST_NUMBER(integer)\n"
    "#declare TEST_ADD(integer, integer) as integer\n"
    "#declare TEST_JOIN(string, string) as string\n"
    "#declare TEST_MIXED(integer, string, integer) as string\n"
    "#declare TEST_FIVE_IF_LONG(string) as truth\n"
    "#declare TEST_NO_TEXT() as string\n"
    "#declare TEST_THROW()\n"
    "#declare TEST_MISSING(string) as integer\n";

TEST_EXPORT void TEST_NOTE(const void* slots)
{
    threadNotes().emplace_back(textAt(slots, 0));
}

TEST_EXPORT void TEST_NUMBER(const void* slots)
{
    threadNotes().push_back(std::to_string(numberAt(slots, 0)));
}

TEST_EXPORT int32_t TEST_ADD(const void* slots)
{
    return static_cast<int32_t>(static_cast<uint32_t>(numberAt(slots, 0)) + static_cast<uint32_t>(numberAt(slots, 1)));
}

TEST_EXPORT char* TEST_JOIN(int32_t* length, const void* slots)
{
    return newText(std::string(textAt(slots, 0)) + textAt(slots, 1), length);
}

TEST_EXPORT char* TEST_MIXED(int32_t* length, const void* slots)
{
    return newText(std::to_string(numberAt(slots, 0)) + ":" + textAt(slots, 1) + ":" +
                       std::to_string(numberAt(slots, 2)),
                   length);
}

// A truth result other than -1: the engine must still see true.
TEST_EXPORT int32_t TEST_FIVE_IF_LONG(const void* slots)
{
    return std::strlen(textAt(slots, 0)) > 3 ? 5 : 0;
}

TEST_EXPORT char* TEST_NO_TEXT(int32_t* length, const void*)
{
    *length = 0;
    return nullptr;
}

TEST_EXPORT void TEST_THROW(const void*)
{
    throw std::runtime_error("rule function failure");
}

TEST_EXPORT void FreeString(char* text)
{
    if (text != nullptr)
        ++freedTexts;
    std::free(text);
}

// Stand-ins for the program's rule functions, one for each row of its
// table, of the shape its result type gives: nothing happens and the answer
// is 0, false or no text.
#define STUB_none(name) \
    TEST_EXPORT void name(const void*) {}
#define STUB_integer(name) \
    TEST_EXPORT int32_t name(const void*) { return 0; }
#define STUB_truth(name) STUB_integer(name)
#define STUB_string(name) \
    TEST_EXPORT char* name(int32_t* length, const void*) \
    { \
        *length = 0; \
        return nullptr; \
    }
#define STUB_ROW(name, arguments, result) STUB_##result(name)

QF_RULE_FUNCTIONS(STUB_ROW)
