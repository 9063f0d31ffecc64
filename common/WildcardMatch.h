// WildcardMatch: the pattern language of rules, lists and settings.
//
// A match always covers the whole text (in line mode, one whole line).
//   !rest    negation: true when rest does not match (first character only)
//   _rest    line mode: true when rest matches one of the CR LF separated
//            lines (first character only; the last line runs to the end)
//   *        any run of characters, CR and LF included; a "*" followed by more
//            pattern never matches at the very end of the text
//   ?        any one character but CR and LF; reached at the end of the text it
//            ends the whole match with success
//   [set]    one character of the set, [^set] one not in it; ranges such as
//            a-z compare bytes as signed values; membership is case-sensitive;
//            a "-" with no character before or after it is ignored
//   ^        the start of the text or line (consumes nothing) or a CR LF pair
//            (consumed); fails anywhere else
//   \c       c taken as an ordinary character; a trailing "\" is itself
//   other    the same character, ASCII letters compared case-insensitively
//
// The text is not modified.  Time is bounded by text length x pattern length,
// whatever the pattern.  When end is not null it receives the text position
// where matching stopped.  Never throws; an internal failure gives false.
//
// WildcardPattern is a pattern analysed once for matching many texts, with
// the same outcome as WildcardMatch.  The forms most lists hold, "*word*",
// "*word", "word*" and "word" (each of characters that match only
// themselves, optionally negated with "!"), are searched for directly;
// every other pattern runs as WildcardMatch runs it.
#pragma once

#include "common/CommonExport.h"

#include <cstddef>
#include <string>

COMMONKIT_EXTERN_C COMMONKIT_API bool WildcardMatch(char* text, const char* pattern,
                                                    char** end = nullptr);

class COMMONKIT_API WildcardPattern
{
public:
    // Implicit: a list of patterns is built from its lines.
    WildcardPattern(std::string pattern);
    WildcardPattern(const char* pattern) : WildcardPattern(std::string(pattern ? pattern : "")) {}

    const std::string& text() const { return m_text; }
    // WildcardMatch(text, pattern) for the length bytes at text, which hold
    // no NUL (length is the text's strlen).
    bool matches(const char* text, size_t length) const;

    bool operator==(const WildcardPattern& other) const { return m_text == other.m_text; }
    // A "*word*" pattern (not negated): true, with the word, letters in
    // lower case, into word.
    bool isContains(std::string& word) const
    {
        word = m_literal;
        return m_form == Form::Contains && !m_negated;
    }

private:
    enum class Form { General, Contains, Prefix, Suffix, Exact };

    std::string m_text;
    Form m_form = Form::General;
    bool m_negated = false;
    std::string m_literal;   // Contains to Exact: the word, letters in lower case
};
