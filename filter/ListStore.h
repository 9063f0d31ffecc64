// Pattern lists (.lst, .sls) and word lists (.wrd, .swd) in the data root's
// rules folder, and the matching procedures the rule functions call.
//
// Lists are loaded on first use and cached under the upper-cased name in the
// calling thread's RuleSet (so afresh for each session, whose set is new)
// until clearListCaches(); the user file (.lst, .wrd) wins over the system
// file (.sls, .swd).  A list that does
// not exist answers at once (logged once per reload at level 2); one held
// by a writer is retried for about five seconds.  Lines are read whole
// (however long); a pattern list keeps one pattern per non-blank line, a
// word list the distinct upper-cased words of 1 to 40 bytes.
//
// A set's caches are locked: the rule editor's test run may load lists on
// another thread.  A list, once loaded, is never changed until
// clearListCaches(), which is for tests and commands, on a set no other
// thread uses.
// Every hit adds a detail line to the context (FilterContext::addDetail).
#pragma once

#include "common/WildcardList.h"

#include <set>
#include <string>
#include <vector>

class FilterContext;

// Each pattern analysed, and the list indexed, as the list is loaded, not
// as each message is judged.
using PatternList = WildcardList;
using WordList = std::set<std::string>;

// The cached list, or null when neither file can be read.
const PatternList* loadPatternList(const std::string& name);
const WordList* loadWordList(const std::string& name);
// Empties the calling thread's set's caches.
void clearListCaches();

// MATCHESLISTITEM: the first pattern of list that text matches.
bool listMatchesText(FilterContext& context, const std::string& list, const char* text);
// HEADERMATCHESLISTITEM, BODYMATCHESLISTITEM: against the current chunk's
// header block, or (the whole message fetched) its decoded body.
bool listMatchesHeader(FilterContext& context, const std::string& list);
bool listMatchesBody(FilterContext& context, const std::string& list);
// COUNTHEADERPATTERNLISTHITS, COUNTBODYPATTERNLISTHITS: every pattern that
// matches counts.
int countHeaderPatternHits(FilterContext& context, const std::string& list);
int countBodyPatternHits(FilterContext& context, const std::string& list);
// FINDWORDINHEADER, FINDWORDINBODY: the smallest common word (byte order).
bool findWordInHeader(FilterContext& context, const std::string& list);
bool findWordInBody(FilterContext& context, const std::string& list);
// COUNTHEADERWORDLISTHITS, COUNTBODYWORDLISTHITS: distinct common words.
int countHeaderWordHits(FilterContext& context, const std::string& list);
int countBodyWordHits(FilterContext& context, const std::string& list);
// FINDWORDINSTRING: a word of text (split at blank, tab, CR, LF) in list.
bool findWordInString(const std::string& list, const char* text);
