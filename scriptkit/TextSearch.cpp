#include "scriptkit/TextSearch.h"

#include <vector>

namespace {

char fold(char c, bool foldCase)
{
    return foldCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

size_t findText(std::string_view haystack, std::string_view needle, size_t from, bool foldCase)
{
    if (from > haystack.size())
        return std::string_view::npos;
    if (needle.empty())
        return from;
    // Knuth-Morris-Pratt: the failure table says how far the needle can
    // slide after a mismatch without looking at any haystack byte again.
    std::vector<size_t> failure(needle.size(), 0);
    for (size_t i = 1, k = 0; i < needle.size(); ++i) {
        while (k > 0 && fold(needle[i], foldCase) != fold(needle[k], foldCase))
            k = failure[k - 1];
        if (fold(needle[i], foldCase) == fold(needle[k], foldCase))
            ++k;
        failure[i] = k;
    }
    for (size_t i = from, k = 0; i < haystack.size(); ++i) {
        while (k > 0 && fold(haystack[i], foldCase) != fold(needle[k], foldCase))
            k = failure[k - 1];
        if (fold(haystack[i], foldCase) == fold(needle[k], foldCase))
            ++k;
        if (k == needle.size())
            return i + 1 - needle.size();
    }
    return std::string_view::npos;
}
