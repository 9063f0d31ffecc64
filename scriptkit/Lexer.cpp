#include "scriptkit/Lexer.h"

#include <strings.h>

namespace {

struct KeywordEntry {
    const char* name;
    Keyword keyword;
};

constexpr KeywordEntry kKeywords[] = {
    {"if", Keyword::If},         {"then", Keyword::Then},       {"else", Keyword::Else},
    {"endif", Keyword::Endif},   {"goto", Keyword::Goto},       {"and", Keyword::And},
    {"or", Keyword::Or},         {"xor", Keyword::Xor},         {"true", Keyword::True},
    {"false", Keyword::False},   {"return", Keyword::Return},   {"for", Keyword::For},
    {"to", Keyword::To},         {"step", Keyword::Step},       {"next", Keyword::Next},
    {"downto", Keyword::Downto}, {"string", Keyword::String},   {"integer", Keyword::Integer},
    {"as", Keyword::As},         {"in", Keyword::In},           {"gosub", Keyword::Gosub},
    {"repeat", Keyword::Repeat}, {"until", Keyword::Until},     {"not", Keyword::Not},
    {"async", Keyword::Async},
};

// Numbers are kept up to 2^31 so that -2147483648 can be written; anything
// larger is an error rather than a silently different value.
constexpr int64_t kMaxLiteral = 2147483648LL;

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

Keyword keywordOf(std::string_view word)
{
    for (const KeywordEntry& entry : kKeywords) {
        if (word.size() == std::char_traits<char>::length(entry.name)
            && ::strncasecmp(word.data(), entry.name, word.size()) == 0)
            return entry.keyword;
    }
    return Keyword::None;
}

const char* keywordName(Keyword keyword)
{
    for (const KeywordEntry& entry : kKeywords) {
        if (entry.keyword == keyword)
            return entry.name;
    }
    return "?";
}

Token Lexer::next()
{
    const size_t before = m_pos;
    while (m_pos < m_text.size()) {
        const char c = m_text[m_pos];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
            ++m_pos;
        } else if (c == '/' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '/') {
            while (m_pos < m_text.size() && m_text[m_pos] != '\n')
                ++m_pos;
        } else {
            break;
        }
    }
    Token token;
    token.glued = m_pos == before;
    token.line = m_line;
    token.start = static_cast<int>(m_pos);
    auto finish = [&](TokenKind kind) {
        token.kind = kind;
        token.end = static_cast<int>(m_pos);
        return token;
    };
    if (m_pos >= m_text.size())
        return finish(TokenKind::End);

    const char c = m_text[m_pos];
    if (c == '\n') {
        ++m_pos;
        ++m_line;
        return finish(TokenKind::LineEnd);
    }
    if (isLetter(c)) {
        while (m_pos < m_text.size() && (isLetter(m_text[m_pos]) || isDigit(m_text[m_pos])))
            ++m_pos;
        token.text.assign(m_text.substr(static_cast<size_t>(token.start), m_pos - static_cast<size_t>(token.start)));
        if (m_pos < m_text.size() && (m_text[m_pos] == '$' || m_text[m_pos] == '%')) {
            token.suffix = m_text[m_pos++];
            return finish(TokenKind::Name);
        }
        token.keyword = keywordOf(token.text);
        return finish(token.keyword == Keyword::None ? TokenKind::Name : TokenKind::Keyword);
    }
    if (isDigit(c)) {
        int64_t value = 0;
        while (m_pos < m_text.size() && isDigit(m_text[m_pos])) {
            if (value <= kMaxLiteral)
                value = value * 10 + (m_text[m_pos] - '0');
            ++m_pos;
        }
        if (m_pos < m_text.size() && isLetter(m_text[m_pos])) {
            token.text = "Malformed number";
            return finish(TokenKind::Error);
        }
        if (value > kMaxLiteral) {
            token.text = "Number too large (at most 2147483647)";
            return finish(TokenKind::Error);
        }
        token.number = value;
        return finish(TokenKind::Number);
    }
    if (c == '"') {
        ++m_pos;
        for (;;) {
            if (m_pos >= m_text.size() || m_text[m_pos] == '\n') {
                token.text = "Unterminated string";
                return finish(TokenKind::Error);
            }
            if (m_text[m_pos] == '"') {
                // "" inside a string stands for one quote.
                if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '"') {
                    token.text += '"';
                    m_pos += 2;
                    continue;
                }
                ++m_pos;
                return finish(TokenKind::Text);
            }
            token.text += m_text[m_pos++];
        }
    }
    if (c == '#') {
        ++m_pos;
        while (m_pos < m_text.size() && (isLetter(m_text[m_pos]) || isDigit(m_text[m_pos])))
            ++m_pos;
        token.text.assign(m_text.substr(static_cast<size_t>(token.start), m_pos - static_cast<size_t>(token.start)));
        return finish(TokenKind::Directive);
    }
    for (const char* pair : {"<>", "<=", ">="}) {
        if (m_text.substr(m_pos, 2) == pair) {
            token.text = pair;
            m_pos += 2;
            return finish(TokenKind::Symbol);
        }
    }
    if (std::string_view("=<>+-*/&(),:").find(c) != std::string_view::npos) {
        token.text = std::string(1, c);
        ++m_pos;
        return finish(TokenKind::Symbol);
    }
    ++m_pos;
    token.text = "Unexpected character";
    return finish(TokenKind::Error);
}
