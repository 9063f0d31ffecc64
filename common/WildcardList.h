// WildcardList: the patterns of a list, matched against one text together.
//
// index() finds the "*word*" patterns of two bytes or more among them; a
// match then looks for all of those words in one pass over the text (by
// the pairs of bytes they start with) instead of one pass per pattern,
// and runs the others one by one.  The outcome is each pattern's own
// (WildcardPattern::matches).  A list that was never indexed matches
// pattern by pattern.  Once indexed, a list is read-only: any number of
// threads may match with it.
#pragma once

#include "common/CommonExport.h"
#include "common/WildcardMatch.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class COMMONKIT_API WildcardList : public std::vector<WildcardPattern>
{
public:
    using std::vector<WildcardPattern>::vector;

    // Indexes the patterns as they stand now.
    void index();
    // matched[i]: whether pattern i matches the length bytes at text,
    // which hold no NUL.
    void match(const char* text, size_t length, std::vector<bool>& matched) const;

private:
    struct Word {
        uint16_t pair;   // its first two bytes
        uint32_t pattern;
        std::string text;
    };

    bool m_indexed = false;
    std::vector<Word> m_words;        // sorted by pair
    std::vector<bool> m_byWord;       // pattern i is found through m_words
    std::bitset<65536> m_pairs;       // the pairs words start with
};
