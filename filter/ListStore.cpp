#include "filter/ListStore.h"

#include "analysis/Chunk.h"
#include "analysis/WordExtraction.h"
#include "common/CEventLog.h"
#include "common/ProgramContext.h"
#include "common/StopToken.h"
#include "common/TextUtils.h"
#include "common/UniqueFd.h"
#include "common/WildcardMatch.h"
#include "filter/FilterContext.h"
#include "filter/RuleSet.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

namespace {

// A list held by a writer is tried this often, kRetryPauseMs apart (about
// five seconds in all): a program rewriting a list holds it for moments,
// and a rule that gives up at once would judge the message without it.
constexpr int kOpenAttempts = 100;
constexpr int kRetryPauseMs = 50;

struct ListKind {
    const char* userExtension;
    const char* systemExtension;
};

constexpr ListKind kPatternKind{".lst", ".sls"};
constexpr ListKind kWordKind{".wrd", ".swd"};

enum class Where { Header, Body };

const char* whereName(Where where)
{
    return where == Where::Header ? "header" : "body";
}

std::string cacheKey(const std::string& name)
{
    std::string key = name;
    stringUpper(key);
    return key;
}

bool isListBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool isWordSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool readAll(int fd, std::string& out)
{
    out.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0)
            out.append(buffer, static_cast<size_t>(got));
        else if (got == 0)
            return true;
        else if (errno != EINTR)
            return false;
    }
}

enum class ReadResult { Read, Missing, Unreadable };

// One attempt at the user file, else the system file: Missing only when
// neither exists.  The shared lock keeps a writer that locks the list from
// changing it under the read; a list without a writer's lock is read as it
// stands.
ReadResult readOnce(const std::string& base, const ListKind& kind, std::string& text)
{
    UniqueFd fd(::open((base + kind.userExtension).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd && errno == ENOENT)
        fd.reset(::open((base + kind.systemExtension).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Unreadable;
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0)
        return ReadResult::Unreadable;
    return readAll(fd.get(), text) ? ReadResult::Read : ReadResult::Unreadable;
}

// The text of list name, or false.  A missing list answers at once (it is
// looked for again on the next use, but reported once per reload); one
// that exists but cannot be read now is retried.
bool readList(const std::string& name, const ListKind& kind, std::set<std::string>& notFound,
              std::string& text)
{
    // A list is a file of the rules folder: a name that would lead out of
    // it (a path, a parent) names no list.
    if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos) {
        if (notFound.insert(cacheKey(name)).second)
            CEventLog().LogEvent(2, "List %s not found", name.c_str());
        return false;
    }
    const std::string base = programContext().dataRoot + "/rules/" + name;
    for (int attempt = 1;; ++attempt) {
        switch (readOnce(base, kind, text)) {
        case ReadResult::Read:
            return true;
        case ReadResult::Missing:
            if (notFound.insert(cacheKey(name)).second)
                CEventLog().LogEvent(2, "List %s not found", name.c_str());
            return false;
        case ReadResult::Unreadable:
            break;
        }
        if (attempt == kOpenAttempts || !StopToken::sleepFor(kRetryPauseMs))
            return false;
    }
}

// One pattern per line, exactly as written but for its CR LF or LF end.
PatternList parsePatterns(const std::string& text)
{
    PatternList patterns;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos)
            end = text.size();
        if (end > start && text[end - 1] == '\r')
            --end;
        bool blank = true;
        for (size_t i = start; i < end && blank; ++i)
            blank = isListBlank(text[i]);
        if (!blank)
            patterns.emplace_back(text.substr(start, end - start));
        start = next;
    }
    patterns.index();
    return patterns;
}

// Runs of text between separators, each handed to take until it answers
// true.
template <typename Take>
void forEachWord(std::string_view text, Take take)
{
    size_t p = 0;
    while (p < text.size()) {
        while (p < text.size() && isWordSeparator(text[p]))
            ++p;
        const size_t start = p;
        while (p < text.size() && !isWordSeparator(text[p]))
            ++p;
        if (p > start && take(std::string(text.substr(start, p - start))))
            return;
    }
}

WordList parseWords(const std::string& text)
{
    WordList words;
    forEachWord(text, [&](std::string word) {
        // Longer words can never be found: the message's words stop at kMaxWord.
        if (word.size() <= kMaxWord) {
            stringUpper(word);
            words.insert(std::move(word));
        }
        return false;
    });
    return words;
}

template <typename List>
const List* loadList(const std::string& name, const ListKind& kind, std::mutex& cacheMutex,
                     std::map<std::string, List>& cache, std::set<std::string>& notFound,
                     List (*parse)(const std::string&))
{
    const std::string key = cacheKey(name);
    const std::lock_guard<std::mutex> lock(cacheMutex);
    const auto cached = cache.find(key);
    if (cached != cache.end())
        return &cached->second;
    std::string text;
    if (!readList(name, kind, notFound, text))
        return nullptr;
    return &cache.emplace(key, parse(text)).first->second;
}

// The current chunk of the message being judged, with its header parsed;
// null when the message cannot be opened.
Chunk* currentChunk(FilterContext& context)
{
    if (!context.message.open(context.currentMessage))
        return nullptr;
    return context.message.chunk();
}

// The patterns of list that match the header block or the decoded body, in
// file order; with firstOnly, the search ends at the first.  Each adds a
// detail line.
int patternHits(FilterContext& context, const std::string& list, Where where, bool firstOnly)
{
    const PatternList* patterns = loadPatternList(list);
    if (patterns == nullptr || patterns->empty())
        return 0;
    const char* text = nullptr;
    size_t length = 0;
    if (where == Where::Header) {
        Chunk* chunk = currentChunk(context);
        text = chunk ? chunk->headerText() : nullptr;
        length = text ? chunk->headerLength() : 0;
    } else {
        context.message.decodedBody(text, length);
    }
    if (text == nullptr)
        return 0;
    std::vector<bool> matched;
    patterns->match(text, length, matched);
    int hits = 0;
    for (size_t i = 0; i < patterns->size(); ++i) {
        if (!matched[i])
            continue;
        context.addDetail("Pattern '" + (*patterns)[i].text() + "' from list '" + list + "' matched " +
                          whereName(where));
        ++hits;
        if (firstOnly)
            break;
    }
    return hits;
}

// The words of the current chunk's header or decoded body (the whole
// message fetched for the body), with their counts; null when the message
// cannot be opened.
const WordCounts* messageWords(FilterContext& context, Where where)
{
    if (where == Where::Header) {
        Chunk* chunk = currentChunk(context);
        if (chunk == nullptr)
            return nullptr;
        chunk->parseHeaderWords(context.message.file());
        return &chunk->headerWordCounts();
    }
    if (!context.message.open(context.currentMessage))
        return nullptr;
    context.message.ensureWholeMessage(context.currentMessage);
    // The record may have been opened again on the whole message.
    Chunk* chunk = context.message.chunk();
    if (chunk == nullptr)
        return nullptr;
    chunk->parseBodyWords(context.message.file());
    return &chunk->bodyWordCounts();
}

// The words of list found in the header or body; with firstOnly, only the
// smallest.  The list is walked in its byte order and each word looked up
// in the message's, so that the common words come smallest first.  Each
// adds a detail line.
int wordHits(FilterContext& context, const std::string& list, Where where, bool firstOnly)
{
    const WordList* listWords = loadWordList(list);
    if (listWords == nullptr || listWords->empty())
        return 0;
    const WordCounts* words = messageWords(context, where);
    if (words == nullptr || words->empty())
        return 0;
    const char* detailList = firstOnly ? "' from list '" : "' from word list '";
    int hits = 0;
    for (const std::string& word : *listWords) {
        if (words->find(word) == words->end())
            continue;
        context.addDetail("Found '" + word + detailList + list + "' in " + whereName(where));
        ++hits;
        if (firstOnly)
            break;
    }
    return hits;
}

} // namespace

const PatternList* loadPatternList(const std::string& name)
{
    ListCaches& caches = ruleSet().lists;
    return loadList(name, kPatternKind, caches.mutex, caches.patterns, caches.patternsNotFound, parsePatterns);
}

const WordList* loadWordList(const std::string& name)
{
    ListCaches& caches = ruleSet().lists;
    return loadList(name, kWordKind, caches.mutex, caches.words, caches.wordsNotFound, parseWords);
}

void clearListCaches()
{
    ListCaches& caches = ruleSet().lists;
    const std::lock_guard<std::mutex> lock(caches.mutex);
    caches.patterns.clear();
    caches.words.clear();
    caches.patternsNotFound.clear();
    caches.wordsNotFound.clear();
}

bool listMatchesText(FilterContext& context, const std::string& list, const char* text)
{
    try {
        if (text == nullptr)
            return false;
        const PatternList* patterns = loadPatternList(list);
        if (patterns == nullptr)
            return false;
        const size_t length = std::strlen(text);
        for (const WildcardPattern& pattern : *patterns) {
            if (pattern.matches(text, length)) {
                context.addDetail("Pattern '" + pattern.text() + "' from list '" + list + "' matched '" + text + "'");
                return true;
            }
        }
        return false;
    } catch (...) {
        DebugX("filter", __LINE__);
        return false;
    }
}

bool listMatchesHeader(FilterContext& context, const std::string& list)
{
    try {
        return patternHits(context, list, Where::Header, true) > 0;
    } catch (...) {
        DebugX("filter", __LINE__);
        return false;
    }
}

bool listMatchesBody(FilterContext& context, const std::string& list)
{
    try {
        return patternHits(context, list, Where::Body, true) > 0;
    } catch (...) {
        DebugX("filter", __LINE__);
        return false;
    }
}

int countHeaderPatternHits(FilterContext& context, const std::string& list)
{
    try {
        return patternHits(context, list, Where::Header, false);
    } catch (...) {
        DebugX("filter", __LINE__);
        return 0;
    }
}

int countBodyPatternHits(FilterContext& context, const std::string& list)
{
    try {
        return patternHits(context, list, Where::Body, false);
    } catch (...) {
        DebugX("filter", __LINE__);
        return 0;
    }
}

bool findWordInHeader(FilterContext& context, const std::string& list)
{
    try {
        return wordHits(context, list, Where::Header, true) > 0;
    } catch (...) {
        DebugX("filter", __LINE__);
        return false;
    }
}

bool findWordInBody(FilterContext& context, const std::string& list)
{
    try {
        return wordHits(context, list, Where::Body, true) > 0;
    } catch (...) {
        DebugX("filter", __LINE__);
        return false;
    }
}

int countHeaderWordHits(FilterContext& context, const std::string& list)
{
    try {
        return wordHits(context, list, Where::Header, false);
    } catch (...) {
        DebugX("filter", __LINE__);
        return 0;
    }
}

int countBodyWordHits(FilterContext& context, const std::string& list)
{
    try {
        return wordHits(context, list, Where::Body, false);
    } catch (...) {
        DebugX("filter", __LINE__);
        return 0;
    }
}

bool findWordInString(const std::string& list, const char* text)
{
    try {
        if (text == nullptr)
            return false;
        const WordList* words = loadWordList(list);
        if (words == nullptr)
            return false;
        bool found = false;
        forEachWord(text, [&](std::string word) {
            stringUpper(word);
            found = words->count(word) > 0;
            return found;
        });
        return found;
    } catch (...) {
        DebugX("filter", __LINE__);
        return false;
    }
}
