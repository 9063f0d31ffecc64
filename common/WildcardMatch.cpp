#include "common/WildcardMatch.h"

#include "common/CEventLog.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr size_t kNone = std::numeric_limits<size_t>::max();

inline char foldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A pattern byte that matches only itself (letters in either case).
inline bool isPlainLiteral(char c)
{
    return c != '\0' && c != '*' && c != '?' && c != '[' && c != '^' && c != '\\';
}

// Tests byte c against the set that starts right after "[" at pattern[p].
// Stores the pattern position after the closing "]" (or the pattern's end)
// into after.
bool setContains(const char* pattern, size_t p, char c, size_t& after)
{
    bool negate = false;
    if (pattern[p] == '^') {
        negate = true;
        ++p;
    }
    bool found = false;
    bool havePrev = false;
    signed char prev = 0;
    const auto sc = static_cast<signed char>(c);
    while (pattern[p] != '\0' && pattern[p] != ']') {
        char ch = pattern[p];
        if (ch == '-') {
            char hi = pattern[p + 1];
            if (havePrev && hi != '\0' && hi != ']') {
                if (sc >= prev && sc <= static_cast<signed char>(hi))
                    found = true;
                p += 2;
                havePrev = false;
            } else {
                ++p;
            }
            continue;
        }
        if (ch == c)
            found = true;
        prev = static_cast<signed char>(ch);
        havePrev = true;
        ++p;
    }
    after = pattern[p] == ']' ? p + 1 : p;
    return found != negate;
}

// Matches one text (or one line of it) against a pattern without prefixes.
class Matcher
{
public:
    Matcher(const char* text, size_t len, const char* pattern)
        : m_text(text), m_len(len), m_pattern(pattern)
    {}

    bool run();
    size_t stop() const { return m_stop; }

private:
    enum class Outcome { Fail, Success, Star };

    // Runs the pattern from p against the text from t up to the next "*" or
    // the pattern's end; nothing in between needs backtracking.
    Outcome segment(size_t t, size_t p, size_t& starPos);

    // The first position from t below limit whose byte is c in either
    // case; limit when there is none.
    size_t nextOf(char c, size_t t, size_t limit) const;

    const char* m_text;
    size_t m_len;
    const char* m_pattern;
    size_t m_stop = 0;
    // For the "*" at pattern position p: the lowest text position from which
    // every continuation is known to fail.  Makes each (star, text position)
    // pair run at most once.
    std::vector<size_t> m_failFrom;
};

Matcher::Outcome Matcher::segment(size_t t, size_t p, size_t& starPos)
{
    for (;;) {
        m_stop = t;
        const char c = m_pattern[p];
        switch (c) {
        case '\0':
            return t == m_len ? Outcome::Success : Outcome::Fail;
        case '*':
            starPos = p;
            return Outcome::Star;
        case '?':
            if (t == m_len)
                return Outcome::Success;
            if (m_text[t] == '\r' || m_text[t] == '\n')
                return Outcome::Fail;
            ++t;
            ++p;
            break;
        case '[': {
            if (t == m_len)
                return Outcome::Fail;
            size_t after = 0;
            if (!setContains(m_pattern, p + 1, m_text[t], after))
                return Outcome::Fail;
            ++t;
            p = after;
            break;
        }
        case '^':
            if (t == 0) {
                ++p;
            } else if (t + 1 < m_len && m_text[t] == '\r' && m_text[t + 1] == '\n') {
                t += 2;
                ++p;
            } else {
                return Outcome::Fail;
            }
            break;
        default: {
            char literal = c;
            size_t next = p + 1;
            if (c == '\\' && m_pattern[p + 1] != '\0') {
                literal = m_pattern[p + 1];
                next = p + 2;
            }
            if (t == m_len || foldCase(m_text[t]) != foldCase(literal))
                return Outcome::Fail;
            ++t;
            p = next;
            break;
        }
        }
    }
}

size_t Matcher::nextOf(char c, size_t t, size_t limit) const
{
    if (t >= limit)
        return limit;
    const char lower = foldCase(c);
    const char upper = (lower >= 'a' && lower <= 'z') ? static_cast<char>(lower - 'a' + 'A') : lower;
    const char* from = m_text + t;
    const size_t size = limit - t;
    const void* atLower = std::memchr(from, lower, size);
    size_t found = atLower ? static_cast<size_t>(static_cast<const char*>(atLower) - m_text) : limit;
    if (upper != lower) {
        // Only up to the lower-case one: a later upper-case one is no use.
        const void* atUpper = std::memchr(from, upper, found - t);
        if (atUpper)
            found = static_cast<size_t>(static_cast<const char*>(atUpper) - m_text);
    }
    return found;
}

bool Matcher::run()
{
    struct Frame {
        size_t star;   // pattern position of the "*"
        size_t start;  // first text position this frame tried
        size_t next;   // next text position to try
    };
    std::vector<Frame> frames;

    size_t starPos = 0;
    Outcome outcome = segment(0, 0, starPos);
    for (;;) {
        if (outcome == Outcome::Success)
            return true;
        if (outcome == Outcome::Star) {
            if (m_pattern[starPos + 1] == '\0')
                return true;
            if (m_failFrom.empty())
                m_failFrom.assign(std::strlen(m_pattern), kNone);
            frames.push_back({starPos, m_stop, m_stop});
        }
        // Try the next text position of the innermost "*" that has one.
        outcome = Outcome::Fail;
        while (!frames.empty()) {
            Frame& f = frames.back();
            if (f.next >= m_len || f.next >= m_failFrom[f.star]) {
                if (f.start < m_failFrom[f.star])
                    m_failFrom[f.star] = f.start;
                frames.pop_back();
                continue;
            }
            // Positions whose byte cannot start the literal after the "*"
            // fail at once in segment(); step over them here.
            const size_t limit = std::min(m_len, m_failFrom[f.star]);
            const char first = m_pattern[f.star + 1];
            if (isPlainLiteral(first)) {
                const size_t t = nextOf(first, f.next, limit);
                if (t > f.next)
                    m_stop = t - 1;
                f.next = t;
                if (t >= limit)
                    continue;
            }
            const size_t t = f.next++;
            outcome = segment(t, f.star + 1, starPos);
            break;
        }
        if (outcome == Outcome::Fail && frames.empty())
            return false;
    }
}

bool matchPlain(const char* text, size_t len, const char* pattern, size_t& stop)
{
    Matcher matcher(text, len, pattern);
    bool matched = matcher.run();
    stop = matcher.stop();
    return matched;
}

bool matchLines(const char* text, size_t len, const char* pattern, size_t& stop)
{
    size_t start = 0;
    for (;;) {
        const char* crlf = nullptr;
        for (size_t i = start; i + 1 < len; ++i) {
            if (text[i] == '\r' && text[i + 1] == '\n') {
                crlf = text + i;
                break;
            }
        }
        const size_t lineEnd = crlf ? static_cast<size_t>(crlf - text) : len;
        size_t lineStop = 0;
        bool matched = matchPlain(text + start, lineEnd - start, pattern, lineStop);
        stop = start + lineStop;
        if (matched)
            return true;
        if (!crlf)
            return false;
        start = lineEnd + 2;
    }
}

// The first place from text where the folded word starts, within length
// bytes; null when there is none.  Candidates are found by the word's first
// byte in either case (memchr), then compared folded.
const char* findFolded(const char* text, size_t length, const std::string& word)
{
    const size_t size = word.size();
    if (size > length)
        return nullptr;
    const char lower = word[0];
    const char upper = (lower >= 'a' && lower <= 'z') ? static_cast<char>(lower - 'a' + 'A') : lower;
    const char* const last = text + (length - size);   // the last place the word can start
    auto next = [&](const char* from, char c) {
        return static_cast<const char*>(std::memchr(from, c, static_cast<size_t>(last - from) + 1));
    };
    const char* atLower = next(text, lower);
    const char* atUpper = upper == lower ? nullptr : next(text, upper);
    while (atLower || atUpper) {
        const char* at = !atUpper || (atLower && atLower < atUpper) ? atLower : atUpper;
        size_t i = 1;
        while (i < size && foldCase(at[i]) == word[i])
            ++i;
        if (i == size)
            return at;
        if (at == atLower)
            atLower = at < last ? next(at + 1, lower) : nullptr;
        else
            atUpper = at < last ? next(at + 1, upper) : nullptr;
    }
    return nullptr;
}

bool equalsFolded(const char* text, const std::string& word)
{
    for (size_t i = 0; i < word.size(); ++i)
        if (foldCase(text[i]) != word[i])
            return false;
    return true;
}

} // namespace

WildcardPattern::WildcardPattern(std::string pattern) : m_text(std::move(pattern))
{
    const char* rest = m_text.c_str();
    if (*rest == '!') {
        m_negated = true;
        ++rest;
    }
    if (*rest == '_')
        return;   // line mode: general (and "!_" is a plain "_")
    const size_t length = std::strlen(rest);
    const bool leading = length > 0 && rest[0] == '*';
    const bool trailing = length > 1 && rest[length - 1] == '*';
    const size_t from = leading ? 1 : 0;
    const size_t to = length - (trailing ? 1 : 0);
    if (to <= from)
        return;   // "*", "**" or empty
    for (size_t i = from; i < to; ++i) {
        if (!isPlainLiteral(rest[i]))
            return;
        m_literal += foldCase(rest[i]);
    }
    m_form = leading ? (trailing ? Form::Contains : Form::Suffix) : (trailing ? Form::Prefix : Form::Exact);
}

bool WildcardPattern::matches(const char* text, size_t length) const
{
    try {
        if (text == nullptr)
            return false;
        const size_t size = m_literal.size();
        bool matched = false;
        switch (m_form) {
        case Form::Contains:
            matched = findFolded(text, length, m_literal) != nullptr;
            break;
        case Form::Prefix:
            matched = length >= size && equalsFolded(text, m_literal);
            break;
        case Form::Suffix:
            matched = length >= size && equalsFolded(text + (length - size), m_literal);
            break;
        case Form::Exact:
            matched = length == size && equalsFolded(text, m_literal);
            break;
        case Form::General: {
            const char* pattern = m_text.c_str();
            size_t stop = 0;
            if (pattern[0] == '!')
                return !matchPlain(text, length, pattern + 1, stop);
            if (pattern[0] == '_')
                return matchLines(text, length, pattern + 1, stop);
            return matchPlain(text, length, pattern, stop);
        }
        }
        return matched != m_negated;
    } catch (...) {
        DebugX("utilities", __LINE__);
        return false;
    }
}

bool WildcardMatch(char* text, const char* pattern, char** end)
{
    try {
        if (text == nullptr || pattern == nullptr)
            return false;
        const size_t len = std::strlen(text);
        size_t stop = 0;
        bool result;
        if (pattern[0] == '!')
            result = !matchPlain(text, len, pattern + 1, stop);
        else if (pattern[0] == '_')
            result = matchLines(text, len, pattern + 1, stop);
        else
            result = matchPlain(text, len, pattern, stop);
        if (end)
            *end = text + stop;
        return result;
    } catch (...) {
        DebugX("utilities", __LINE__);
        return false;
    }
}
