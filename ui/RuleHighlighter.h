// RuleHighlighter: the rule editor's syntax colouring.
//
// Each line is coloured on its own, token by token (tokenizeRuleLine); the
// colours are the settings ColourComment ... ColourText of key "/" of the
// proxy's settings hive, read once when the highlighter is made, each an
// unsigned number holding red in its low byte, then green, then blue.  The
// editor shows them made readable on its palette's background (a dark
// theme gets lighter ones).
#pragma once

#include <QColor>
#include <QString>
#include <QSyntaxHighlighter>

#include <array>
#include <vector>

enum class RuleTokenKind {
    Comment,    // "//" to the end of the line
    PreProc,    // a word starting with "#"
    String,     // a double-quoted string, up to the closing quote or the line end
    Label,      // a word starting with ":"
    Jump,       // an identifier ended by ":"
    Function,   // an identifier ended by "("
    IntVar,     // an identifier ended by "%"
    StrVar,     // an identifier ended by "$"
    Keyword,    // a script keyword followed by white space or the line end
    Text,       // anything else that is not white space
};
constexpr int kRuleTokenKinds = 10;

struct RuleToken {
    int start = 0;
    int length = 0;
    RuleTokenKind kind = RuleTokenKind::Text;
    bool operator==(const RuleToken&) const = default;
};

// The tokens of one line of rule text, in order; white space belongs to
// none.  An identifier starts with a letter and runs up to white space or
// one of "$", "%", "(", ":", which ends it and is part of its token; one
// that none of these ends, and that is not a keyword, is Text.  Keywords
// are matched without regard to case.
std::vector<RuleToken> tokenizeRuleLine(const QString& line);

// The colour of each kind: the settings, or their defaults where missing.
struct RuleColours {
    std::array<QColor, kRuleTokenKinds> colours;

    static RuleColours defaults();
    static RuleColours fromSettings();
    // red = low byte of value, then green, then blue.
    static QColor fromValue(unsigned value);
    // The colours made readable on background: one of less than
    // kMinContrast to it (as WCAG measures contrast) is made lighter on a
    // dark background, darker on a light one, until it is; text when no
    // lightness of its hue is.
    static constexpr double kMinContrast = 3.0;
    RuleColours readableOn(const QColor& background, const QColor& text) const;
    const QColor& of(RuleTokenKind kind) const { return colours[static_cast<size_t>(kind)]; }
};

class RuleHighlighter : public QSyntaxHighlighter
{
    Q_OBJECT
public:
    RuleHighlighter(QTextDocument* document, const RuleColours& colours = RuleColours::fromSettings());

protected:
    void highlightBlock(const QString& text) override;

private:
    RuleColours m_colours;
};
