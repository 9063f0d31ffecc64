// fieldPieces: a header field's value cut into its plain stretches and its
// RFC 2047 encoded words ("=?charset?B?text?=", "=?charset?Q?text?="), each
// word decoded to its bytes, which stay in the character set it names (a
// language after "*", RFC 2231, cut off); a plain stretch has no charset.
// Blanks between two encoded words go, as RFC 2047 has it.  A word that is
// not well formed, and everything after it, stays a plain stretch.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct FieldPiece {
    std::string bytes;
    std::string charset;   // empty: the text stood as it is in the field
    bool encoded = false;
};

std::vector<FieldPiece> fieldPieces(std::string_view value);
