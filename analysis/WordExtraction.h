// Cutting header and body text into words.
//
// A word is a run of 1 to 40 bytes holding none of the 32 delimiter bytes
// (white space, CR, LF, . , / < > { } \ " ' ! A3 $ % ^ & * ( ) - + ? | ` AC
// _ : ;), upper-cased (ASCII letters only).  The text is first cut at CR and
// LF into pieces of at most kMaxPiece bytes (a longer run is cut there, and a
// word straddling the cut becomes two); tokens longer than kMaxWord bytes are
// not words.  collectWords adds every word of a NUL-terminated text to words
// (once each) and counts its occurrences in counts; a null text adds
// nothing.
// forEachWord calls visit with every word of text[0, length) (a NUL ends it
// early) as collectWords cuts it, upper-cased, in order, repeats included;
// the view lasts only for the call.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

// Words in byte order (the rules' lookups take the smallest first); their
// counts by hash, looked up for every word of a text.
struct WordHash {
    using is_transparent = void;
    size_t operator()(std::string_view word) const { return std::hash<std::string_view>{}(word); }
};
using WordSet = std::set<std::string, std::less<>>;
using WordCounts = std::unordered_map<std::string, int32_t, WordHash, std::equal_to<>>;

// At most 40 bytes: the longest word a rule or a word list can name.
constexpr size_t kMaxWord = 40;
// Pieces of at most 4096 bytes: the tokeniser's fixed line buffer.
constexpr size_t kMaxPiece = 4096;

bool isWordDelimiter(unsigned char byte);
void collectWords(const char* text, WordSet& words, WordCounts& counts);
// collectWords without the set: the words are the keys of counts.
void countWords(const char* text, WordCounts& counts);
// The keys of counts in byte order.
WordSet wordsOf(const WordCounts& counts);
void forEachWord(std::string_view text, const std::function<void(std::string_view)>& visit);
