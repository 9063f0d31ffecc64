#include "common/WildcardList.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<unsigned char, 256> makeFoldTable()
{
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<size_t>(c)] = static_cast<unsigned char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
    return table;
}

constexpr std::array<unsigned char, 256> kFold = makeFoldTable();

// Letters in lower case, as the pattern language compares them.
inline unsigned char folded(char c)
{
    return kFold[static_cast<unsigned char>(c)];
}

inline uint16_t pairAt(const char* at)
{
    return static_cast<uint16_t>(folded(at[0]) << 8 | folded(at[1]));
}

// Whether text holds the folded word from its third byte on (the first
// two are known to be there).
bool restEquals(const char* text, const std::string& word)
{
    for (size_t i = 2; i < word.size(); ++i)
        if (folded(text[i]) != static_cast<unsigned char>(word[i]))
            return false;
    return true;
}

} // namespace

void WildcardList::index()
{
    m_words.clear();
    m_pairs.reset();
    m_byWord.assign(size(), false);
    std::string word;
    for (size_t i = 0; i < size(); ++i) {
        if (!(*this)[i].isContains(word) || word.size() < 2)
            continue;
        const uint16_t pair = pairAt(word.data());
        m_words.push_back({pair, static_cast<uint32_t>(i), word});
        m_pairs.set(pair);
        m_byWord[i] = true;
    }
    std::stable_sort(m_words.begin(), m_words.end(), [](const Word& a, const Word& b) { return a.pair < b.pair; });
    m_indexed = true;
}

void WildcardList::match(const char* text, size_t length, std::vector<bool>& matched) const
{
    matched.assign(size(), false);
    const bool indexed = m_indexed && m_byWord.size() == size();
    for (size_t i = 0; i < size(); ++i)
        if (!indexed || !m_byWord[i])
            matched[i] = (*this)[i].matches(text, length);
    if (!indexed || m_words.empty() || length < 2 || text == nullptr)
        return;
    size_t left = m_words.size();
    for (size_t at = 0; at + 1 < length && left > 0; ++at) {
        const uint16_t pair = pairAt(text + at);
        if (!m_pairs.test(pair))
            continue;
        auto word = std::lower_bound(m_words.begin(), m_words.end(), pair,
                                     [](const Word& w, uint16_t p) { return w.pair < p; });
        for (; word != m_words.end() && word->pair == pair; ++word) {
            if (matched[word->pattern] || word->text.size() > length - at)
                continue;
            if (restEquals(text + at, word->text)) {
                matched[word->pattern] = true;
                --left;
            }
        }
    }
}
