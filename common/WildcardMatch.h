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
#pragma once

#include "common/CommonExport.h"

COMMONKIT_EXTERN_C COMMONKIT_API bool WildcardMatch(char* text, const char* pattern,
                                                    char** end = nullptr);
