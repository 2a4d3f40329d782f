// Expressions: Pratt parsing over the language's binding powers.
//
//   power  operators (left-associative)
//   14     ^
//   13     unary -            (prefix; its operand takes ^ only: -2 ^ 2 is -4)
//   12     * /
//   11     \                  (integer division)
//   10     Mod
//    9     + -
//    8     &
//    7     = <> < > <= >= Like Is, TypeOf x Is y
//    6     Not                (prefix; its operand takes comparisons and up)
//    5     And &&
//    4     Or ||
//    3     Xor
//    2     Eqv
//    1     Imp
//
// A prefix operator may stand wherever an operand may (a * -b, a = Not b),
// and takes as its operand what its own power allows. The printer writes
// no parentheses that were not in the source, and every tree this parser
// makes prints back to text that parses to the same tree.
#include <algorithm>
#include <string>

#include "compiler/parser.h"

namespace tq::compiler {

namespace {

struct BinaryInfo {
    BinaryOp op;
    int power;
};

bool BinaryAt(const Token& t, BinaryInfo& out) {
    switch (t.kind) {
    case Tok::Caret: out = {BinaryOp::Pow, 14}; return true;
    case Tok::Star: out = {BinaryOp::Mul, 12}; return true;
    case Tok::Slash: out = {BinaryOp::Div, 12}; return true;
    case Tok::Backslash: out = {BinaryOp::IntDiv, 11}; return true;
    case Tok::Plus: out = {BinaryOp::Add, 9}; return true;
    case Tok::Minus: out = {BinaryOp::Sub, 9}; return true;
    case Tok::Amp: out = {BinaryOp::Concat, 8}; return true;
    case Tok::Eq: out = {BinaryOp::Eq, 7}; return true;
    case Tok::Ne: out = {BinaryOp::Ne, 7}; return true;
    case Tok::Lt: out = {BinaryOp::Lt, 7}; return true;
    case Tok::Gt: out = {BinaryOp::Gt, 7}; return true;
    case Tok::Le: out = {BinaryOp::Le, 7}; return true;
    case Tok::Ge: out = {BinaryOp::Ge, 7}; return true;
    case Tok::AndAlso: out = {BinaryOp::AndAlso, 5}; return true;
    case Tok::OrElse: out = {BinaryOp::OrElse, 4}; return true;
    case Tok::Word:
        switch (t.kw) {
        case Kw::Mod: out = {BinaryOp::Mod, 10}; return true;
        case Kw::Like: out = {BinaryOp::Like, 7}; return true;
        case Kw::Is: out = {BinaryOp::Is, 7}; return true;
        case Kw::And: out = {BinaryOp::And, 5}; return true;
        case Kw::Or: out = {BinaryOp::Or, 4}; return true;
        case Kw::Xor: out = {BinaryOp::Xor, 3}; return true;
        case Kw::Eqv: out = {BinaryOp::Eqv, 2}; return true;
        case Kw::Imp: out = {BinaryOp::Imp, 1}; return true;
        default: return false;
        }
    default: return false;
    }
}

constexpr int kComparePower = 7;
constexpr int kNegPower = 13;

bool BuiltinOf(Kw kw, Builtin& fn) {
    switch (kw) {
    case Kw::Abs: fn = Builtin::Abs; return true;
    case Kw::Atn: fn = Builtin::Atn; return true;
    case Kw::Cos: fn = Builtin::Cos; return true;
    case Kw::Exp: fn = Builtin::Exp; return true;
    case Kw::Fix: fn = Builtin::Fix; return true;
    case Kw::Int: fn = Builtin::Int; return true;
    case Kw::Log: fn = Builtin::Log; return true;
    case Kw::Rnd: fn = Builtin::Rnd; return true;
    case Kw::Sgn: fn = Builtin::Sgn; return true;
    case Kw::Sin: fn = Builtin::Sin; return true;
    case Kw::Sqr: fn = Builtin::Sqr; return true;
    case Kw::Tan: fn = Builtin::Tan; return true;
    case Kw::Instr: fn = Builtin::Instr; return true;
    case Kw::Str: fn = Builtin::Str; return true;
    case Kw::LCase: fn = Builtin::LCase; return true;
    case Kw::UCase: fn = Builtin::UCase; return true;
    case Kw::Left: fn = Builtin::Left; return true;
    case Kw::Right: fn = Builtin::Right; return true;
    case Kw::Mid: fn = Builtin::Mid; return true;
    case Kw::Len: fn = Builtin::Len; return true;
    case Kw::LTrim: fn = Builtin::LTrim; return true;
    case Kw::RTrim: fn = Builtin::RTrim; return true;
    case Kw::Trim: fn = Builtin::Trim; return true;
    case Kw::Asc: fn = Builtin::Asc; return true;
    case Kw::Val: fn = Builtin::Val; return true;
    case Kw::StrComp: fn = Builtin::StrComp; return true;
    case Kw::String: fn = Builtin::String; return true;
    case Kw::Space: fn = Builtin::Space; return true;
    case Kw::Chr: fn = Builtin::Chr; return true;
    case Kw::Hex: fn = Builtin::Hex; return true;
    case Kw::Oct: fn = Builtin::Oct; return true;
    case Kw::LBound: fn = Builtin::LBound; return true;
    case Kw::UBound: fn = Builtin::UBound; return true;
    case Kw::RGB: fn = Builtin::RGB; return true;
    case Kw::QBColor: fn = Builtin::QBColor; return true;
    case Kw::IIf: fn = Builtin::IIf; return true;
    default: return false;
    }
}

}  // namespace

Expr* Parser::finish(Expr* e, uint32_t childHeight) {
    if (childHeight + 1 > kMaxExprHeight)
        fail(e->pos, "the expression is too complex (more than " +
                         std::to_string(kMaxExprHeight) + " levels of operators)");
    e->height = static_cast<uint16_t>(childHeight + 1);
    return e;
}

Expr* Parser::parseExpr(int minPower) {
    Expr* left = parsePrefix();
    for (;;) {
        if (is(Tok::EqEq))
            fail(cur().pos, "'==' is not an operator: compare with '='");
        BinaryInfo info;
        if (!BinaryAt(cur(), info) || info.power < minPower) return left;
        const SourcePos pos = cur().pos;
        advance();
        Expr* right = parseExpr(info.power + 1);
        auto* b = arena_.make<BinaryExpr>(pos, info.op, left, right);
        b->pos = left->pos;
        left = finish(b, std::max(left->height, right->height));
    }
}

Expr* Parser::parsePrefix() {
    DepthScope depth(exprDepth_);
    if (exprDepth_ > kMaxExprDepth)
        fail(cur().pos, "the expression is nested too deeply (more than " +
                            std::to_string(kMaxExprDepth) + " levels)");
    const SourcePos pos = cur().pos;
    if (is(Tok::Minus)) {
        advance();
        // A literal right after the minus is folded into a negative literal,
        // as the store's constants fold them, unless ^ binds it first.
        if ((is(Tok::Integer) && cur().radix == 10) || is(Tok::Float)) {
            const Token& n = peek();
            if (n.kind != Tok::Caret) {
                const Token t = cur();
                advance();
                Expr* e = number(t, true);
                e->pos = pos;
                return e;
            }
        }
        Expr* operand = parseExpr(kNegPower + 1);
        return finish(arena_.make<UnaryExpr>(pos, UnaryOp::Neg, operand), operand->height);
    }
    if (isKw(Kw::Not)) {
        advance();
        Expr* operand = parseExpr(kComparePower);
        return finish(arena_.make<UnaryExpr>(pos, UnaryOp::Not, operand), operand->height);
    }
    if (isKw(Kw::TypeOf)) {
        advance();
        Expr* object = parseExpr(kComparePower + 1);
        expectKw(Kw::Is, "expected 'Is' after the object of 'TypeOf'");
        Expr* type = parseExpr(kComparePower + 1);
        return finish(arena_.make<BinaryExpr>(pos, BinaryOp::TypeOf, object, type),
                      std::max(object->height, type->height));
    }
    return parsePrimary();
}

Expr* Parser::number(const Token& t, bool negate) {
    if (t.kind == Tok::Float) {
        auto* d = arena_.make<DoubleExpr>(t.pos);
        d->value = negate ? -t.floatValue : t.floatValue;
        return d;
    }
    auto* n = arena_.make<IntegerExpr>(t.pos);
    n->radix = t.radix;
    if (t.radix != 10) {
        n->value = static_cast<int32_t>(static_cast<uint32_t>(t.intValue));
        return n;
    }
    const uint64_t limit = negate ? 2147483648u : 2147483647u;
    if (t.intValue > limit) {
        error(t.pos, "the number " + std::string(negate ? "-" : "") +
                         std::string(t.text.substr(0, 40)) +
                         " is out of range for a Long (-2147483648 to 2147483647); "
                         "write it with a decimal point for a Double");
        return n;
    }
    n->value = negate ? static_cast<int32_t>(-static_cast<int64_t>(t.intValue))
                      : static_cast<int32_t>(t.intValue);
    return n;
}

Expr* Parser::parsePrimary() {
    const Token& t = cur();
    switch (t.kind) {
    case Tok::Integer:
    case Tok::Float: {
        const Token copy = t;
        advance();
        return number(copy, false);
    }
    case Tok::String: {
        auto* s = arena_.make<StringExpr>(t.pos);
        s->text = arena_.text(DecodeStringLiteral(t.text));
        advance();
        return s;
    }
    case Tok::LParen: {
        const SourcePos open = t.pos;
        advance();
        Expr* e = parseExpr(0);
        if (!is(Tok::RParen))
            fail(cur().pos, "expected ')' to close the '(' of column " + std::to_string(open.column) +
                                ", found " + DescribeToken(cur()));
        advance();
        e->parenthesized = true;
        return e;
    }
    case Tok::Dot: return parseChain(false);
    case Tok::Word: break;
    default: failExpected("an expression");
    }
    switch (t.kw) {
    case Kw::None:
    case Kw::Me: return parseChain(false);
    case Kw::True:
    case Kw::False: {
        auto* b = arena_.make<BoolExpr>(t.pos);
        b->value = t.kw == Kw::True;
        if (t.suffix) fail(t.pos, "'" + std::string(t.text) + "' takes no type suffix");
        advance();
        return b;
    }
    case Kw::Nothing: {
        auto* n = arena_.make<NothingExpr>(t.pos);
        if (t.suffix) fail(t.pos, "'Nothing' takes no type suffix");
        advance();
        return n;
    }
    case Kw::Left:
        // Left is both a function and a name that fields and objects carry.
        if (peek().kind == Tok::LParen || t.suffix == 6) return parseIntrinsic();
        return parseChain(false);
    case Kw::New:
        fail(t.pos, "'New' makes objects only in declarations: 'Dim x As New Proto'");
    case Kw::Null:
        fail(t.pos, "'Null' is not a value of this language: an empty object reference is 'Nothing'");
    default: {
        Builtin fn;
        if (BuiltinOf(t.kw, fn)) return parseIntrinsic();
        fail(t.pos, "expected an expression, found the keyword '" + std::string(t.text) + "'");
    }
    }
}

Expr* Parser::parseIntrinsic() {
    const Token t = cur();
    Builtin fn{};
    BuiltinOf(t.kw, fn);
    const BuiltinInfo& info = InfoOf(fn);
    const std::string name(KeywordSpelling(t.kw));
    auto* e = arena_.make<IntrinsicExpr>(t.pos, fn);
    if (t.suffix == 6 && info.family == BuiltinFamily::String) {
        e->dollar = true;
    } else if (t.suffix) {
        fail(t.pos, "'" + name + "' takes no type suffix");
    }
    advance();
    std::vector<Expr*> args;
    if (is(Tok::LParen)) {
        advance();
        if (!is(Tok::RParen)) {
            const List<Expr*> list = parseArgumentList();
            args.assign(list.begin(), list.end());
        }
        if (!is(Tok::RParen))
            fail(cur().pos, "expected ')' after the arguments of '" + name + "', found " +
                                DescribeToken(cur()));
        advance();
    } else if (info.minArgs > 0) {
        fail(cur().pos, "expected '(' and the arguments of '" + name + "'");
    }
    if (args.size() < info.minArgs || args.size() > info.maxArgs) {
        std::string count;
        if (info.minArgs == info.maxArgs) {
            count = std::to_string(info.minArgs) + (info.minArgs == 1 ? " argument" : " arguments");
        } else if (info.minArgs == 0) {
            count = "at most " + std::to_string(info.maxArgs) + " argument";
        } else {
            count = std::to_string(info.minArgs) + " to " + std::to_string(info.maxArgs) + " arguments";
        }
        fail(t.pos, "'" + name + "' takes " + count + ", not " + std::to_string(args.size()));
    }
    uint32_t height = 0;
    for (Expr* a : args) height = std::max<uint32_t>(height, a->height);
    e->args = arena_.list(args);
    return finish(e, height);
}

List<Expr*> Parser::parseArgumentList() {
    std::vector<Expr*> args;
    for (;;) {
        args.push_back(parseExpr(0));
        if (!is(Tok::Comma)) break;
        if (args.size() >= 65535)
            fail(cur().pos, "too many arguments (at most 65535)");
        advance();
    }
    return arena_.list(args);
}

// In a statement that starts with a name, "Foo (a), b" calls Foo with the
// arguments (a) and b, as the printer writes such a call; a parenthesis after
// white space belongs to the name only when it is clearly an index or an
// argument list: "a (1) = 2", "a (1).b", "Foo (1, 2)".
bool Parser::parenBelongsToChain() const {
    int depth = 0;
    bool comma = false;
    size_t j = i_;
    for (; j < toks_.size(); ++j) {
        const Tok k = toks_[j].kind;
        if (k == Tok::LParen) {
            ++depth;
        } else if (k == Tok::RParen) {
            if (--depth == 0) break;
        } else if (k == Tok::Comma && depth == 1) {
            comma = true;
        } else if (k == Tok::EndOfLine) {
            return false;
        }
    }
    if (j >= toks_.size()) return false;
    const Token& after = toks_[j + 1 < toks_.size() ? j + 1 : j];
    if (after.kind == Tok::Eq || after.kind == Tok::DeepAssign || after.kind == Tok::Dot)
        return true;
    const bool end = after.kind == Tok::Colon || after.kind == Tok::EndOfLine ||
                     (after.kind == Tok::Word && after.kw == Kw::Else);
    return comma && end;
}

Expr* Parser::parsePiece(bool statementStart, bool first) {
    const Token t = cur();
    const SourcePos pos = t.pos;
    bool dotted = false;
    bool me = false;
    if (first && t.kind == Tok::Dot) {
        advance();
        if (!isNameWord(cur()))
            failExpected("a member name after '.'");
        dotted = true;
    }
    const Token name = cur();
    if (first && !dotted && name.kind == Tok::Word && name.kw == Kw::Me) {
        me = true;
        if (name.suffix) fail(name.pos, "'Me' takes no type suffix");
    } else if (!isNameWord(name)) {
        if (name.kind == Tok::Word && name.kw != Kw::None)
            fail(name.pos, "'" + std::string(name.text) + "' is a keyword and cannot be used as a name");
        failExpected("a name");
    }
    advance();
    if (is(Tok::LParen) && !(statementStart && cur().spaceBefore && !parenBelongsToChain())) {
        advance();
        if (is(Tok::RParen)) {
            advance();
            auto* n = arena_.make<NameExpr>(pos);
            n->name = me ? std::string_view() : name.text;
            n->suffix = name.suffix;
            n->me = me;
            n->dotted = dotted;
            n->emptyParens = true;
            return n;
        }
        const List<Expr*> args = parseArgumentList();
        if (!is(Tok::RParen))
            fail(cur().pos, "expected ')' after the arguments of '" +
                                std::string(me ? "Me" : name.text) + "', found " + DescribeToken(cur()));
        advance();
        auto* c = arena_.make<CallExpr>(pos);
        c->name = me ? std::string_view() : name.text;
        c->suffix = name.suffix;
        c->me = me;
        c->dotted = dotted;
        c->args = args;
        uint32_t height = 0;
        for (Expr* a : args) height = std::max<uint32_t>(height, a->height);
        return finish(c, height);
    }
    auto* n = arena_.make<NameExpr>(pos);
    n->name = me ? std::string_view() : name.text;
    n->suffix = name.suffix;
    n->me = me;
    n->dotted = dotted;
    return n;
}

bool Parser::startsWithMember() const {
    return cur().spaceBefore && i_ + 1 < toks_.size() && !toks_[i_ + 1].spaceBefore;
}

Expr* Parser::parseChain(bool statementStart) {
    DepthScope depth(exprDepth_);
    if (exprDepth_ > kMaxExprDepth)
        fail(cur().pos, "the expression is nested too deeply (more than " +
                            std::to_string(kMaxExprDepth) + " levels)");
    const SourcePos pos = cur().pos;
    std::vector<Expr*> pieces;
    pieces.push_back(parsePiece(statementStart, true));
    // "obj.Print" ends the chain: the statement reads it as Print's target.
    // So does a statement's " .name" (a space before the dot, none after):
    // inside With, "Show .A, .B" passes .A and .B, as the printer writes
    // such a call.
    while (is(Tok::Dot) && !peekIsKw(1, Kw::Print) && !(statementStart && startsWithMember())) {
        advance();
        if (!isNameWord(cur())) {
            if (cur().kind == Tok::Word && cur().kw != Kw::None)
                fail(cur().pos, "'" + std::string(cur().text) +
                                    "' is a keyword and cannot be used as a member name");
            failExpected("a member name after '.'");
        }
        if (pieces.size() >= 65535) fail(cur().pos, "too many members in one chain (at most 65535)");
        pieces.push_back(parsePiece(statementStart, false));
    }
    if (pieces.size() == 1) return pieces[0];
    auto* m = arena_.make<MemberExpr>(pos);
    uint32_t height = 0;
    for (Expr* p : pieces) height = std::max<uint32_t>(height, p->height);
    m->pieces = arena_.list(pieces);
    return finish(m, height);
}

}  // namespace tq::compiler
