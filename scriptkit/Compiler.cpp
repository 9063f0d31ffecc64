#include "scriptkit/Compiler.h"

#include "scriptkit/Builtins.h"
#include "scriptkit/Lexer.h"
#include "scriptkit/RuleBinding.h"

#include <map>
#include <new>
#include <optional>

namespace {

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

const char* typeName(Type type)
{
    return type == Type::Integer ? "number" : "text";
}

Type typeOf(ValueType type)
{
    return type == ValueType::Integer ? Type::Integer : Type::Text;
}

std::string upperCase(std::string_view text)
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

class Compiler
{
public:
    Compiler(std::string_view text, Program& program) : m_text(text), m_program(program)
    {
        Lexer lexer(text);
        do
            m_tokens.push_back(lexer.next());
        while (m_tokens.back().kind != TokenKind::End);
    }

    void run()
    {
        while (peek().kind != TokenKind::End) {
            if (peek().kind == TokenKind::LineEnd) {
                take();
                continue;
            }
            if (peek().kind == TokenKind::Name && peek().suffix == 0 && peek(1).isSymbol(":") && peek(1).glued)
                defineLabel();
            if (peek().kind != TokenKind::LineEnd && peek().kind != TokenKind::End)
                statement(false);
            expectLineEnd();
        }
        if (!m_blocks.empty()) {
            const Block& open = m_blocks.back();
            static const char* const closers[] = {"'if' without 'endif'", "'else' without 'endif'",
                                                  "'for' without 'next'", "'repeat' without 'until'"};
            fail(open.opener, closers[open.kind]);
        }
        emit(Op::Stop, peek());
        for (const LabelUse& use : m_labelUses) {
            const auto found = m_labels.find(use.name);
            if (found == m_labels.end())
                fail(use.token, "Unknown label '" + use.token.text + "'");
            m_program.code[use.instruction].a = found->second;
        }
    }

private:
    // Tokens -----------------------------------------------------------------

    const Token& peek(size_t ahead = 0) const
    {
        const size_t at = std::min(m_pos + ahead, m_tokens.size() - 1);
        return m_tokens[at];
    }

    Token take()
    {
        const Token& token = peek();
        if (token.kind == TokenKind::Error)
            fail(token, token.text);
        if (m_pos < m_tokens.size() - 1)
            ++m_pos;
        return token;
    }

    std::string spelling(const Token& token) const
    {
        if (token.kind == TokenKind::LineEnd)
            return "end of line";
        if (token.kind == TokenKind::End)
            return "end of script";
        return "'" + std::string(m_text.substr(static_cast<size_t>(token.start),
                                               static_cast<size_t>(token.end - token.start))) + "'";
    }

    [[noreturn]] void fail(const Token& at, const std::string& message) const
    {
        throw CompileFailure{ScriptError{message, at.line, at.start, at.end}};
    }

    [[noreturn]] void unexpected(const Token& at, const std::string& wanted = {}) const
    {
        if (at.kind == TokenKind::Error)
            fail(at, at.text);
        fail(at, wanted.empty() ? "Unexpected " + spelling(at) : "Expected " + wanted + ", found " + spelling(at));
    }

    void expectSymbol(const char* symbol)
    {
        if (!peek().isSymbol(symbol))
            unexpected(peek(), std::string("'") + symbol + "'");
        take();
    }

    void expectKeyword(Keyword keyword)
    {
        if (!peek().is(keyword))
            unexpected(peek(), std::string("'") + keywordName(keyword) + "'");
        take();
    }

    void expectLineEnd()
    {
        if (peek().kind == TokenKind::LineEnd)
            take();
        else if (peek().kind != TokenKind::End)
            unexpected(peek());
    }

    bool atLineEnd() const { return peek().kind == TokenKind::LineEnd || peek().kind == TokenKind::End; }

    // Code -------------------------------------------------------------------

    size_t emit(Op op, const Token& at, int32_t a = 0, int32_t b = 0, int32_t c = 0, int32_t d = 0, int32_t e = 0)
    {
        if (m_program.spans.empty() || m_program.spans.back().start != at.start
            || m_program.spans.back().end != at.end)
            m_program.spans.push_back(SourceSpan{at.line, at.start, at.end});
        m_program.code.push_back(Instruction{op, a, b, c, d, e, static_cast<int32_t>(m_program.spans.size() - 1)});
        return m_program.code.size() - 1;
    }

    int32_t here() const { return static_cast<int32_t>(m_program.code.size()); }

    int newSlot(Type type)
    {
        return type == Type::Integer ? m_program.integerSlots++ : m_program.textSlots++;
    }

    void emitStore(const Variable& variable, const Token& at)
    {
        emit(variable.type == Type::Integer ? Op::StoreInt : Op::StoreText, at, variable.slot);
    }

    // Names ------------------------------------------------------------------

    static std::string variableKey(const Token& name)
    {
        std::string key = upperCase(name.text);
        if (name.suffix)
            key += name.suffix;
        return key;
    }

    // A variable named by token: a suffixed one comes into being at its first
    // use; a bare one must have been declared.
    std::optional<Variable> findVariable(const Token& name)
    {
        const std::string key = variableKey(name);
        const auto found = m_variables.find(key);
        if (found != m_variables.end())
            return found->second;
        if (name.suffix == 0)
            return std::nullopt;
        const Type type = name.suffix == '$' ? Type::Text : Type::Integer;
        const Variable variable{type, newSlot(type)};
        m_variables.emplace(key, variable);
        return variable;
    }

    Variable variableFor(const Token& name)
    {
        if (name.kind != TokenKind::Name)
            unexpected(name, "a variable");
        if (auto variable = findVariable(name))
            return *variable;
        if (m_constants.count(upperCase(name.text)))
            fail(name, "'" + name.text + "' is a constant and cannot be changed");
        fail(name, "Unknown name '" + name.text + "': declare it with 'string' or 'integer', or add $ or %");
    }

    void defineLabel()
    {
        const Token name = take();
        take();   // ':'
        const std::string key = upperCase(name.text);
        if (!m_labels.emplace(key, here()).second)
            fail(name, "Label '" + name.text + "' is defined twice");
    }

    // Statements ---------------------------------------------------------------

    // simple: the statement stands after 'then' or 'else' of a one-line if,
    // where blocks cannot open or close.
    void statement(bool simple)
    {
        const Token& token = peek();
        switch (token.kind) {
        case TokenKind::Directive:
            if (simple)
                unexpected(token);
            directive();
            return;
        case TokenKind::Name:
            if (peek(1).isSymbol("("))
                call(false);
            else
                assignment();
            return;
        case TokenKind::Keyword:
            break;
        default:
            unexpected(token);
        }
        switch (token.keyword) {
        case Keyword::String:
        case Keyword::Integer:
            declaration();
            return;
        case Keyword::If:
            ifStatement(simple);
            return;
        case Keyword::Goto:
        case Keyword::Gosub:
            jump();
            return;
        case Keyword::Return:
            emit(Op::Return, take());
            return;
        case Keyword::Async:
            fail(token, "'async' is reserved and has no meaning yet");
        default:
            break;
        }
        if (simple)
            fail(token, spelling(token) + " cannot stand in a one-line 'if'");
        switch (token.keyword) {
        case Keyword::Else:
            elseStatement();
            return;
        case Keyword::Endif:
            endifStatement();
            return;
        case Keyword::For:
            forStatement();
            return;
        case Keyword::Next:
            nextStatement();
            return;
        case Keyword::Repeat:
            openBlock(Block(Block::Repeat, take(), 0, static_cast<size_t>(here())));
            return;
        case Keyword::Until:
            untilStatement();
            return;
        default:
            unexpected(token);
        }
    }

    void assignment()
    {
        const Token name = take();
        const Variable variable = variableFor(name);
        expectSymbol("=");
        const Token at = peek();
        requireType(expression(), variable.type, at, "the value of " + spelling(name));
        emitStore(variable, name);
    }

    void declaration()
    {
        const Token keyword = take();
        const Type type = keyword.is(Keyword::String) ? Type::Text : Type::Integer;
        for (;;) {
            const Token name = take();
            if (name.kind != TokenKind::Name)
                unexpected(name, "a variable name");
            Variable variable{};
            if (name.suffix) {
                variable = *findVariable(name);
                if (variable.type != type)
                    fail(name, spelling(name) + " is a " + typeName(variable.type) + " variable");
            } else {
                const std::string key = variableKey(name);
                if (m_constants.count(key))
                    fail(name, "'" + name.text + "' is a constant");
                const auto found = m_variables.find(key);
                if (found != m_variables.end() && found->second.type != type)
                    fail(name, "'" + name.text + "' is already declared as a " + typeName(found->second.type));
                if (found == m_variables.end())
                    m_variables.emplace(key, Variable{type, newSlot(type)});
                variable = m_variables.at(key);
            }
            if (peek().isSymbol("=")) {
                take();
                const Token at = peek();
                requireType(expression(), type, at, "the value of " + spelling(name));
            } else if (type == Type::Integer) {
                emit(Op::PushInt, name, 0);
            } else {
                emit(Op::PushText, name, textConstant(""));
            }
            emitStore(variable, name);
            if (!peek().isSymbol(","))
                return;
            take();
        }
    }

    void ifStatement(bool simple)
    {
        const Token keyword = take();
        const Token at = peek();
        requireType(expression(), Type::Integer, at, "a condition");
        expectKeyword(Keyword::Then);
        const size_t skip = emit(Op::JumpIfFalse, keyword);
        if (atLineEnd()) {
            if (simple)
                fail(keyword, "A one-line 'if' needs a statement after 'then'");
            openBlock(Block(Block::If, keyword, skip));
            return;
        }
        statement(true);
        if (peek().is(Keyword::Else)) {
            const Token elseToken = take();
            const size_t over = emit(Op::Jump, elseToken);
            m_program.code[skip].a = here();
            if (atLineEnd())
                fail(elseToken, "A one-line 'if' needs a statement after 'else'");
            statement(true);
            m_program.code[over].a = here();
        } else {
            m_program.code[skip].a = here();
        }
    }

    void elseStatement()
    {
        const Token keyword = take();
        if (m_blocks.empty() || m_blocks.back().kind != Block::If)
            fail(keyword, "'else' without 'if'");
        Block& block = m_blocks.back();
        const size_t over = emit(Op::Jump, keyword);
        m_program.code[block.jump].a = here();
        block.kind = Block::Else;
        block.jump = over;
    }

    void endifStatement()
    {
        const Token keyword = take();
        if (m_blocks.empty() || (m_blocks.back().kind != Block::If && m_blocks.back().kind != Block::Else))
            fail(keyword, "'endif' without 'if'");
        m_program.code[m_blocks.back().jump].a = here();
        m_blocks.pop_back();
    }

    void forStatement()
    {
        const Token keyword = take();
        const Token name = peek();
        const Variable variable = variableFor(take());
        if (variable.type != Type::Integer)
            fail(name, "The 'for' variable must be a number variable");
        expectSymbol("=");
        Token at = peek();
        requireType(expression(), Type::Integer, at, "the start of the loop");
        emitStore(variable, name);

        const bool downto = peek().is(Keyword::Downto);
        if (!downto && !peek().is(Keyword::To))
            unexpected(peek(), "'to' or 'downto'");
        take();
        at = peek();
        requireType(expression(), Type::Integer, at, "the end of the loop");
        const int limitSlot = newSlot(Type::Integer);
        emit(Op::StoreInt, keyword, limitSlot);
        if (peek().is(Keyword::Step)) {
            take();
            at = peek();
            requireType(expression(), Type::Integer, at, "the step");
        } else {
            emit(Op::PushInt, keyword, 1);
        }
        const int stepSlot = newSlot(Type::Integer);
        emit(Op::StoreInt, keyword, stepSlot);

        const size_t top = static_cast<size_t>(here());
        const size_t check = emit(Op::ForCheck, keyword, 0, variable.slot, limitSlot, stepSlot, downto ? 1 : 0);
        Block block(Block::For, keyword, check, top);
        block.variable = variable.slot;
        block.variableKey = variableKey(name);
        block.stepSlot = stepSlot;
        block.downto = downto;
        openBlock(block);
    }

    void nextStatement()
    {
        const Token keyword = take();
        if (m_blocks.empty() || m_blocks.back().kind != Block::For)
            fail(keyword, "'next' without 'for'");
        const Block block = m_blocks.back();
        if (peek().kind == TokenKind::Name) {
            const Token name = take();
            if (variableKey(name) != block.variableKey)
                fail(name, "'next " + name.text + name.suffix + "' does not close the innermost 'for'");
        }
        emit(Op::ForNext, keyword, static_cast<int32_t>(block.top), block.variable, 0, block.stepSlot,
             block.downto ? 1 : 0);
        m_program.code[block.jump].a = here();
        m_blocks.pop_back();
    }

    void untilStatement()
    {
        const Token keyword = take();
        if (m_blocks.empty() || m_blocks.back().kind != Block::Repeat)
            fail(keyword, "'until' without 'repeat'");
        const Token at = peek();
        requireType(expression(), Type::Integer, at, "a condition");
        emit(Op::JumpIfFalse, keyword, static_cast<int32_t>(m_blocks.back().top));
        m_blocks.pop_back();
    }

    void openBlock(const Block& block)
    {
        if (m_blocks.size() >= kMaxOpenBlocks)
            fail(block.opener, "Blocks nested too deeply");
        m_blocks.push_back(block);
    }

    void jump()
    {
        const Token keyword = take();
        if (peek().isSymbol(":"))
            take();
        const Token name = take();
        if (name.kind != TokenKind::Name || name.suffix != 0)
            unexpected(name, "a label");
        const size_t at = emit(keyword.is(Keyword::Goto) ? Op::Jump : Op::Gosub, keyword);
        m_labelUses.push_back(LabelUse{upperCase(name.text), at, name});
    }

    // Directives ---------------------------------------------------------------

    void directive()
    {
        const Token token = take();
        const std::string name = upperCase(token.text);
        if (name == "#DECLARE")
            declareFunction();
        else if (name == "#CONST")
            defineConstant();
        else
            fail(token, "Unknown directive " + spelling(token));
    }

    ValueType parameterType()
    {
        const Token token = take();
        if (token.is(Keyword::String))
            return ValueType::Text;
        if (token.is(Keyword::Integer))
            return ValueType::Integer;
        unexpected(token, "'string' or 'integer'");
    }

    // #declare NAME(type, ...) [as string | integer | truth]
    void declareFunction()
    {
        const Token name = take();
        if (name.kind != TokenKind::Name || name.suffix != 0)
            unexpected(name, "a function name");
        bool builtinName = false;
        findBuiltin(name.text, 0, builtinName);
        if (builtinName)
            fail(name, "'" + name.text + "' is a built-in function");
        RuleFunction function;
        function.name = upperCase(name.text);
        expectSymbol("(");
        if (!peek().isSymbol(")")) {
            for (;;) {
                function.parameters.push_back(parameterType());
                if (function.parameters.size() > kMaxParameters)
                    fail(name, "A function takes at most 16 arguments");
                if (!peek().isSymbol(","))
                    break;
                take();
            }
        }
        expectSymbol(")");
        if (peek().is(Keyword::As)) {
            take();
            const Token result = take();
            if (result.is(Keyword::String))
                function.result = ResultKind::Text;
            else if (result.is(Keyword::Integer))
                function.result = ResultKind::Integer;
            else if (result.kind == TokenKind::Name && result.suffix == 0 && upperCase(result.text) == "TRUTH")
                function.result = ResultKind::Truth;
            else
                unexpected(result, "'string', 'integer' or 'truth'");
        }
        const auto known = m_functions.find(function.name);
        if (known != m_functions.end()) {
            const RuleFunction& earlier = m_program.functions[static_cast<size_t>(known->second)];
            if (earlier.parameters != function.parameters || earlier.result != function.result)
                fail(name, "'" + name.text + "' is declared twice, differently");
            return;
        }
        m_functions.emplace(function.name, static_cast<int>(m_program.functions.size()));
        m_program.functions.push_back(std::move(function));
    }

    // #const NAME = number | -number | "text"
    void defineConstant()
    {
        const Token name = take();
        if (name.kind != TokenKind::Name || name.suffix != 0)
            unexpected(name, "a constant name");
        const std::string key = upperCase(name.text);
        if (m_constants.count(key) || m_variables.count(key))
            fail(name, "'" + name.text + "' is already defined");
        expectSymbol("=");
        Constant constant;
        bool negative = false;
        if (peek().isSymbol("-")) {
            take();
            negative = true;
        }
        const Token value = take();
        if (value.kind == TokenKind::Number) {
            constant.number = literal(value, negative);
        } else if (value.kind == TokenKind::Text && !negative) {
            constant.type = Type::Text;
            constant.text = value.text;
        } else {
            unexpected(value, "a number or a text");
        }
        m_constants.emplace(key, constant);
    }

    // Expressions --------------------------------------------------------------

    void requireType(Type got, Type wanted, const Token& at, const std::string& what) const
    {
        if (got != wanted)
            fail(at, std::string("Type mismatch: ") + what + " must be a " + typeName(wanted) + ", not a " +
                         typeName(got));
    }

    int32_t literal(const Token& token, bool negative) const
    {
        if (!negative && token.number > 2147483647LL)
            fail(token, "Number too large (at most 2147483647)");
        return static_cast<int32_t>(negative ? -token.number : token.number);
    }

    int32_t textConstant(const std::string& text)
    {
        m_program.texts.push_back(text);
        return static_cast<int32_t>(m_program.texts.size() - 1);
    }

    struct DepthGuard {
        DepthGuard(Compiler& compiler, const Token& at) : m_compiler(compiler)
        {
            if (++m_compiler.m_depth > kMaxExpressionDepth)
                m_compiler.fail(at, "Expression nested too deeply");
        }
        ~DepthGuard() { --m_compiler.m_depth; }
        Compiler& m_compiler;
    };

    Type expression()
    {
        DepthGuard guard(*this, peek());
        Type left = andExpression();
        while (peek().is(Keyword::Or) || peek().is(Keyword::Xor)) {
            const Token op = take();
            const Token at = peek();
            requireType(left, Type::Integer, op, spelling(op));
            requireType(andExpression(), Type::Integer, at, spelling(op));
            emit(op.is(Keyword::Or) ? Op::Or : Op::Xor, op);
        }
        return left;
    }

    Type andExpression()
    {
        Type left = notExpression();
        while (peek().is(Keyword::And)) {
            const Token op = take();
            const Token at = peek();
            requireType(left, Type::Integer, op, "'and'");
            requireType(notExpression(), Type::Integer, at, "'and'");
            emit(Op::And, op);
        }
        return left;
    }

    Type notExpression()
    {
        if (!peek().is(Keyword::Not))
            return comparison();
        const Token op = take();
        DepthGuard guard(*this, op);
        const Token at = peek();
        requireType(notExpression(), Type::Integer, at, "'not'");
        emit(Op::Not, op);
        return Type::Integer;
    }

    std::optional<Comparison> comparisonOf(const Token& token) const
    {
        static const std::pair<const char*, Comparison> table[] = {
            {"=", Comparison::Equal},     {"<>", Comparison::NotEqual},  {"<", Comparison::Less},
            {">", Comparison::Greater},   {"<=", Comparison::LessEqual}, {">=", Comparison::GreaterEqual},
        };
        for (const auto& [symbol, comparison] : table) {
            if (token.isSymbol(symbol))
                return comparison;
        }
        return std::nullopt;
    }

    Type comparison()
    {
        const Type left = additive();
        if (peek().is(Keyword::In)) {
            const Token op = take();
            const Token at = peek();
            requireType(left, Type::Text, op, "the left side of 'in'");
            requireType(additive(), Type::Text, at, "the right side of 'in'");
            emit(Op::Contains, op);
            return Type::Integer;
        }
        const auto kind = comparisonOf(peek());
        if (!kind)
            return left;
        const Token op = take();
        const Token at = peek();
        requireType(additive(), left, at, "the right side of " + spelling(op));
        emit(left == Type::Integer ? Op::CompareInt : Op::CompareText, op, static_cast<int32_t>(*kind));
        return Type::Integer;
    }

    Type additive()
    {
        const Type left = term();
        while (peek().isSymbol("+") || peek().isSymbol("-") || peek().isSymbol("&")) {
            const Token op = take();
            const Token at = peek();
            const Type right = term();
            if (op.isSymbol("&") || (op.isSymbol("+") && left == Type::Text)) {
                requireType(left, Type::Text, op, "the left side of " + spelling(op));
                requireType(right, Type::Text, at, "the right side of " + spelling(op));
                emit(Op::Concat, op);
            } else {
                requireType(left, Type::Integer, op, "the left side of " + spelling(op));
                requireType(right, Type::Integer, at, "the right side of " + spelling(op));
                emit(op.isSymbol("+") ? Op::Add : Op::Sub, op);
            }
        }
        return left;
    }

    Type term()
    {
        const Type left = unary();
        while (peek().isSymbol("*") || peek().isSymbol("/")) {
            const Token op = take();
            const Token at = peek();
            requireType(left, Type::Integer, op, "the left side of " + spelling(op));
            requireType(unary(), Type::Integer, at, "the right side of " + spelling(op));
            emit(op.isSymbol("*") ? Op::Mul : Op::Div, op);
        }
        return left;
    }

    Type unary()
    {
        if (!peek().isSymbol("-"))
            return primary();
        const Token op = take();
        if (peek().kind == TokenKind::Number) {
            const Token number = take();
            emit(Op::PushInt, number, literal(number, true));
            return Type::Integer;
        }
        DepthGuard guard(*this, op);
        const Token at = peek();
        requireType(unary(), Type::Integer, at, "the value after '-'");
        emit(Op::Neg, op);
        return Type::Integer;
    }

    Type primary()
    {
        const Token& token = peek();
        switch (token.kind) {
        case TokenKind::Number:
            emit(Op::PushInt, token, literal(token, false));
            take();
            return Type::Integer;
        case TokenKind::Text: {
            const Token text = take();
            emit(Op::PushText, text, textConstant(text.text));
            return Type::Text;
        }
        case TokenKind::Keyword:
            if (token.is(Keyword::True) || token.is(Keyword::False)) {
                emit(Op::PushInt, token, token.is(Keyword::True) ? -1 : 0);
                take();
                return Type::Integer;
            }
            unexpected(token, "a value");
        case TokenKind::Symbol:
            if (token.isSymbol("(")) {
                take();
                const Type type = expression();
                expectSymbol(")");
                return type;
            }
            unexpected(token, "a value");
        case TokenKind::Name:
            break;
        default:
            unexpected(token, "a value");
        }
        if (peek(1).isSymbol("("))
            return call(true);
        const Token name = take();
        if (name.suffix == 0) {
            const auto constant = m_constants.find(upperCase(name.text));
            if (constant != m_constants.end()) {
                if (constant->second.type == Type::Integer)
                    emit(Op::PushInt, name, constant->second.number);
                else
                    emit(Op::PushText, name, textConstant(constant->second.text));
                return constant->second.type;
            }
        }
        const Variable variable = variableFor(name);
        emit(variable.type == Type::Integer ? Op::LoadInt : Op::LoadText, name, variable.slot);
        return variable.type;
    }

    // A call of a built-in or a declared rule function.  wantValue: the call
    // stands in an expression; otherwise its result, if any, is dropped.
    Type call(bool wantValue)
    {
        const Token name = take();
        if (name.suffix != 0)
            fail(name, spelling(name) + " is a variable, not a function");
        take();   // '('
        std::vector<std::pair<Type, Token>> arguments;
        if (!peek().isSymbol(")")) {
            for (;;) {
                const Token at = peek();
                arguments.emplace_back(expression(), at);
                if (!peek().isSymbol(","))
                    break;
                take();
            }
        }
        expectSymbol(")");

        bool builtinName = false;
        const int index = findBuiltin(name.text, arguments.size(), builtinName);
        if (builtinName) {
            if (index < 0)
                fail(name, "Wrong number of arguments for '" + name.text + "'");
            const Builtin& entry = builtin(index);
            checkArguments(name, arguments, entry.parameters);
            emit(Op::CallBuiltin, name, index);
            const Type result = typeOf(entry.result);
            if (!wantValue)
                emit(result == Type::Integer ? Op::PopInt : Op::PopText, name);
            return result;
        }

        const auto declared = m_functions.find(upperCase(name.text));
        if (declared == m_functions.end())
            fail(name, "Unknown function '" + name.text + "': declare it with #declare");
        RuleFunction& function = m_program.functions[static_cast<size_t>(declared->second)];
        std::string parameters;
        for (ValueType type : function.parameters)
            parameters += static_cast<char>(type);
        if (arguments.size() != function.parameters.size())
            fail(name, "Wrong number of arguments for '" + name.text + "'");
        checkArguments(name, arguments, parameters.c_str());
        bind(function, name);
        emit(Op::CallRule, name, declared->second);
        if (function.result == ResultKind::None) {
            if (wantValue)
                fail(name, "'" + name.text + "' gives no value");
            return Type::Integer;
        }
        const Type result = function.result == ResultKind::Text ? Type::Text : Type::Integer;
        if (!wantValue)
            emit(result == Type::Integer ? Op::PopInt : Op::PopText, name);
        return result;
    }

    void checkArguments(const Token& name, const std::vector<std::pair<Type, Token>>& arguments,
                        const char* parameters) const
    {
        for (size_t i = 0; i < arguments.size(); ++i) {
            const Type wanted = typeOf(static_cast<ValueType>(parameters[i]));
            requireType(arguments[i].first, wanted, arguments[i].second,
                        "argument " + std::to_string(i + 1) + " of '" + name.text + "'");
        }
    }

    void bind(RuleFunction& function, const Token& name)
    {
        if (function.address == nullptr) {
            function.address = findExported(function.name);
            if (function.address == nullptr)
                fail(name, "Function '" + function.name + "' is not exported by the program");
        }
        if (function.result == ResultKind::Text && m_program.freeString == nullptr) {
            m_program.freeString = findExported("FreeString");
            if (m_program.freeString == nullptr)
                fail(name, "FreeString is not exported by the program, so '" + function.name +
                               "' cannot return text");
        }
    }

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

} // namespace

bool compile(std::string_view text, Program& program, ScriptError& error)
{
    program = Program{};
    try {
        Compiler compiler(text, program);
        compiler.run();
        return true;
    } catch (const CompileFailure& failure) {
        error = failure.error;
    } catch (const std::bad_alloc&) {
        error = ScriptError{"Out of memory while compiling", 1, 0, 0};
    } catch (const std::exception&) {
        error = ScriptError{"Internal error while compiling", 1, 0, 0};
    }
    program = Program{};
    return false;
}
