// The decoders a chunk applies to its body, each over a buffer it is given.
//
// decodeQuotedPrintable: "=" CR LF (or "=" LF) is a soft line break and gives
//   nothing; "=" and two hex digits (either case) give that byte; "=" and
//   anything else is kept as it stands, and decoding goes on after the "=".
//   Every other byte is copied.  Writes at most length bytes to out and
//   returns how many; out may be in itself (the output never overtakes the
//   input).  No NUL is written.
// decodeBase64Lines: decodes text[0, length) in place, each line (ended by LF)
//   on its own with MimeDecodeLine: bytes outside the alphabet are skipped
//   and a line's unfinished group gives what bytes it can.  text must hold
//   length + 1 bytes (text[length] is the terminator and is restored); the
//   result is NUL-terminated and its length returned.
// stripMarkup: drops markup from a NUL-terminated text in place.  The break
//   tags "<br>", "<td>", "</td>", "<p>", "<li>" and "<hr>" (any letter case)
//   become one space; any other "<...>" vanishes, and a "<" with no ">" after
//   it drops the rest of the text.  Returns the new length; the text is
//   NUL-terminated there.
#pragma once

#include <cstddef>

size_t decodeQuotedPrintable(const char* in, size_t length, char* out);
size_t decodeBase64Lines(char* text, size_t length);
size_t stripMarkup(char* text);
