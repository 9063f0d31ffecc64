#include "analysis/WordExtraction.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace {

constexpr unsigned char kDelimiters[] = {
    0x20, 0x09, 0x0D, 0x0A, 0x2E, 0x2C, 0x2F, 0x3C, 0x3E, 0x7B, 0x7D, 0x5C, 0x22, 0x27, 0x21, 0xA3,
    0x24, 0x25, 0x5E, 0x26, 0x2A, 0x28, 0x29, 0x2D, 0x2B, 0x3F, 0x7C, 0x60, 0xAC, 0x5F, 0x3A, 0x3B,
};
static_assert(sizeof kDelimiters == 32);

constexpr std::array<bool, 256> makeDelimiterTable()
{
    std::array<bool, 256> table{};
    for (unsigned char byte : kDelimiters)
        table[byte] = true;
    return table;
}

constexpr std::array<bool, 256> kIsDelimiter = makeDelimiterTable();

// Calls visit with token upper-cased.
template <typename Visit>
void visitUpper(std::string_view token, Visit&& visit)
{
    char upper[kMaxWord];
    for (size_t i = 0; i < token.size(); ++i) {
        const char c = token[i];
        upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    visit(std::string_view(upper, token.size()));
}

void addWord(std::string_view word, WordCounts& counts)
{
    // Most words of a text are repeats: look up before making a string.
    if (auto known = counts.find(word); known != counts.end()) {
        ++known->second;
        return;
    }
    counts.emplace(std::string(word), 1);
}

// The keys of counts in byte order, each put in at the end of words: no
// search of the tree for each.
void addSorted(const WordCounts& counts, WordSet& words)
{
    std::vector<std::string_view> keys;
    keys.reserve(counts.size());
    for (const auto& [word, count] : counts)
        keys.emplace_back(word);
    std::sort(keys.begin(), keys.end());
    for (std::string_view word : keys)
        words.emplace_hint(words.end(), word);
}

// Splits one piece (no CR or LF in it) into tokens.
template <typename Visit>
void tokenise(std::string_view piece, Visit&& visit)
{
    size_t i = 0;
    while (i < piece.size()) {
        while (i < piece.size() && kIsDelimiter[static_cast<unsigned char>(piece[i])])
            ++i;
        const size_t start = i;
        while (i < piece.size() && !kIsDelimiter[static_cast<unsigned char>(piece[i])])
            ++i;
        const size_t length = i - start;
        if (length > 0 && length <= kMaxWord)
            visitUpper(piece.substr(start, length), visit);
    }
}

// Cuts text at CR and LF into pieces of at most kMaxPiece bytes, and each
// piece into words.
template <typename Visit>
void cutWords(std::string_view text, Visit&& visit)
{
    size_t at = 0;
    while (at < text.size()) {
        if (text[at] == '\r' || text[at] == '\n') {
            ++at;
            continue;
        }
        const size_t start = at;
        while (at < text.size() && text[at] != '\r' && text[at] != '\n' && at - start < kMaxPiece)
            ++at;
        tokenise(text.substr(start, at - start), visit);
    }
}

} // namespace

bool isWordDelimiter(unsigned char byte)
{
    return kIsDelimiter[byte];
}

void collectWords(const char* text, WordSet& words, WordCounts& counts)
{
    countWords(text, counts);
    addSorted(counts, words);
}

void countWords(const char* text, WordCounts& counts)
{
    if (text != nullptr)
        cutWords(std::string_view(text), [&](std::string_view word) { addWord(word, counts); });
}

WordSet wordsOf(const WordCounts& counts)
{
    WordSet words;
    addSorted(counts, words);
    return words;
}

void forEachWord(std::string_view text, const std::function<void(std::string_view)>& visit)
{
    cutWords(text.substr(0, std::min(text.size(), text.find('\0'))), visit);
}
