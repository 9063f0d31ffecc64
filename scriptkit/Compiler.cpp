// The compiler's frame, its statements and its directives.
#include "scriptkit/ScriptCompiler.h"

#include "scriptkit/Builtins.h"

#include <new>

namespace scriptcompiler {

ScriptCompiler::ScriptCompiler(std::string_view text, Program& program) : m_text(text), m_program(program)
{
    Lexer lexer(text);
    do
        m_tokens.push_back(lexer.next());
    while (m_tokens.back().kind != TokenKind::End);
}

void ScriptCompiler::run()
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

const Token& ScriptCompiler::peek(size_t ahead) const
{
    const size_t at = std::min(m_pos + ahead, m_tokens.size() - 1);
    return m_tokens[at];
}

Token ScriptCompiler::take()
{
    const Token& token = peek();
    if (token.kind == TokenKind::Error)
        fail(token, token.text);
    if (m_pos < m_tokens.size() - 1)
        ++m_pos;
    return token;
}

std::string ScriptCompiler::spelling(const Token& token) const
{
    if (token.kind == TokenKind::LineEnd)
        return "end of line";
    if (token.kind == TokenKind::End)
        return "end of script";
    return "'" + std::string(m_text.substr(static_cast<size_t>(token.start),
                                           static_cast<size_t>(token.end - token.start))) + "'";
}

void ScriptCompiler::fail(const Token& at, const std::string& message) const
{
    throw CompileFailure{ScriptError{message, at.line, at.start, at.end}};
}

void ScriptCompiler::unexpected(const Token& at, const std::string& wanted) const
{
    if (at.kind == TokenKind::Error)
        fail(at, at.text);
    fail(at, wanted.empty() ? "Unexpected " + spelling(at) : "Expected " + wanted + ", found " + spelling(at));
}

void ScriptCompiler::expectSymbol(const char* symbol)
{
    if (!peek().isSymbol(symbol))
        unexpected(peek(), std::string("'") + symbol + "'");
    take();
}

void ScriptCompiler::expectKeyword(Keyword keyword)
{
    if (!peek().is(keyword))
        unexpected(peek(), std::string("'") + keywordName(keyword) + "'");
    take();
}

void ScriptCompiler::expectLineEnd()
{
    if (peek().kind == TokenKind::LineEnd)
        take();
    else if (peek().kind != TokenKind::End)
        unexpected(peek());
}

size_t ScriptCompiler::emit(Op op, const Token& at, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e)
{
    if (m_program.spans.empty() || m_program.spans.back().start != at.start
        || m_program.spans.back().end != at.end)
        m_program.spans.push_back(SourceSpan{at.line, at.start, at.end});
    m_program.code.push_back(Instruction{op, a, b, c, d, e, static_cast<int32_t>(m_program.spans.size() - 1)});
    return m_program.code.size() - 1;
}

int ScriptCompiler::newSlot(Type type)
{
    return type == Type::Integer ? m_program.integerSlots++ : m_program.textSlots++;
}

void ScriptCompiler::emitStore(const Variable& variable, const Token& at)
{
    emit(variable.type == Type::Integer ? Op::StoreInt : Op::StoreText, at, variable.slot);
}

std::string ScriptCompiler::variableKey(const Token& name)
{
    std::string key = upperCase(name.text);
    if (name.suffix)
        key += name.suffix;
    return key;
}

std::optional<Variable> ScriptCompiler::findVariable(const Token& name)
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

Variable ScriptCompiler::variableFor(const Token& name)
{
    if (name.kind != TokenKind::Name)
        unexpected(name, "a variable");
    if (auto variable = findVariable(name))
        return *variable;
    if (m_constants.count(upperCase(name.text)))
        fail(name, "'" + name.text + "' is a constant and cannot be changed");
    fail(name, "Unknown name '" + name.text + "': declare it with 'string' or 'integer', or add $ or %");
}

void ScriptCompiler::defineLabel()
{
    const Token name = take();
    take();   // ':'
    const std::string key = upperCase(name.text);
    if (!m_labels.emplace(key, here()).second)
        fail(name, "Label '" + name.text + "' is defined twice");
}

void ScriptCompiler::statement(bool simple)
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

void ScriptCompiler::assignment()
{
    const Token name = take();
    const Variable variable = variableFor(name);
    expectSymbol("=");
    const Token at = peek();
    requireType(expression(), variable.type, at, "the value of " + spelling(name));
    emitStore(variable, name);
}

void ScriptCompiler::declaration()
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

void ScriptCompiler::ifStatement(bool simple)
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

void ScriptCompiler::elseStatement()
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

void ScriptCompiler::endifStatement()
{
    const Token keyword = take();
    if (m_blocks.empty() || (m_blocks.back().kind != Block::If && m_blocks.back().kind != Block::Else))
        fail(keyword, "'endif' without 'if'");
    m_program.code[m_blocks.back().jump].a = here();
    m_blocks.pop_back();
}

void ScriptCompiler::forStatement()
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

void ScriptCompiler::nextStatement()
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

void ScriptCompiler::untilStatement()
{
    const Token keyword = take();
    if (m_blocks.empty() || m_blocks.back().kind != Block::Repeat)
        fail(keyword, "'until' without 'repeat'");
    const Token at = peek();
    requireType(expression(), Type::Integer, at, "a condition");
    emit(Op::JumpIfFalse, keyword, static_cast<int32_t>(m_blocks.back().top));
    m_blocks.pop_back();
}

void ScriptCompiler::openBlock(const Block& block)
{
    if (m_blocks.size() >= kMaxOpenBlocks)
        fail(block.opener, "Blocks nested too deeply");
    m_blocks.push_back(block);
}

void ScriptCompiler::jump()
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

void ScriptCompiler::directive()
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

ValueType ScriptCompiler::parameterType()
{
    const Token token = take();
    if (token.is(Keyword::String))
        return ValueType::Text;
    if (token.is(Keyword::Integer))
        return ValueType::Integer;
    unexpected(token, "'string' or 'integer'");
}

void ScriptCompiler::declareFunction()
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

void ScriptCompiler::defineConstant()
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

} // namespace scriptcompiler

bool compile(std::string_view text, Program& program, ScriptError& error)
{
    program = Program{};
    try {
        scriptcompiler::ScriptCompiler compiler(text, program);
        compiler.run();
        return true;
    } catch (const scriptcompiler::CompileFailure& failure) {
        error = failure.error;
    } catch (const std::bad_alloc&) {
        error = ScriptError{"Out of memory while compiling", 1, 0, 0};
    } catch (const std::exception&) {
        error = ScriptError{"Internal error while compiling", 1, 0, 0};
    }
    program = Program{};
    return false;
}
