// Lexer: cuts a script text into tokens, line by line.
//
// Tokens carry their byte span in the full text and their line (from 1), so
// that every error can point at its source.  Keywords are recognised without
// regard to letter case.  A "//" comment runs to the end of its line; a line
// end is a token of its own.  Bad input (a stray character, an unterminated
// string, a number too large) gives an Error token, which the compiler
// reports; the lexer itself never fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class Keyword {
    None, If, Then, Else, Endif, Goto, And, Or, Xor, True, False, Return, For, To, Step,
    Next, Downto, String, Integer, As, In, Gosub, Repeat, Until, Not, Async,
};

enum class TokenKind {
    End,        // end of the text
    LineEnd,
    Keyword,
    Name,       // a word; suffix tells "$", "%" or none
    Number,
    Text,       // a double-quoted string, value unquoted
    Directive,  // "#word"
    Symbol,     // = <> < > <= >= + - * / & ( ) , :
    Error,
};

struct Token {
    TokenKind kind = TokenKind::End;
    Keyword keyword = Keyword::None;
    char suffix = 0;       // '$' or '%' for a Name that carries one
    std::string text;      // name (without suffix), symbol, directive, string value or error
    int64_t number = 0;
    int line = 1;
    int start = 0;
    int end = 0;
    bool glued = false;    // no white space between this token and the one before

    bool isSymbol(std::string_view symbol) const { return kind == TokenKind::Symbol && text == symbol; }
    bool is(Keyword word) const { return kind == TokenKind::Keyword && keyword == word; }
};

class Lexer
{
public:
    explicit Lexer(std::string_view text) : m_text(text) {}
    Token next();

private:
    std::string_view m_text;
    size_t m_pos = 0;
    int m_line = 1;
};

// The keyword a word spells (any letter case), or None.
Keyword keywordOf(std::string_view word);
const char* keywordName(Keyword keyword);
