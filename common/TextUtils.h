// Small text helpers.
//
// stristr: the first case-insensitive (ASCII) occurrence of needle in haystack,
// or null; an empty haystack gives null, an empty needle matches at the start.
// stringLower / stringUpper: convert ASCII letters in place.
// hexDigitValue: 0 to 15 for a hexadecimal digit (either case), else -1.
#pragma once

#include "common/CommonExport.h"

#include <string>

COMMONKIT_EXTERN_C COMMONKIT_API const char* stristr(const char* haystack, const char* needle);

COMMONKIT_API void stringLower(std::string& text);
COMMONKIT_API void stringUpper(std::string& text);
COMMONKIT_API int hexDigitValue(char c);
