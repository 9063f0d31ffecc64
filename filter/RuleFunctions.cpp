// The rule functions: what rule scripts call to look at the message being
// judged and to give their verdict.  Exported under their upper-case names
// with C linkage, for the script engine to find by name; with FreeString,
// which releases the texts they return.
//
// Arguments arrive as one pointer to a block of 8-byte slots (a text slot
// starts with the address of a NUL-terminated text, a number slot with a
// 32-bit signed integer).  Truths are -1 and 0.  A text result takes a
// pointer to its 32-bit length first and is a new malloc'd copy, or null.
//
// Each finds the context of the calling thread (currentContext()); without
// one, or with a null text argument, it gives its neutral answer (false, 0,
// no text), except the five header and body pattern tests, which answer
// true without a context.  Failures are trapped and answered neutrally.
#include "filter/FilterContext.h"
#include "filter/FilterSettings.h"
#include "filter/LearnedRating.h"
#include "filter/ListStore.h"
#include "filter/VirusCheck.h"

#include "common/CEventLog.h"
#include "common/InternetDate.h"
#include "common/ParseAddress.h"
#include "common/WildcardMatch.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#define RULE_FUNCTION extern "C" __attribute__((visibility("default"), used))

namespace {

constexpr int32_t kTrue = -1;
constexpr int32_t kFalse = 0;

int32_t truth(bool value)
{
    return value ? kTrue : kFalse;
}

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
    if (copy == nullptr) {
        *length = 0;
        return nullptr;
    }
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *length = static_cast<int32_t>(text.size());
    return copy;
}

char* noText(int32_t* length)
{
    *length = 0;
    return nullptr;
}

std::string upper(const char* text)
{
    std::string out = text;
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The calling thread's context with its message open, or null.
FilterContext* openContext()
{
    FilterContext* context = currentContext();
    if (context == nullptr || !context->message.open(context->currentMessage))
        return nullptr;
    return context;
}

// The current chunk's header value of name (any case).
bool headerValue(FilterContext& context, const char* name, std::string& value)
{
    Chunk* chunk = context.message.chunk();
    return chunk && chunk->getHeader(context.message.file(), upper(name), value);
}

// The next address of the walk that GETFIRSTADDRESS started.
char* nextAddress(FilterContext& context, int32_t* length)
{
    std::string& text = context.addressCopy;
    size_t& cursor = context.addressCursor;
    if (cursor == std::string::npos || cursor >= text.size())
        return noText(length);
    std::vector<char> rest(text.begin() + static_cast<long>(cursor), text.end());
    rest.push_back('\0');
    std::string address;
    ParseAddress(rest.data(), address);
    if (address.empty())
        return noText(length);
    // Past this address: a quoted display name may hold commas.
    size_t at = cursor;
    while (at < text.size() && text[at] != ',') {
        if (text[at] == '"') {
            const size_t close = text.find('"', at + 1);
            at = close == std::string::npos ? text.size() : close + 1;
        } else {
            ++at;
        }
    }
    if (at < text.size()) {
        ++at;
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
            ++at;
    }
    cursor = at;
    return newText(address, length);
}

const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

bool validDate(const char* text)
{
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    if (std::strlen(text) < 4)
        return false;
    std::string dayName;
    if (text[3] == ',') {
        dayName.assign(text, 3);
        text += 4;
        while (std::isspace(static_cast<unsigned char>(*text)))
            ++text;
    }
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char separator1 = 0, separator2 = 0;
    char month[32] = "";
    const int fields = std::sscanf(text, "%d%c%31[^- ]%c%d %d:%d:%d", &day, &separator1, month, &separator2, &year,
                                   &hour, &minute, &second);
    if (fields < 7)
        return false;
    const int monthIndex = getm(month);
    if (monthIndex < 0 || monthIndex > 11 || year < 1970)
        return false;
    std::tm when{};
    when.tm_mday = day;
    when.tm_mon = monthIndex;
    when.tm_year = year - 1900;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = fields >= 8 ? second : 0;
    when.tm_isdst = -1;
    const std::time_t converted = std::mktime(&when);
    if (converted == static_cast<std::time_t>(-1))
        return false;
    if (dayName.empty())
        return true;
    std::tm local{};
    localtime_r(&converted, &local);
    return ::strcasecmp(dayName.c_str(), kDayNames[local.tm_wday]) == 0;
}

} // namespace

// A rule function's body, with its neutral answer on any failure.
#define GUARDED(neutral, ...)                  \
    try {                                      \
        __VA_ARGS__                            \
    } catch (...) {                            \
        DebugX("scriptfunctions", __LINE__);   \
        return neutral;                        \
    }

// A list procedure on the calling thread's context, the list named by the
// first argument; neutral without a context or a list.
template <typename Procedure>
int32_t onList(const void* slots, int32_t neutral, Procedure procedure)
{
    GUARDED(neutral, {
        const char* list = textAt(slots, 0);
        FilterContext* context = currentContext();
        return context && list ? procedure(*context, list) : neutral;
    })
}

RULE_FUNCTION void ISSPAM(const void*)
{
    if (FilterContext* context = currentContext()) {
        context->isSpam = true;
        if (filterSettings().debugLogging)
            CEventLog().LogEvent(kDebugLevel, "IsSpam called");
    }
}

RULE_FUNCTION void ISOK(const void*)
{
    if (FilterContext* context = currentContext()) {
        context->isOk = true;
        if (filterSettings().debugLogging)
            CEventLog().LogEvent(kDebugLevel, "IsOK called");
    }
}

RULE_FUNCTION void STOPCHECKING(const void*)
{
    if (FilterContext* context = currentContext())
        context->stopChecking = true;
}

RULE_FUNCTION int32_t GETRULERATING(const void*)
{
    FilterContext* context = currentContext();
    return context ? context->ruleRating : 0;
}

RULE_FUNCTION void SETRULERATING(const void* slots)
{
    if (FilterContext* context = currentContext())
        context->ruleRating = numberAt(slots, 0);
}

RULE_FUNCTION void ADDDECISIONDETAILS(const void* slots)
{
    const char* text = textAt(slots, 0);
    FilterContext* context = currentContext();
    if (context && text)
        context->addDetail(text);
}

RULE_FUNCTION int32_t MESSAGESIZE(const void*)
{
    GUARDED(0, {
        FilterContext* context = openContext();
        return context ? context->message.messageSize() : 0;
    })
}

RULE_FUNCTION int32_t GETMSGSEGMENTCOUNT(const void*)
{
    GUARDED(0, {
        FilterContext* context = openContext();
        return context ? context->message.segmentCount() : 0;
    })
}

RULE_FUNCTION int32_t SELECTMSGSEGMENT(const void* slots)
{
    GUARDED(kFalse, {
        FilterContext* context = openContext();
        return truth(context && context->message.selectSegment(numberAt(slots, 0)));
    })
}

RULE_FUNCTION int32_t HEADERFIELDEXISTS(const void* slots)
{
    GUARDED(kFalse, {
        const char* name = textAt(slots, 0);
        FilterContext* context = name ? openContext() : nullptr;
        std::string value;
        return truth(context && headerValue(*context, name, value));
    })
}

RULE_FUNCTION char* HEADERFIELDVALUE(int32_t* length, const void* slots)
{
    GUARDED(noText(length), {
        const char* name = textAt(slots, 0);
        FilterContext* context = name ? openContext() : nullptr;
        std::string value;
        if (!context || !headerValue(*context, name, value))
            return noText(length);
        return newText(value, length);
    })
}

RULE_FUNCTION int32_t GETHEADERFIELDCOUNT(const void*)
{
    GUARDED(0, {
        FilterContext* context = openContext();
        return context ? context->message.chunk()->headerCount(context->message.file()) : 0;
    })
}

RULE_FUNCTION char* GETHEADERFIELDNAME(int32_t* length, const void* slots)
{
    GUARDED(noText(length), {
        FilterContext* context = openContext();
        std::string name;
        if (!context || !context->message.chunk()->getHeaderName(context->message.file(), numberAt(slots, 0), name))
            return noText(length);
        return newText(name, length);
    })
}

RULE_FUNCTION char* GETHEADERFIELDVALUE(int32_t* length, const void* slots)
{
    GUARDED(noText(length), {
        FilterContext* context = openContext();
        std::string value;
        if (!context ||
            !context->message.chunk()->getHeaderValue(context->message.file(), numberAt(slots, 0), value))
            return noText(length);
        return newText(value, length);
    })
}

RULE_FUNCTION char* GETFIRSTADDRESS(int32_t* length, const void* slots)
{
    GUARDED(noText(length), {
        const char* name = textAt(slots, 0);
        FilterContext* context = name ? openContext() : nullptr;
        if (!context)
            return noText(length);
        std::string value;
        if (headerValue(*context, name, value)) {
            context->addressCopy = value;
            context->addressCursor = 0;
        } else {
            context->addressCopy.clear();
            context->addressCursor = std::string::npos;
        }
        return nextAddress(*context, length);
    })
}

RULE_FUNCTION char* GETNEXTADDRESS(int32_t* length, const void*)
{
    GUARDED(noText(length), {
        FilterContext* context = currentContext();
        return context ? nextAddress(*context, length) : noText(length);
    })
}

RULE_FUNCTION char* PARSEADDRESS(int32_t* length, const void* slots)
{
    GUARDED(noText(length), {
        const char* text = textAt(slots, 0);
        if (text == nullptr)
            return noText(length);
        std::vector<char> copy(text, text + std::strlen(text) + 1);
        std::string address;
        ParseAddress(copy.data(), address);
        return address.empty() ? noText(length) : newText(address, length);
    })
}

RULE_FUNCTION int32_t WILDCARDMATCH(const void* slots)
{
    GUARDED(kFalse, {
        const char* text = textAt(slots, 0);
        const char* pattern = textAt(slots, 1);
        if (text == nullptr || pattern == nullptr)
            return kFalse;
        return truth(WildcardPattern(pattern).matches(text, std::strlen(text)));
    })
}

RULE_FUNCTION int32_t WILDCARDMATCHHEADER(const void* slots)
{
    GUARDED(kFalse, {
        const char* pattern = textAt(slots, 0);
        if (pattern == nullptr)
            return kFalse;
        if (currentContext() == nullptr)
            return kTrue;
        FilterContext* context = openContext();
        const Chunk* chunk = context ? context->message.chunk() : nullptr;
        const char* header = chunk ? chunk->headerText() : nullptr;
        if (header == nullptr)
            return kFalse;
        return truth(WildcardPattern(pattern).matches(header, chunk->headerLength()));
    })
}

RULE_FUNCTION int32_t WILDCARDMATCHBODY(const void* slots)
{
    GUARDED(kFalse, {
        const char* pattern = textAt(slots, 0);
        if (pattern == nullptr)
            return kFalse;
        if (currentContext() == nullptr)
            return kTrue;
        FilterContext* context = openContext();
        return truth(context && context->message.matchBody(pattern));
    })
}

RULE_FUNCTION int32_t WILDCARDMATCHRAWBODY(const void* slots)
{
    GUARDED(kFalse, {
        const char* pattern = textAt(slots, 0);
        if (pattern == nullptr)
            return kFalse;
        if (currentContext() == nullptr)
            return kTrue;
        FilterContext* context = openContext();
        return truth(context && context->message.matchRawBody(pattern));
    })
}

RULE_FUNCTION int32_t MATCHESLISTITEM(const void* slots)
{
    GUARDED(kFalse, {
        const char* list = textAt(slots, 0);
        const char* text = textAt(slots, 1);
        FilterContext* context = currentContext();
        return truth(context && list && text && listMatchesText(*context, list, text));
    })
}

RULE_FUNCTION int32_t HEADERMATCHESLISTITEM(const void* slots)
{
    GUARDED(kFalse, {
        const char* list = textAt(slots, 0);
        if (list == nullptr)
            return kFalse;
        FilterContext* context = currentContext();
        return context ? truth(listMatchesHeader(*context, list)) : kTrue;
    })
}

RULE_FUNCTION int32_t BODYMATCHESLISTITEM(const void* slots)
{
    GUARDED(kFalse, {
        const char* list = textAt(slots, 0);
        if (list == nullptr)
            return kFalse;
        FilterContext* context = currentContext();
        return context ? truth(listMatchesBody(*context, list)) : kTrue;
    })
}

RULE_FUNCTION int32_t COUNTHEADERPATTERNLISTHITS(const void* slots)
{
    return onList(slots, 0, [](FilterContext& context, const char* list) { return countHeaderPatternHits(context, list); });
}

RULE_FUNCTION int32_t COUNTBODYPATTERNLISTHITS(const void* slots)
{
    return onList(slots, 0, [](FilterContext& context, const char* list) { return countBodyPatternHits(context, list); });
}

RULE_FUNCTION int32_t FINDWORDINSTRING(const void* slots)
{
    GUARDED(kFalse, {
        const char* list = textAt(slots, 0);
        const char* text = textAt(slots, 1);
        return truth(currentContext() && list && text && findWordInString(list, text));
    })
}

RULE_FUNCTION int32_t FINDWORDINHEADER(const void* slots)
{
    return onList(slots, kFalse, [](FilterContext& context, const char* list) { return truth(findWordInHeader(context, list)); });
}

RULE_FUNCTION int32_t FINDWORDINBODY(const void* slots)
{
    return onList(slots, kFalse, [](FilterContext& context, const char* list) { return truth(findWordInBody(context, list)); });
}

RULE_FUNCTION int32_t COUNTHEADERWORDLISTHITS(const void* slots)
{
    return onList(slots, 0, [](FilterContext& context, const char* list) { return countHeaderWordHits(context, list); });
}

RULE_FUNCTION int32_t COUNTBODYWORDLISTHITS(const void* slots)
{
    return onList(slots, 0, [](FilterContext& context, const char* list) { return countBodyWordHits(context, list); });
}

RULE_FUNCTION int32_t COUNTHEADERWORDINSTANCES(const void* slots)
{
    GUARDED(0, {
        const char* word = textAt(slots, 0);
        FilterContext* context = word ? openContext() : nullptr;
        return context ? context->message.chunk()->headerWordCount(context->message.file(), word) : 0;
    })
}

RULE_FUNCTION int32_t COUNTBODYWORDINSTANCES(const void* slots)
{
    GUARDED(0, {
        const char* word = textAt(slots, 0);
        FilterContext* context = word ? openContext() : nullptr;
        if (context == nullptr)
            return 0;
        context->message.ensureWholeMessage(context->currentMessage);
        if (!context->message.open(context->currentMessage))
            return 0;
        return context->message.chunk()->bodyWordCount(context->message.file(), word);
    })
}

RULE_FUNCTION int32_t MAXWHITESPACERUN(const void* slots)
{
    const char* text = textAt(slots, 0);
    if (text == nullptr)
        return 0;
    int32_t longest = 0, run = 0;
    for (const char* p = text; *p; ++p) {
        run = std::isspace(static_cast<unsigned char>(*p)) ? run + 1 : 0;
        longest = run > longest ? run : longest;
    }
    return longest;
}

RULE_FUNCTION int32_t ISVALIDDATE(const void* slots)
{
    GUARDED(kFalse, {
        const char* text = textAt(slots, 0);
        return truth(text && validDate(text));
    })
}

RULE_FUNCTION void SETUSERMACRO(const void* slots)
{
    try {
        const char* text = textAt(slots, 1);
        FilterContext* context = text ? currentContext() : nullptr;
        if (context == nullptr)
            return;
        context->message.open(context->currentMessage);
        context->message.setUserMacro(numberAt(slots, 0), text);
    } catch (...) {
        DebugX("scriptfunctions", __LINE__);
    }
}

RULE_FUNCTION int32_t ISINFECTED(const void*)
{
    GUARDED(kFalse, {
        FilterContext* context = openContext();
        return truth(context && scanForViruses(*context));
    })
}

RULE_FUNCTION int32_t SPAMPROBABILITY(const void*)
{
    GUARDED(LearnedRating::kNeutral, {
        FilterContext* context = currentContext();
        return context ? learnedProbability(*context) : LearnedRating::kNeutral;
    })
}

RULE_FUNCTION int32_t LEARNEDCOUNT(const void* slots)
{
    GUARDED(0, {
        const char* kind = textAt(slots, 0);
        FilterContext* context = kind ? currentContext() : nullptr;
        if (context == nullptr)
            return 0;
        int64_t count = 0;
        if (::strcasecmp(kind, "spam") == 0)
            count = context->learnedRating().learned(MailKind::Spam);
        else if (::strcasecmp(kind, "ham") == 0)
            count = context->learnedRating().learned(MailKind::Ham);
        return static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
    })
}

RULE_FUNCTION int32_t FILEOPEN(const void* slots)
{
    GUARDED(0, {
        const char* path = textAt(slots, 0);
        const char* mode = textAt(slots, 1);
        FilterContext* context = currentContext();
        return context && path && mode ? context->openFile(path, mode) : 0;
    })
}

RULE_FUNCTION int32_t FILECLOSE(const void* slots)
{
    GUARDED(0, {
        FilterContext* context = currentContext();
        return context && context->closeFile(numberAt(slots, 0)) ? 1 : 0;
    })
}

RULE_FUNCTION void FreeString(char* text)
{
    std::free(text);
}
