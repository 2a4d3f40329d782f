// Expressions: one syntax node to one store node, operands embedded.
#include "compiler/codegenimpl.h"

namespace tq::compiler {

namespace {

IdType SuffixType(uint8_t suffix) { return static_cast<IdType>(suffix); }

}  // namespace

ExprPtr Generator::name(const NameExpr& n, bool member) {
    member = member || n.dotted;
    std::unique_ptr<Sid> sid = n.me ? Sid::makeMe()
                                    : Sid::make(member ? memberId(n.name, n.pos) : id(n.name, n.pos),
                                                SuffixType(n.suffix));
    if (n.dotted) sid->markAsDotted();
    if (n.emptyParens) sid->addFlags(ExprNode::kArgsParenthesized);
    return ExprPtr(sid.release());
}

ExprPtr Generator::call(const CallExpr& c, bool member) {
    member = member || c.dotted;
    std::unique_ptr<Cid> node;
    for (const Expr* arg : c.args) {
        ExprPtr a = expr(arg);
        if (!a) return nullptr;
        node = node ? Cid::append(std::move(node), std::move(a)) : Cid::make(std::move(a));
    }
    if (!node) node = Cid::make(nullptr);
    if (c.parenArgs) node->addFlags(ExprNode::kArgsParenthesized);
    std::unique_ptr<Sid> base = c.me ? Sid::makeMe()
                                     : Sid::make(member ? memberId(c.name, c.pos) : id(c.name, c.pos),
                                                 SuffixType(c.suffix));
    if (c.dotted) base->markAsDotted();
    return ExprNode::convertToComplex(ExprPtr(base.release()), std::move(node));
}

ExprPtr Generator::piece(const Expr* e, bool member) {
    if (e->kind == ExprKind::Call) return call(static_cast<const CallExpr&>(*e), member);
    if (e->kind == ExprKind::Name) return name(static_cast<const NameExpr&>(*e), member);
    return expr(e);
}

ExprPtr Generator::intrinsic(const IntrinsicExpr& e) {
    ExprPtr a[4];
    const size_t n = e.args.size();
    if (n > 4) {
        error(e.pos, "too many arguments");
        return nullptr;
    }
    for (size_t i = 0; i < n; ++i)
        if (!(a[i] = expr(e.args[i]))) return nullptr;
    const BuiltinInfo& info = InfoOf(e.fn);
    switch (info.family) {
    case BuiltinFamily::Math: return IntrMath::make(static_cast<MathType>(info.code), std::move(a[0]));
    case BuiltinFamily::String:
        return IntrString::make(static_cast<StringType>(info.code), e.dollar ? 1 : 0, std::move(a[0]),
                                std::move(a[1]), std::move(a[2]), std::move(a[3]));
    case BuiltinFamily::Bound:
        return IntrBound::make(static_cast<uint8_t>(info.code), std::move(a[0]), std::move(a[1]));
    case BuiltinFamily::Color:
        return IntrColor::make(static_cast<tColorFunc>(info.code), std::move(a[0]), std::move(a[1]), std::move(a[2]));
    case BuiltinFamily::IIf: return IntrIIf::make(std::move(a[0]), std::move(a[1]), std::move(a[2]));
    }
    return nullptr;
}

ExprPtr Generator::identifier(const Expr* e) {
    if (!e) return nullptr;
    switch (e->kind) {
    case ExprKind::Name:
    case ExprKind::Call:
    case ExprKind::Member: return expr(e);
    default: error(e->pos, "expected a name here"); return nullptr;
    }
}

ExprPtr Generator::expr(const Expr* e) {
    if (!e) return nullptr;
    if (e->height > kMaxExprHeight) {
        error(e->pos, "this expression is nested too deeply (at most " + std::to_string(kMaxExprHeight) +
                          " levels of operators and calls)");
        return nullptr;
    }
    ExprPtr out;
    switch (e->kind) {
    case ExprKind::Name:
    case ExprKind::Call: out = piece(e, false); break;
    case ExprKind::Member: {
        const auto& m = static_cast<const MemberExpr&>(*e);
        for (const Expr* each : m.pieces) {
            ExprPtr p = piece(each, out != nullptr);
            if (!p) return nullptr;
            out = out ? ExprPtr(Mid::make(std::move(out), std::move(p)).release()) : std::move(p);
        }
        break;
    }
    case ExprKind::Integer: {
        const auto& i = static_cast<const IntegerExpr&>(*e);
        out = LongConstant::make(i.value, i.radix == 16 ? 1 : i.radix == 8 ? 2 : 0);
        break;
    }
    case ExprKind::Double: out = DoubleConstant::make(static_cast<const DoubleExpr&>(*e).value); break;
    case ExprKind::String: out = StringConstant::make(static_cast<const StringExpr&>(*e).text.data()); break;
    case ExprKind::Nothing: out = NullObjConstant::make(); break;
    case ExprKind::Bool: {
        const bool truth = static_cast<const BoolExpr&>(*e).value;
        out = ExprPtr((truth ? Sid::makeTrue() : Sid::makeFalse()).release());
        break;
    }
    case ExprKind::Binary: {
        const auto& b = static_cast<const BinaryExpr&>(*e);
        ExprPtr left = expr(b.left);
        ExprPtr right = expr(b.right);
        if (!left || !right) return nullptr;
        // "a Is b" compares references, which "=" does for object values.
        const BinOpType op = b.op == BinaryOp::Is ? BINOP_EQ : static_cast<BinOpType>(b.op);
        out = tq::BinaryOp::make(op, std::move(left), std::move(right));
        break;
    }
    case ExprKind::Unary: {
        const auto& u = static_cast<const UnaryExpr&>(*e);
        ExprPtr operand = expr(u.operand);
        if (!operand) return nullptr;
        out = tq::UnaryOp::make(static_cast<UnaryOpType>(u.op), std::move(operand));
        break;
    }
    case ExprKind::Intrinsic: out = intrinsic(static_cast<const IntrinsicExpr&>(*e)); break;
    }
    if (out && e->parenthesized) out->addFlags(ExprNode::kParenthesized);
    return out;
}

}  // namespace tq::compiler
