// ScriptCompiler: the one-pass compiler behind compile() (Compiler.h).
//
// Internal to the engine.  It reads the tokens of the whole text, emits
// instructions into the Program as it goes and throws CompileFailure at the
// first error; compile() turns that into its result.  Statements and
// directives are compiled in Compiler.cpp, expressions and calls in
// ExpressionCompiler.cpp.
#pragma once

#include "scriptkit/Compiler.h"
#include "scriptkit/Lexer.h"
#include "scriptkit/Program.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scriptcompiler {

// Expressions nest at most this deep ("((((1))))", "not not not x"): the
// compiler recurses once per level.
constexpr int kMaxExpressionDepth = 100;
// Blocks (if, for, repeat) open at once at most.
constexpr size_t kMaxOpenBlocks = 100;
// A rule function takes at most 16 arguments: the slot block lives on the
// machine's stack.
constexpr size_t kMaxParameters = 16;

struct CompileFailure {
    ScriptError error;
};

enum class Type { Integer, Text };

inline const char* typeName(Type type)
{
    return type == Type::Integer ? "number" : "text";
}

inline Type typeOf(ValueType type)
{
    return type == ValueType::Integer ? Type::Integer : Type::Text;
}

inline std::string upperCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

struct Variable {
    Type type;
    int slot;
};

struct Constant {
    Type type = Type::Integer;
    int32_t number = 0;
    std::string text;
};

struct Block {
    enum Kind { If, Else, For, Repeat };
    Block(Kind kind, const Token& opener, size_t jump, size_t top = 0)
        : kind(kind), opener(opener), jump(jump), top(top)
    {
    }
    Kind kind;
    Token opener;
    size_t jump;           // instruction to patch when the block moves on
    size_t top;            // start of a loop
    int variable = -1;     // for: the loop variable's slot
    std::string variableKey;
    int stepSlot = -1;
    bool downto = false;
};

struct LabelUse {
    std::string name;
    size_t instruction;
    Token token;
};

class ScriptCompiler
{
public:
    ScriptCompiler(std::string_view text, Program& program);
    void run();

private:
    // Tokens -----------------------------------------------------------------
    const Token& peek(size_t ahead = 0) const;
    Token take();
    std::string spelling(const Token& token) const;
    [[noreturn]] void fail(const Token& at, const std::string& message) const;
    [[noreturn]] void unexpected(const Token& at, const std::string& wanted = {}) const;
    void expectSymbol(const char* symbol);
    void expectKeyword(Keyword keyword);
    void expectLineEnd();
    bool atLineEnd() const { return peek().kind == TokenKind::LineEnd || peek().kind == TokenKind::End; }

    // Code -------------------------------------------------------------------
    size_t emit(Op op, const Token& at, int32_t a = 0, int32_t b = 0, int32_t c = 0, int32_t d = 0, int32_t e = 0);
    int32_t here() const { return static_cast<int32_t>(m_program.code.size()); }
    int newSlot(Type type);
    void emitStore(const Variable& variable, const Token& at);

    // Names ------------------------------------------------------------------
    static std::string variableKey(const Token& name);
    // A variable named by token: a suffixed one comes into being at its first
    // use; a bare one must have been declared.
    std::optional<Variable> findVariable(const Token& name);
    Variable variableFor(const Token& name);
    void defineLabel();

    // Statements ---------------------------------------------------------------
    // simple: the statement stands after 'then' or 'else' of a one-line if,
    // where blocks cannot open or close.
    void statement(bool simple);
    void assignment();
    void declaration();
    void ifStatement(bool simple);
    void elseStatement();
    void endifStatement();
    void forStatement();
    void nextStatement();
    void untilStatement();
    void openBlock(const Block& block);
    void jump();

    // Directives ---------------------------------------------------------------
    void directive();
    ValueType parameterType();
    // #declare NAME(type, ...) [as string | integer | truth]
    void declareFunction();
    // #const NAME = number | -number | "text"
    void defineConstant();

    // Expressions --------------------------------------------------------------
    void requireType(Type got, Type wanted, const Token& at, const std::string& what) const;
    int32_t literal(const Token& token, bool negative) const;
    int32_t textConstant(const std::string& text);
    struct DepthGuard {
        DepthGuard(ScriptCompiler& compiler, const Token& at) : m_compiler(compiler)
        {
            if (++m_compiler.m_depth > kMaxExpressionDepth)
                m_compiler.fail(at, "Expression nested too deeply");
        }
        ~DepthGuard() { --m_compiler.m_depth; }
        ScriptCompiler& m_compiler;
    };
    Type expression();
    Type andExpression();
    Type notExpression();
    std::optional<Comparison> comparisonOf(const Token& token) const;
    Type comparison();
    Type additive();
    Type term();
    Type unary();
    Type primary();
    // A call of a built-in or a declared rule function.  wantValue: the call
    // stands in an expression; otherwise its result, if any, is dropped.
    Type call(bool wantValue);
    void checkArguments(const Token& name, const std::vector<std::pair<Type, Token>>& arguments,
                        const char* parameters) const
    {
        for (size_t i = 0; i < arguments.size(); ++i) {
            const Type wanted = typeOf(static_cast<ValueType>(parameters[i]));
            requireType(arguments[i].first, wanted, arguments[i].second,
                        "argument " + std::to_string(i + 1) + " of '" + name.text + "'");
        }
    }
    void bind(RuleFunction& function, const Token& name);

    std::string_view m_text;
    Program& m_program;
    std::vector<Token> m_tokens;
    size_t m_pos = 0;
    int m_depth = 0;
    std::map<std::string, Variable> m_variables;
    std::map<std::string, Constant> m_constants;
    std::map<std::string, int> m_functions;
    std::map<std::string, int32_t> m_labels;
    std::vector<LabelUse> m_labelUses;
    std::vector<Block> m_blocks;
};

} // namespace scriptcompiler
