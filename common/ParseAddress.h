// ParseAddress: the mail address in a From-style header value.
//
// The value ends at the first CR that does not start a folded line.  When it
// holds "<", the address starts after the first "<", else at the first
// non-blank character; it runs to the end of the value, a space, ">", ",",
// ";", a control byte or a byte >= 0x80, and is at most kMaxAddress
// characters.  White space is removed; no address gives an empty string.
// text is not modified.  Logs the result at level 1024.
#pragma once

#include "common/CommonExport.h"

#include <string>

// At most 158 characters: the longest address the rule functions compare.
inline constexpr size_t kMaxAddress = 158;

COMMONKIT_EXTERN_C COMMONKIT_API void ParseAddress(char* text, std::string& out);
