// fieldPieces: a header field's value cut into its plain stretches and its
// RFC 2047 encoded words ("=?charset?B?text?=", "=?charset?Q?text?="), each
// word decoded to its bytes, which stay in the character set it names (a
// language after "*", RFC 2231, cut off); a plain stretch has no charset.
// Blanks between two encoded words go, as RFC 2047 has it.  A word in an
// encoding other than B or Q stays plain text; one that is not well formed
// stays plain text with everything after it.  Adjacent plain text is one
// piece.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct FieldPiece {
    std::string bytes;
    std::string charset;   // of an encoded word
    bool encoded = false;  // false: the text stood as it is in the field
};

std::vector<FieldPiece> fieldPieces(std::string_view value);
