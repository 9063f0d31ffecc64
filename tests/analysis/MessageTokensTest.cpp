// The learning classifier's tokens of real message shapes: header fields
// under their names, decoded text parts (quoted-printable, base64, HTML),
// links, structure, and the limits on what is read.
#include "MessageFile.h"

#include "analysis/MessageTokens.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TokenSet tokensOf(const std::string& content)
{
    MessageFile message(content);
    TokenSet tokens;
    tokenizeMessage(message.get(), tokens);
    return tokens;
}

TokenSet tokensOfFixture(const std::string& name)
{
    MessageFile message(MessageFile::FromPath{}, std::string(TEST_MESSAGES) + "/" + name);
    TokenSet tokens;
    tokenizeMessage(message.get(), tokens);
    return tokens;
}

struct Expectation {
    const char* token;
    bool present;
};

void expectTokens(const TokenSet& tokens, const std::vector<Expectation>& table)
{
    for (const Expectation& row : table) {
        SCOPED_TRACE(row.token);
        EXPECT_EQ(tokens.count(row.token) == 1, row.present)
            << "got " << (row.present ? "no " : "") << "token \"" << row.token << "\", want "
            << (row.present ? "it" : "none");
    }
}

TEST(MessageTokens, AMultipartMessageGivesHeaderDecodedTextLinkAndStructureTokens)
{
    expectTokens(tokensOfFixture("learn-alternative.eml"), {
        // header fields under their names, a folded Subject whole
        {"subject:FREE", true},
        {"subject:TODAY", true},
        {"FREE", true},
        {"from:DEAL", true},
        {"from:shop.example.com", true},
        {"from:example.com", true},
        {"return-path:mailer.example.com", true},
        {"received:RELAY", true},
        // other fields' words once, under no name
        {"h:MAILTO", true},
        {"list-help:MAILTO", false},
        // the proxy's own block is not the message's
        {"h:SECRETDETAIL", false},
        {"x-quillfence-pro:SECRETDETAIL", false},
        {"SECRETDETAIL", false},
        // quoted-printable: soft line breaks joined, bytes decoded, case of
        // non-ASCII bytes kept
        {"WONDERFUL", true},
        {"CAF\xC3\xA9", true},
        {"SLASHED", true},
        {"url:www.tracker.example.net", true},
        {"url:example.net", true},
        // base64 HTML: decoded, markup gone, the link's host kept
        {"HIDDEN", true},
        {"TREASURE", true},
        {"HREF", false},
        {"url:click.deals.example.org", true},
        {"url:example.org", true},
        // structure
        {"type:multipart/alternative", true},
        {"type:text/plain", true},
        {"type:text/html", true},
        {"type:application/pdf", true},
        {"charset:utf-8", true},
        {"charset:iso-8859-1", true},
        {"encoding:quoted-printable", true},
        {"encoding:base64", true},
        {"html-only", false},
        // attachments are not text; numbers and short words say nothing
        {"ATTACHMENTWORD", false},
        {"12345", false},
        {"AT", false},
    });
}

TEST(MessageTokens, AnHtmlOnlyMessageWithBareLineFeedsIsMarkedSo)
{
    expectTokens(tokensOfFixture("learn-html-only.eml"), {
        {"html-only", true},
        {"type:text/html", true},
        {"AMAZING", true},
        {"DEAL", true},
        {"FONT", false},
        {"COLOR", false},
        {"url:promo.example.org", true},
        {"from:bulk.example.org", true},
        {"subject:LOOK", true},
    });
}

TEST(MessageTokens, EncodedWordsOfHeaderFieldsAreDecoded)
{
    expectTokens(tokensOf("Subject: =?iso-8859-1?q?Gro=DFe_Auswahl?= und =?utf-8?B?RnLDvGhsaW5n?=\r\n"
                          "From: =?broken?x\r\n\r\nbody\r\n"),
                 {
                     {"subject:GRO\xDF" "E", true},
                     {"subject:AUSWAHL", true},
                     {"subject:UND", true},
                     {"FR\xC3\xBCHLING", true},
                     {"subject:RNLDVGHSAW5N", false},
                     {"from:BROKEN", true},
                 });
}

TEST(MessageTokens, APostThroughAMailingListLeavesOutTheListsFieldsAndFooter)
{
    expectTokens(tokensOfFixture("learn-list-post.eml"), {
        // what the poster wrote
        {"MIRACLE", true},
        {"OVERNIGHT", true},
        {"url:seeds.example.com", true},
        {"subject:CHEAP", true},
        {"from:DESK", true},
        {"from:deals.example.com", true},
        // the envelope and the path stay
        {"return-path:ADMIN@LISTS", true},
        {"received:MAIL", true},
        // the list's own fields do not
        {"h:GARDEN", false},
        {"h:TALK", false},
        {"h:BULK", false},
        {"h:SUBJECT=UNSUBSCRIBE", false},
        {"sender:ADMIN@LISTS", false},
        {"sender:lists.example.org", false},
        // nor its footer, from the rule above the sponsor's lines on
        {"SPONSORED", false},
        {"TREEWARE", false},
        {"url:www.treeware.example.net", false},
        {"LISTINFO", false},
        {"MAILING", false},
    });
}

TEST(MessageTokens, OnlyAListsFooterAtTheEndOfAListPostIsLeftOut)
{
    const std::string listFields = "From: a@b.example\r\nList-Id: <talk.lists.example.org>\r\n\r\n";
    // A signature that names no list is the poster's.
    expectTokens(tokensOf(listFields + "Plain words\r\n-- \r\nJane Gardener\r\nhttp://jane.example.com\r\n"),
                 {{"PLAIN", true}, {"JANE", true}, {"GARDENER", true}, {"url:jane.example.com", true}});
    // A list server's signature-style footer is not.
    expectTokens(tokensOf(listFields + "Plain words\r\n-- \r\nTalk mailing list\r\nhttp://lists.example.org/\r\n"),
                 {{"PLAIN", true}, {"TALK", false}, {"MAILING", false}, {"url:lists.example.org", false}});
    // A rule followed by a list's name far from the end is the poster's text.
    std::string longText = "Opening words\r\n______________________________\r\nOur list of offers\r\n";
    while (longText.size() < 3000)
        longText += "filler text here\r\n";
    expectTokens(tokensOf(listFields + longText + "closing words\r\n"),
                 {{"OPENING", true}, {"OFFERS", true}, {"CLOSING", true}});
    // The same fields and footer on mail that names no list are the sender's.
    expectTokens(tokensOf("From: a@b.example\r\nSender: bulk@mailer.example.com\r\nPrecedence: bulk\r\n\r\n"
                          "Plain words\r\n-- \r\nTalk mailing list\r\n"),
                 {{"h:BULK", true}, {"sender:mailer.example.com", true}, {"TALK", true}, {"MAILING", true}});
}

TEST(MessageTokens, TheSpooledFormGivesTheSameTokensAsTheSavedOne)
{
    const std::string saved = "From: a@b.example\r\nSubject: dots\r\n\r\n.hidden line\r\nplain words\r\n";
    const std::string spooled = "From: a@b.example\r\nSubject: dots\r\n\r\n..hidden line\r\nplain words\r\n.\r\n";
    const TokenSet fromSaved = tokensOf(saved);
    EXPECT_EQ(fromSaved, tokensOf(spooled));
    EXPECT_EQ(fromSaved.count("HIDDEN"), 1u);
}

TEST(MessageTokens, OnlyTheFirstHundredKilobytesOfTextAreRead)
{
    std::string body;
    while (body.size() < kMaxText + 1000)
        body += "alpha beta gamma\r\n";
    const TokenSet single = tokensOf("Subject: long\r\n\r\n" + body + "omega\r\n");
    EXPECT_EQ(single.count("ALPHA"), 1u);
    EXPECT_EQ(single.count("OMEGA"), 0u) << "a word past the limit";

    // The budget is shared by the parts: the second gets what the first left.
    const TokenSet parts = tokensOf(
        "Subject: parts\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\n" + body +
        "\r\n--b\r\nContent-Type: text/plain\r\n\r\nlatecomer\r\n--b--\r\n");
    EXPECT_EQ(parts.count("ALPHA"), 1u);
    EXPECT_EQ(parts.count("LATECOMER"), 0u);
    EXPECT_EQ(parts.count("type:text/plain"), 1u) << "the part's structure still counts";
}

TEST(MessageTokens, AnyBytesGiveBoundedTokensAndNoCrash)
{
    std::mt19937 random(20030705);
    const std::string shapes[] = {
        "Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\nContent-Transfer-Encoding: base64\r\n\r\n",
        "Content-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n<a href=http://",
        "Subject: =?utf-8?b?", "", "From: @@@\r\n\r\nhttp://...\r\n=\r\n"};
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        std::string text = shapes[round % 5];
        const size_t length = random() % 4096;
        for (size_t i = 0; i < length; ++i)
            text += static_cast<char>(random() % 256);
        for (const std::string& token : tokensOf(text)) {
            EXPECT_FALSE(token.empty());
            // The longest prefix ("return-path:") and a host name of 253 bytes.
            EXPECT_LE(token.size(), 12u + 253u);
        }
    }
}

TEST(MessageTokens, AFileThatCannotBeReadGivesNothing)
{
    TokenSet tokens;
    tokenizeMessage(nullptr, tokens);
    EXPECT_TRUE(tokens.empty());
}

} // namespace
