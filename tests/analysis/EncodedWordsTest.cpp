// A field's value into plain stretches and decoded encoded words.
#include "analysis/EncodedWords.h"

#include <gtest/gtest.h>

namespace {

// The pieces as "charset:bytes" (or "bytes" for a plain stretch), joined by "|".
std::string shown(std::string_view value)
{
    std::string out;
    for (const FieldPiece& piece : fieldPieces(value)) {
        if (!out.empty())
            out += '|';
        out += piece.encoded ? piece.charset + ":" + piece.bytes : piece.bytes;
    }
    return out;
}

TEST(EncodedWords, WordsAreDecodedWithTheirCharsetAndPlainTextStaysAsItIs)
{
    EXPECT_EQ(shown("plain text only"), "plain text only");
    EXPECT_EQ(shown(""), "");
    EXPECT_EQ(shown("Re: =?iso-8859-1?q?Gro=DFe_Auswahl?= today"), "Re: |iso-8859-1:Gro\xDF" "e Auswahl| today");
    EXPECT_EQ(shown("=?UTF-8?B?RnLDvGhsaW5n?="), "UTF-8:Fr\xC3\xBChling");
    // The language of RFC 2231 is no part of the charset.
    EXPECT_EQ(shown("=?utf-8*de?Q?gr=C3=BC=C3=9F?="), "utf-8:gr\xC3\xBC\xC3\x9F");
}

TEST(EncodedWords, BlanksBetweenTwoWordsGoButNotOtherText)
{
    EXPECT_EQ(shown("=?utf-8?q?one?= \t =?koi8-r?q?two?="), "utf-8:one|koi8-r:two");
    EXPECT_EQ(shown("=?utf-8?q?one?= and =?utf-8?q?two?="), "utf-8:one| and |utf-8:two");
    EXPECT_EQ(shown("  =?utf-8?q?lead?="), "  |utf-8:lead");
}

TEST(EncodedWords, AWordNotWellFormedStaysPlainWithAllAfterIt)
{
    EXPECT_EQ(shown("=?broken?x"), "=?broken?x");
    EXPECT_EQ(shown("=?utf-8?q?good?= =?utf-8?q?unended"), "utf-8:good| =?utf-8?q?unended");
    EXPECT_EQ(shown("=?" "?="), "=?" "?=");
    EXPECT_EQ(shown("=?x?b?"), "=?x?b?");
    // Only B and Q are encodings; any other word is text like the rest.
    EXPECT_EQ(shown("a =?utf-8?x?a=41?= b =?utf-8?q?c?="), "a =?utf-8?x?a=41?= b |utf-8:c");
    // Base64 that is not base64 gives what its alphabet characters give.
    EXPECT_EQ(shown("=?utf-8?b?!!!?="), "utf-8:");
}

} // namespace
