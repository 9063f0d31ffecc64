// Small text helpers for building and reading POP3 lines.
#pragma once

#include <string>

// printf into a string of at most 1023 characters (POP3 lines are shorter).
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// ASCII case-insensitive prefix test, as for "+OK" and "-ERR".
bool beginsWith(const std::string& text, const char* prefix);
