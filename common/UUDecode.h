// UUDecodeLine: one line of uuencoded data.
//
// Returns the line's byte count when the line is exactly that much uuencoded
// data followed by nothing but white space, else 0 ("end", blank lines and
// other text give 0).  out is not NUL-terminated and must hold
// kMaxUUDecodedLine bytes.
#pragma once

#include "common/CommonExport.h"

#include <cstddef>

// The count character is at most 0x7F, so a line never decodes to more than
// 0x5F bytes; three more cover the last group.
inline constexpr size_t kMaxUUDecodedLine = 0x5F + 3;

COMMONKIT_EXTERN_C COMMONKIT_API int UUDecodeLine(const char* in, char* out);
