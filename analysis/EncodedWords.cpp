#include "analysis/EncodedWords.h"

#include "analysis/BodyDecoding.h"
#include "common/Base64.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

// Plain text joins a plain piece before it.
void appendPlain(std::vector<FieldPiece>& pieces, std::string_view text)
{
    if (text.empty())
        return;
    if (!pieces.empty() && !pieces.back().encoded)
        pieces.back().bytes.append(text);
    else
        pieces.push_back({std::string(text), std::string(), false});
}

} // namespace

std::vector<FieldPiece> fieldPieces(std::string_view value)
{
    std::vector<FieldPiece> pieces;
    size_t at = 0;
    while (at < value.size()) {
        const size_t start = value.find("=?", at);
        if (start == std::string_view::npos)
            break;
        // "=?" charset "?" encoding "?" text "?="
        const size_t charsetEnd = value.find('?', start + 2);
        if (charsetEnd == std::string_view::npos || charsetEnd + 2 >= value.size() || value[charsetEnd + 2] != '?')
            break;
        const size_t textEnd = value.find("?=", charsetEnd + 3);
        if (textEnd == std::string_view::npos)
            break;
        const char encoding = static_cast<char>(std::tolower(static_cast<unsigned char>(value[charsetEnd + 1])));
        if (encoding != 'b' && encoding != 'q') {
            // Not an encoded word: it stays as it stands, with what went before.
            appendPlain(pieces, value.substr(at, textEnd + 2 - at));
            at = textEnd + 2;
            continue;
        }
        const std::string_view between = value.substr(at, start - at);
        const bool afterWord = !pieces.empty() && pieces.back().encoded;
        if (!(afterWord && between.find_first_not_of(" \t\r\n") == std::string_view::npos))
            appendPlain(pieces, between);
        std::string text(value.substr(charsetEnd + 3, textEnd - charsetEnd - 3));
        if (encoding == 'b') {
            std::string decoded(3 * (text.size() / 4) + 3, '\0');
            decoded.resize(static_cast<size_t>(MimeDecodeLine(text.c_str(), decoded.data())));
            text = std::move(decoded);
        } else {
            std::replace(text.begin(), text.end(), '_', ' ');
            text.resize(decodeQuotedPrintable(text.data(), text.size(), text.data()));
        }
        std::string charset(value.substr(start + 2, charsetEnd - start - 2));
        charset = charset.substr(0, charset.find('*'));
        pieces.push_back({std::move(text), std::move(charset), true});
        at = textEnd + 2;
    }
    if (at < value.size())
        appendPlain(pieces, value.substr(at));
    return pieces;
}
