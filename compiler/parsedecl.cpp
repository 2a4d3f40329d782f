// Declarations: variables and fields, parameters, procedure headers.
#include <string>

#include "compiler/parser.h"

namespace tq::compiler {

namespace {

bool IsWord(const Token& t, std::string_view lower) {
    if (t.kind != Tok::Word || t.kw != Kw::None || t.text.size() != lower.size()) return false;
    for (size_t i = 0; i < lower.size(); ++i)
        if ((t.text[i] | 0x20) != lower[i]) return false;
    return true;
}

constexpr uint32_t kMaxDimensions = 60;

}  // namespace

const Token& Parser::expectName(const char* what) {
    const Token& t = cur();
    if (isNameWord(t)) return t;
    if (t.kind == Tok::Word)
        fail(t.pos, "'" + std::string(t.text) + "' is a keyword and cannot be used as a name");
    failExpected(std::string("the name of the ") + what);
}

TypeRef Parser::parseTypeAfterAs(bool allowNew) {
    TypeRef type;
    type.pos = cur().pos;
    if (isKw(Kw::New)) {
        if (!allowNew) fail(cur().pos, "'New' is for variables and fields, not for parameters");
        advance();
        type.isNew = true;
        const Token& proto = cur();
        if (proto.kind == Tok::Word && proto.kw != Kw::None && proto.kw != Kw::Left)
            fail(proto.pos, "'New' needs the name of a prototype, not '" + std::string(proto.text) + "'");
        const Token& name = expectName("prototype after 'New'");
        type.kind = TypeKind::Named;
        type.name = name.text;
        advance();
        return type;
    }
    if (isKw(Kw::Strictly)) {
        type.strictly = true;
        advance();
    }
    const Token& t = cur();
    if (t.kind == Tok::Word && t.suffix == 0) {
        switch (t.kw) {
        case Kw::Integer: type.kind = TypeKind::Integer; break;
        case Kw::Long: type.kind = TypeKind::Long; break;
        case Kw::Single: type.kind = TypeKind::Single; break;
        case Kw::Double: type.kind = TypeKind::Double; break;
        case Kw::Currency: type.kind = TypeKind::Currency; break;
        case Kw::String: type.kind = TypeKind::String; break;
        case Kw::Object: type.kind = TypeKind::Object; break;
        case Kw::Variant: type.kind = TypeKind::Variant; break;
        case Kw::None:
        case Kw::Left:
            type.kind = TypeKind::Named;
            type.name = t.text;
            break;
        default: break;
        }
    }
    if (type.kind == TypeKind::None)
        failExpected("a type after 'As' (Integer, Long, Single, Double, Currency, String, Object "
                     "or the name of a prototype or enumeration)");
    advance();
    return type;
}

List<Bound> Parser::parseBounds() {
    std::vector<Bound> dims;
    for (;;) {
        Expr* first = parseExpr(0);
        if (isKw(Kw::To)) {
            advance();
            dims.push_back({first, parseExpr(0)});
        } else {
            dims.push_back({nullptr, first});
        }
        if (!is(Tok::Comma)) break;
        if (dims.size() >= kMaxDimensions)
            fail(cur().pos, "an array has at most " + std::to_string(kMaxDimensions) + " dimensions");
        advance();
    }
    return arena_.list(dims);
}

Declarator Parser::parseDeclarator(DeclKind kind) {
    Declarator d;
    const Token& name = expectName(kind == DeclKind::Const ? "constant" : "variable");
    d.pos = name.pos;
    d.name = name.text;
    d.suffix = name.suffix;
    advance();
    if (is(Tok::LParen)) {
        if (kind == DeclKind::Const) fail(cur().pos, "a constant cannot be an array");
        d.isArray = true;
        advance();
        if (!is(Tok::RParen)) d.dims = parseBounds();
        expect(Tok::RParen, "expected ')' after the bounds of the array");
    }
    if (isKw(Kw::As)) {
        const SourcePos at = cur().pos;
        advance();
        d.type = parseTypeAfterAs(kind != DeclKind::Const);
        if (d.suffix)
            error(at, "'" + std::string(d.name) + "' has a type suffix and an 'As' type: give one of them");
    }
    if (kind == DeclKind::Const) {
        if (!is(Tok::Eq)) failExpected("'=' and the value of the constant '" + std::string(d.name) + "'");
        advance();
        d.value = parseExpr(0);
    }
    return d;
}

DeclStmt* Parser::parseDecl(DeclKind kind) {
    auto* s = arena_.make<DeclStmt>(cur().pos);
    s->decl = kind;
    const uint32_t start = cur().offset;
    advance();
    std::vector<Declarator> vars;
    for (;;) {
        vars.push_back(parseDeclarator(kind));
        if (!is(Tok::Comma)) break;
        advance();
    }
    s->vars = arena_.list(vars);
    s->text = textFrom(start);
    return s;
}

Param Parser::parseParam() {
    Param p;
    p.pos = cur().pos;
    if (isKw(Kw::ByVal)) {
        p.byVal = true;
        advance();
    } else if (IsWord(cur(), "byref") && isNameWord(peek())) {
        p.byRef = true;
        advance();
    }
    const Token& name = expectName("parameter");
    p.name = name.text;
    p.suffix = name.suffix;
    advance();
    if (is(Tok::LParen)) {
        advance();
        expect(Tok::RParen, "expected ')' after '(': an array parameter is written 'a()'");
        p.isArray = true;
        if (p.byVal) error(p.pos, "an array parameter cannot be 'ByVal': arrays are passed by reference");
    }
    bool strictly = false;
    if (isKw(Kw::Strictly)) {
        strictly = true;
        advance();
    }
    if (isKw(Kw::As)) {
        const SourcePos at = cur().pos;
        advance();
        p.type = parseTypeAfterAs(false);
        if (p.suffix)
            error(at, "'" + std::string(p.name) + "' has a type suffix and an 'As' type: give one of them");
    } else if (strictly) {
        failExpected("'As' and a prototype's name after 'Strictly'");
    }
    if (strictly) p.type.strictly = true;
    return p;
}

List<Param> Parser::parseParams() {
    std::vector<Param> params;
    for (;;) {
        params.push_back(parseParam());
        if (!is(Tok::Comma)) break;
        if (params.size() >= 65535) fail(cur().pos, "too many parameters (at most 65535)");
        advance();
    }
    return arena_.list(params);
}

Procedure* Parser::parseProcedure() {
    auto* proc = arena_.make<Procedure>();
    proc->pos = cur().pos;
    const uint32_t start = cur().offset;
    if (isKw(Kw::Static)) {
        proc->allStatic = true;
        advance();
    }
    proc->isFunction = isKw(Kw::Function);
    advance();
    std::vector<Comment> comments;
    SinkScope sink(*this, &comments);
    try {
        const Token& name = expectName(proc->isFunction ? "Function" : "Sub");
        proc->name = name.text;
        proc->suffix = name.suffix;
        if (name.suffix && !proc->isFunction)
            error(name.pos, "a Sub returns no value and takes no type suffix");
        advance();
        if (is(Tok::LParen)) {
            proc->hasParens = true;
            advance();
            if (!is(Tok::RParen)) proc->params = parseParams();
            expect(Tok::RParen, "expected ')' after the parameters");
        }
        if (isKw(Kw::As)) {
            const SourcePos at = cur().pos;
            if (!proc->isFunction) fail(at, "a Sub returns no value: only a Function has 'As' and a type");
            advance();
            proc->returnType = parseTypeAfterAs(false);
            if (proc->suffix)
                error(at, "'" + std::string(proc->name) +
                              "' has a type suffix and an 'As' type: give one of them");
        }
        proc->header = textFrom(start);
        expectStatementEnd();
    } catch (SyntaxError&) {
        proc->header = textFrom(start);
        skipLine();
    }
    const Construct self = proc->isFunction ? Construct::Function : Construct::Sub;
    OpenScope open(*this, self, proc->pos);
    proc->body = parseBlock();
    const Closer k = closerAt();
    if (k == Closer::EndSub || k == Closer::EndFunction) {
        if ((k == Closer::EndFunction) != proc->isFunction)
            error(cur().pos, std::string("expected '") + closingText(self) + "' to close the '" +
                                 constructText(self) + "' of line " + std::to_string(proc->pos.line) +
                                 ", found '" + closerText(k) + "'");
        proc->body->endLine = cur().pos.line;
        consumeCloser(k);
        try {
            expectStatementEnd();
        } catch (SyntaxError&) {
            skipLine();
        }
        finishLine();
    } else {
        reportUnclosed(open_.back());
        unclosed_ = false;
    }
    proc->comments = arena_.list(comments);
    return proc;
}

}  // namespace tq::compiler
