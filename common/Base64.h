// Base64 (RFC 2045 alphabet, "=" padding).
//
// MimeEncode: writes the file at path to out as base64, 48 input bytes (64
//   characters) per line, each line ended by LF.  1 when done, 0 when the file
//   could not be opened (nothing is written).
// MimeEncodeStr: encodes length bytes (-1: in is a C string) into out without
//   line breaks and NUL-terminates it; out must hold 4 * ceil(length / 3) + 1
//   bytes.
// MimeDecodeLine: decodes the alphabet characters of in, skipping every other
//   byte ("=", white space and line breaks included) wherever it stands;
//   writes the bytes and a NUL to out, which needs room for
//   3 * (strlen(in) / 4) + 3 bytes.  Returns the number of decoded bytes.
// MimeDecodeLineEx: the same across line breaks: the alphabet characters of
//   carry and then in are decoded in whole groups of four; the 0 to 3 left
//   over go back into carry (a C string of at least 4 bytes, empty at first).
#pragma once

#include "common/CommonExport.h"

#include <cstdio>

COMMONKIT_EXTERN_C COMMONKIT_API int MimeEncode(FILE* out, const char* path);
COMMONKIT_EXTERN_C COMMONKIT_API void MimeEncodeStr(const char* in, char* out, int length);
COMMONKIT_EXTERN_C COMMONKIT_API int MimeDecodeLine(const char* in, char* out);
COMMONKIT_EXTERN_C COMMONKIT_API int MimeDecodeLineEx(const char* in, char* out, char* carry);
