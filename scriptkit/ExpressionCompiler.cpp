// Expressions and calls: each returns the type of the value it leaves on the
// machine's stack.
#include "scriptkit/ScriptCompiler.h"

#include "scriptkit/Builtins.h"
#include "scriptkit/RuleBinding.h"

namespace scriptcompiler {

void ScriptCompiler::requireType(Type got, Type wanted, const Token& at, const std::string& what) const
{
    if (got != wanted)
        fail(at, std::string("Type mismatch: ") + what + " must be a " + typeName(wanted) + ", not a " +
                     typeName(got));
}

int32_t ScriptCompiler::literal(const Token& token, bool negative) const
{
    if (!negative && token.number > 2147483647LL)
        fail(token, "Number too large (at most 2147483647)");
    return static_cast<int32_t>(negative ? -token.number : token.number);
}

int32_t ScriptCompiler::textConstant(const std::string& text)
{
    m_program.texts.push_back(text);
    return static_cast<int32_t>(m_program.texts.size() - 1);
}

Type ScriptCompiler::expression()
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

Type ScriptCompiler::andExpression()
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

Type ScriptCompiler::notExpression()
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

std::optional<Comparison> ScriptCompiler::comparisonOf(const Token& token) const
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

Type ScriptCompiler::comparison()
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

Type ScriptCompiler::additive()
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

Type ScriptCompiler::term()
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

Type ScriptCompiler::unary()
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

Type ScriptCompiler::primary()
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

Type ScriptCompiler::call(bool wantValue)
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

void ScriptCompiler::bind(RuleFunction& function, const Token& name)
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

} // namespace scriptcompiler
