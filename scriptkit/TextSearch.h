// Finding one text in another in time proportional to their lengths, so that
// no pair of texts a script can build makes a search take quadratic time.
// foldCase compares ASCII letters without regard to case.  Returns the
// position of the first occurrence at or after from, or npos.
#pragma once

#include <string_view>

size_t findText(std::string_view haystack, std::string_view needle, size_t from, bool foldCase);
