// The rule editor's colouring: the tokens of sample lines, and the colours
// a document gets from the settings.
#include "RuleFixture.h"

#include "ui/RuleEditor.h"
#include "ui/RuleHighlighter.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace {

using K = RuleTokenKind;

// Token kinds as letters, one per character of the line ("." no token).
std::string kindsOf(const QString& line)
{
    static const char letters[] = "cpslJFISkt";   // in RuleTokenKind order
    std::string map(static_cast<size_t>(line.size()), '.');
    for (const RuleToken& token : tokenizeRuleLine(line))
        for (int i = token.start; i < token.start + token.length; ++i)
            map[static_cast<size_t>(i)] = letters[static_cast<int>(token.kind)];
    return map;
}

TEST(RuleTokens, EachKindOnSampleLines)
{
    const struct {
        const char* line;
        const char* kinds;
    } cases[] = {
        {"// a comment if then", "cccccccccccccccccccc"},
        {"#declare ISSPAM()", "pppppppp.FFFFFFFt"},
        {"if HeaderFieldExists(\"From\") then", "kk.FFFFFFFFFFFFFFFFFFsssssst.kkkk"},
        {"  x$ = \"unclosed", "..SS.t.sssssssss"},
        {"n% = n% + 1 // count", "II.t.II.t.t.cccccccc"},
        {"goto done", "kkkk.tttt"},
        {"done:", "JJJJJ"},
        {":label here", "llllll.tttt"},
        {"ENDIF", "kkkkk"},
        {"Endif)", "tttttt"},
        {"Return", "kkkkkk"},
        {"async x", "kkkkk.t"},
        {"iffy then", "tttt.kkkk"},
        {"a/b", "ttt"},
        {"\t3 * 4", ".t.t.t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(kindsOf(c.line), c.kinds);
    }
}

TEST(RuleTokens, TokensAreWholeAndInOrder)
{
    const std::vector<RuleToken> want = {
        {0, 2, K::Keyword}, {3, 3, K::StrVar}, {7, 1, K::Text}, {9, 5, K::String}, {15, 4, K::Keyword},
        {20, 6, K::Jump},
    };
    EXPECT_EQ(tokenizeRuleLine("if s1$ = \"abc\" then again:"), want);
    EXPECT_TRUE(tokenizeRuleLine("   \t ").empty());
}

class RuleColoursTest : public RuleFixture
{
};

TEST_F(RuleColoursTest, DefaultsAndSettingsInRedGreenBlueByteOrder)
{
    const RuleColours defaults = RuleColours::fromSettings();
    EXPECT_EQ(defaults.of(K::Comment), QColor(0x33, 0xCC, 0x00));
    EXPECT_EQ(defaults.of(K::PreProc), QColor(0x80, 0x80, 0x00));
    EXPECT_EQ(defaults.of(K::String), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(defaults.of(K::Label), QColor(0x99, 0x33, 0xCC));
    EXPECT_EQ(defaults.of(K::Jump), QColor(0xFF, 0x66, 0xCC));
    EXPECT_EQ(defaults.of(K::Function), QColor(0xFF, 0x00, 0xFF));
    EXPECT_EQ(defaults.of(K::IntVar), QColor(0x66, 0x99, 0xCC));
    EXPECT_EQ(defaults.of(K::StrVar), QColor(0x66, 0xCC, 0xFF));
    EXPECT_EQ(defaults.of(K::Keyword), QColor(0xFF, 0x00, 0x00));
    EXPECT_EQ(defaults.of(K::Text), QColor(0x80, 0x00, 0x00));

    {
        CRegistry reg;
        ASSERT_TRUE(openSettingsKey(reg));
        reg.SetValue("ColourKeyword", 0xFF0000u);   // blue
        reg.SetValue("ColourComment", 0x010203u);
    }
    const RuleColours set = RuleColours::fromSettings();
    EXPECT_EQ(set.of(K::Keyword), QColor(0, 0, 0xFF));
    EXPECT_EQ(set.of(K::Comment), QColor(3, 2, 1));
    EXPECT_EQ(set.of(K::Text), defaults.of(K::Text));
    CRegistry reg;
    ASSERT_TRUE(openSettingsKey(reg));
    reg.DeleteValue("ColourKeyword");
    reg.DeleteValue("ColourComment");
}

TEST_F(RuleColoursTest, TheEditorColoursTheRuleTokenByToken)
{
    writeFile(userPath(), "#rule \"Coloured\"\n#declare ISSPAM()\nif x% then // why\n#endrule\n");
    RuleEditor editor("Coloured", "5.0", true, true);
    QTextDocument& document = *editor.editor()->document();
    const RuleColours colours = RuleColours::defaults();
    auto colourAt = [&](int blockNumber, int position) -> QColor {
        const QTextBlock block = document.findBlockByNumber(blockNumber);
        for (const QTextLayout::FormatRange& range : block.layout()->formats())
            if (position >= range.start && position < range.start + range.length)
                return range.format.foreground().color();
        return QColor();
    };
    EXPECT_EQ(colourAt(0, 0), colours.of(K::PreProc));
    EXPECT_EQ(colourAt(0, 9), colours.of(K::Function));
    EXPECT_EQ(colourAt(0, 16), colours.of(K::Text));
    EXPECT_EQ(colourAt(1, 0), colours.of(K::Keyword));
    EXPECT_EQ(colourAt(1, 4), colours.of(K::IntVar));
    EXPECT_EQ(colourAt(1, 6), colours.of(K::Keyword));
    EXPECT_EQ(colourAt(1, 14), colours.of(K::Comment));
    EXPECT_FALSE(colourAt(1, 2).isValid()) << "white space is not coloured";

    // An edit colours its line again.
    QTextCursor cursor(document.findBlockByNumber(1));
    cursor.insertText("goto ");
    EXPECT_EQ(colourAt(1, 0), colours.of(K::Keyword));
    EXPECT_EQ(colourAt(1, 5), colours.of(K::Keyword));
    EXPECT_EQ(colourAt(1, 8), colours.of(K::IntVar));
}

} // namespace
