#include "ui/RuleHighlighter.h"

#include "common/SettingValues.h"
#include "ui/SettingsKey.h"

#include <QTextCharFormat>

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kKeywords[] = {
    "if",     "then",   "else",    "endif", "goto", "and",    "or",    "xor",   "true",
    "false",  "return", "for",     "to",    "step", "next",   "downto", "string", "integer",
    "as",     "in",     "gosub",   "repeat", "until", "not",  "async",
};

// The settings, in the order of RuleTokenKind.
constexpr Setting kColourSettings[kRuleTokenKinds] = {
    Setting::ColourComment, Setting::ColourPreProc,  Setting::ColourString, Setting::ColourLabel,
    Setting::ColourJump,    Setting::ColourFunction, Setting::ColourIntVar, Setting::ColourStrVar,
    Setting::ColourKeyword, Setting::ColourText,
};

bool isKeyword(const QString& word)
{
    for (const char* keyword : kKeywords)
        if (word.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool isIdentifierEnd(QChar c)
{
    return c.isSpace() || c == u'$' || c == u'%' || c == u'(' || c == u':';
}

// The end of the word starting at start: the next white space.
int wordEnd(const QString& line, int start)
{
    int end = start + 1;
    while (end < line.size() && !line[end].isSpace())
        ++end;
    return end;
}

} // namespace

std::vector<RuleToken> tokenizeRuleLine(const QString& line)
{
    std::vector<RuleToken> tokens;
    const int size = static_cast<int>(line.size());
    int i = 0;
    auto add = [&](int end, RuleTokenKind kind) {
        tokens.push_back({i, end - i, kind});
        i = end;
    };
    while (i < size) {
        const QChar c = line[i];
        if (c.isSpace()) {
            ++i;
        } else if (c == u'/' && i + 1 < size && line[i + 1] == u'/') {
            add(size, RuleTokenKind::Comment);
        } else if (c == u'#') {
            add(wordEnd(line, i), RuleTokenKind::PreProc);
        } else if (c == u'"') {
            const int close = static_cast<int>(line.indexOf(u'"', i + 1));
            add(close < 0 ? size : close + 1, RuleTokenKind::String);
        } else if (c == u':') {
            add(wordEnd(line, i), RuleTokenKind::Label);
        } else if (c.isLetter()) {
            int end = i + 1;
            while (end < size && !isIdentifierEnd(line[end]))
                ++end;
            const QChar ender = end < size ? line[end] : QChar();
            if (ender == u':')
                add(end + 1, RuleTokenKind::Jump);
            else if (ender == u'(')
                add(end + 1, RuleTokenKind::Function);
            else if (ender == u'$')
                add(end + 1, RuleTokenKind::StrVar);
            else if (ender == u'%')
                add(end + 1, RuleTokenKind::IntVar);
            else
                add(end, isKeyword(line.mid(i, end - i)) ? RuleTokenKind::Keyword : RuleTokenKind::Text);
        } else {
            add(i + 1, RuleTokenKind::Text);
        }
    }
    return tokens;
}

QColor RuleColours::fromValue(unsigned value)
{
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

namespace {

// Relative luminance, as WCAG defines it.
double luminance(const QColor& colour)
{
    auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

RuleColours RuleColours::readableOn(const QColor& background, const QColor& text) const
{
    RuleColours result = *this;
    const bool dark = luminance(background) < 0.18;
    for (QColor& colour : result.colours) {
        if (contrast(colour, background) >= kMinContrast)
            continue;
        const QColor hsl = colour.toHsl();
        QColor found = text;
        for (int step = 1; step <= 20; ++step) {
            const double lightness = std::clamp(hsl.lightnessF() + (dark ? 0.05 : -0.05) * step, 0.0, 1.0);
            const QColor candidate = QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), lightness);
            if (contrast(candidate, background) >= kMinContrast) {
                found = candidate.toRgb();
                break;
            }
        }
        colour = found;
    }
    return result;
}

RuleColours RuleColours::defaults()
{
    RuleColours result;
    for (int kind = 0; kind < kRuleTokenKinds; ++kind)
        result.colours[kind] = fromValue(static_cast<unsigned>(settingDefault(kColourSettings[kind])));
    return result;
}

RuleColours RuleColours::fromSettings()
{
    RuleColours result = defaults();
    CRegistry reg;
    if (!reg.OpenKey(programContext().settingsHive, "quilfpro", "/", false))
        return result;
    for (int kind = 0; kind < kRuleTokenKinds; ++kind) {
        const unsigned value = static_cast<unsigned>(settingNumber(reg, kColourSettings[kind]));
        result.colours[kind] = fromValue(value);
    }
    return result;
}

RuleHighlighter::RuleHighlighter(QTextDocument* document, const RuleColours& colours)
    : QSyntaxHighlighter(document), m_colours(colours)
{
}

void RuleHighlighter::highlightBlock(const QString& text)
{
    for (const RuleToken& token : tokenizeRuleLine(text)) {
        QTextCharFormat format;
        format.setForeground(m_colours.of(token.kind));
        setFormat(token.start, token.length, format);
    }
}
