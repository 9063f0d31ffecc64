#include "analysis/WordExtraction.h"

#include <array>
#include <string_view>

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

void addWord(std::string_view token, WordSet& words, WordCounts& counts)
{
    char upper[kMaxWord];
    for (size_t i = 0; i < token.size(); ++i) {
        const char c = token[i];
        upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    const std::string_view word(upper, token.size());
    // Most words of a text are repeats: look up before making a string.
    if (auto known = counts.find(word); known != counts.end()) {
        ++known->second;
        return;
    }
    counts.emplace(std::string(word), 1);
    words.emplace(word);
}

// Splits one piece (no CR or LF in it) into tokens.
void tokenise(std::string_view piece, WordSet& words, WordCounts& counts)
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
            addWord(piece.substr(start, length), words, counts);
    }
}

} // namespace

bool isWordDelimiter(unsigned char byte)
{
    return kIsDelimiter[byte];
}

void collectWords(const char* text, WordSet& words, WordCounts& counts)
{
    if (text == nullptr)
        return;
    const char* p = text;
    while (*p != '\0') {
        if (*p == '\r' || *p == '\n') {
            ++p;
            continue;
        }
        const char* start = p;
        while (*p != '\0' && *p != '\r' && *p != '\n' && static_cast<size_t>(p - start) < kMaxPiece)
            ++p;
        tokenise(std::string_view(start, static_cast<size_t>(p - start)), words, counts);
    }
}
