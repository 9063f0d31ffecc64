// The rule editor's colouring: the tokens of sample lines, and the colours
// a document gets from the settings.
#include "RuleFixture.h"

#include "ui/RuleEditor.h"
#include "ui/RuleHighlighter.h"

#include <QApplication>
#include <QPalette>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

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
    const QPalette& palette = editor.editor()->palette();
    const RuleColours colours =
        RuleColours::defaults().readableOn(palette.color(QPalette::Base), palette.color(QPalette::Text));
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

// The contrast of two colours as WCAG measures it.
double contrastOf(const QColor& a, const QColor& b)
{
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST_F(RuleColoursTest, EveryColourIsReadableOnALightAndADarkBackground)
{
    const RuleColours defaults = RuleColours::defaults();
    const QColor white(Qt::white), dark(0x1e, 0x1e, 0x1e);
    const RuleColours onDark = defaults.readableOn(dark, QColor(0xee, 0xee, 0xee));
    const RuleColours onWhite = defaults.readableOn(white, Qt::black);
    for (int kind = 0; kind < kRuleTokenKinds; ++kind) {
        SCOPED_TRACE(kind);
        EXPECT_GE(contrastOf(onDark.colours[kind], dark), RuleColours::kMinContrast);
        EXPECT_GE(contrastOf(onWhite.colours[kind], white), RuleColours::kMinContrast);
        // A colour readable as it is stays as the settings have it.
        if (contrastOf(defaults.colours[kind], white) >= RuleColours::kMinContrast) {
            EXPECT_EQ(onWhite.colours[kind], defaults.colours[kind]);
        }
    }
    // The other text's dark red is lightened on a dark background, its hue kept.
    EXPECT_EQ(onWhite.of(K::Text), QColor(0x80, 0x00, 0x00));
    EXPECT_GT(onDark.of(K::Text).lightness(), defaults.of(K::Text).lightness());
    EXPECT_EQ(onDark.of(K::Text).hslHue(), defaults.of(K::Text).hslHue());
}

TEST_F(RuleColoursTest, TheEditorInADarkThemeShowsLightColours)
{
    writeFile(userPath(), "#rule \"Coloured\"\nplain text\n#endrule\n");
    const QPalette saved = QApplication::palette();
    QPalette darkTheme = saved;
    darkTheme.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    darkTheme.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    QApplication::setPalette(darkTheme);
    {
        RuleEditor editor("Coloured", "5.0", true, true);
        const QTextBlock block = editor.editor()->document()->firstBlock();
        ASSERT_FALSE(block.layout()->formats().isEmpty());
        const QColor shown = block.layout()->formats().front().format.foreground().color();
        EXPECT_GE(contrastOf(shown, QColor(0x1e, 0x1e, 0x1e)), RuleColours::kMinContrast) << shown.name().toStdString();
    }
    QApplication::setPalette(saved);
}

} // namespace
