// The header of a message as logical lines: each field with its folded
// continuation lines joined by one space (their leading blanks dropped),
// without line ends, up to the blank line that ends the header.  A field
// grows to at most maxLength characters, then its further continuations
// are dropped; at most maxLines fields are given.
#pragma once

#include "common/CommonExport.h"

#include <cstddef>
#include <string>
#include <vector>

COMMONKIT_API std::vector<std::string> unfoldedHeaderLines(const std::string& message, size_t maxLength,
                                                           size_t maxLines);
