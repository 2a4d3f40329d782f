#include "store/interp/binop.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/ident.h"
#include "store/model/objval.h"
#include "store/valops.h"

namespace tq {

namespace {

constexpr const char* kBinSpellings[BINOP_LIMIT] = {
    "+", "-", "*", "/", "\\", "^", "Mod", "&", "=", "<>", ">", "<",
    ">=", "<=", "Like", "And", "Or", "Xor", "Imp", "Eqv", "TypeOf", "&&", "||"};
constexpr const char* kUnarySpellings[UNOP_LIMIT] = {"-", "Not"};

ValuePtr Long(int32_t v) { return ValuePtr(new LongValue(v)); }

bool Fits(int64_t r) {
    return r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max();
}

// Arithmetic of two Longs whose result is a Long again; false when the
// general rule must decide (a result beyond the Long range is promoted).
bool LongArith(BinOpType op, int32_t a, int32_t b, int32_t& out) {
    int64_t r = 0;
    switch (op) {
        case BINOP_ADD: r = int64_t(a) + b; break;
        case BINOP_SUB: r = int64_t(a) - b; break;
        case BINOP_MUL: r = int64_t(a) * b; break;
        default: return false;
    }
    if (!Fits(r)) return false;
    out = static_cast<int32_t>(r);
    return true;
}

int32_t LongCompare(BinOpType op, int32_t a, int32_t b) {
    bool r = false;
    switch (op) {
        case BINOP_EQ: r = a == b; break;
        case BINOP_NE: r = a != b; break;
        case BINOP_GT: r = a > b; break;
        case BINOP_LT: r = a < b; break;
        case BINOP_GE: r = a >= b; break;
        default: r = a <= b; break;
    }
    return r ? -1 : 0;
}

// How deep pureLong follows operators: an expression nested deeper is left
// to the general path, so that a failed attempt costs little.
constexpr int kPureLongDepth = 6;

// The value of n as a Long when it can be had without evaluating anything
// that acts or fails: a Long constant, True or False, a Long variable the
// lookup cache already holds, or +, -, *, \, Mod or a comparison of such
// operands with a Long result. False when anything else decides (another
// type, a name not resolved yet, a result beyond the Long range, a division
// by zero); nothing has then happened but reads of variables, so the
// general path evaluates the expression as if this had not run. No value
// is made for an operand or a result.
bool PureLong(const ExprNode* n, const Context& ctx, int32_t& out, int depth) {
    switch (n->type()) {
        case EXPR_LONG_CONSTANT: out = static_cast<const LongConstant*>(n)->value(); return true;
        case EXPR_SID: {
            const auto* sid = static_cast<const Sid*>(n);
            if (sid->isMe() || sid->isDotted() || sid->getIdType() != IDT_UNTYPED) return false;
            const uint16_t index = sid->idIndex();
            if (index >= kIdFalse) return out = index == kIdTrue ? -1 : 0, true;
            const Value* v = ctx.cachedSelfValue(index);
            if (!v || v->type() != IDT_LONG) return false;
            out = v->as<int32_t>();
            return true;
        }
        case EXPR_BINARY_OP: {
            const auto* b = static_cast<const BinaryOp*>(n);
            const BinOpType o = b->op();
            const bool arith = o <= BINOP_MUL || o == BINOP_INTDIV || o == BINOP_MOD;
            if (depth >= kPureLongDepth || !(arith || (o >= BINOP_EQ && o <= BINOP_LE))) return false;
            int32_t x = 0, y = 0;
            if (!PureLong(b->left(), ctx, x, depth + 1) || !PureLong(b->right(), ctx, y, depth + 1)) return false;
            if (o >= BINOP_EQ) return out = LongCompare(o, x, y), true;
            switch (o) {
                // The general path fails on these with its own messages.
                case BINOP_INTDIV:
                    if (y == 0 || (x == std::numeric_limits<int32_t>::min() && y == -1)) return false;
                    return out = x / y, true;
                case BINOP_MOD:
                    if (y == 0) return false;
                    // Every number divides by -1; x % -1 would trap for the
                    // smallest Long.
                    return out = y == -1 ? 0 : x % y, true;
                default: return LongArith(o, x, y, out);
            }
        }
        default: return false;
    }
}

// PureLong's kin for results the value rules make a Double: +, - and * where
// either operand is a Double, over Long and Double variables and constants.
// A Long operand is a Long subexpression (PureLong); a result that is not
// a finite number is left to the general path, which knows its failure.
BinaryOp::PureNumberKind PureNumber(const ExprNode* n, const Context& ctx, int32_t& l, double& d, int depth) {
    switch (n->type()) {
        case EXPR_DOUBLE_CONSTANT: d = static_cast<const DoubleConstant*>(n)->value(); return BinaryOp::kNumberDouble;
        case EXPR_LONG_CONSTANT: l = static_cast<const LongConstant*>(n)->value(); return BinaryOp::kNumberLong;
        case EXPR_SID: {
            const auto* sid = static_cast<const Sid*>(n);
            if (sid->isMe() || sid->isDotted() || sid->getIdType() != IDT_UNTYPED) return BinaryOp::kNumberNone;
            const uint16_t index = sid->idIndex();
            if (index >= kIdFalse) return l = index == kIdTrue ? -1 : 0, BinaryOp::kNumberLong;
            const Value* v = ctx.cachedSelfValue(index);
            if (!v) return BinaryOp::kNumberNone;
            switch (v->type()) {
                case IDT_LONG: return l = v->as<int32_t>(), BinaryOp::kNumberLong;
                case IDT_DOUBLE: return d = v->as<double>(), BinaryOp::kNumberDouble;
                default: return BinaryOp::kNumberNone;
            }
        }
        case EXPR_BINARY_OP: {
            const auto* b = static_cast<const BinaryOp*>(n);
            const BinOpType o = b->op();
            if (o > BINOP_MUL || depth >= kPureLongDepth) break;
            int32_t xl = 0, yl = 0;
            double x = 0, y = 0;
            const BinaryOp::PureNumberKind left = PureNumber(b->left(), ctx, xl, x, depth + 1);
            if (left == BinaryOp::kNumberNone) return left;
            const BinaryOp::PureNumberKind right = PureNumber(b->right(), ctx, yl, y, depth + 1);
            if (right == BinaryOp::kNumberNone) return right;
            if (left == BinaryOp::kNumberLong && right == BinaryOp::kNumberLong)
                return LongArith(o, xl, yl, l) ? BinaryOp::kNumberLong : BinaryOp::kNumberNone;
            if (left == BinaryOp::kNumberLong) x = xl;
            if (right == BinaryOp::kNumberLong) y = yl;
            const double r = o == BINOP_ADD ? x + y : o == BINOP_SUB ? x - y : x * y;
            if (!std::isfinite(r)) return BinaryOp::kNumberNone;
            d = r;
            return BinaryOp::kNumberDouble;
        }
        default: break;
    }
    return PureLong(n, ctx, l, depth) ? BinaryOp::kNumberLong : BinaryOp::kNumberNone;
}

InterObjRep* ObjectOperand(const Value& v) {
    if ((v.type() & IDT_TYPEMASK) != IDT_OBJECT) throw NotObjectReference("BinaryOp::eval()", 32759);
    return v.as<InterObj>().get();
}

}  // namespace

const char* BinOpSpelling(uint8_t op) { return op < BINOP_LIMIT ? kBinSpellings[op] : nullptr; }
const char* UnaryOpSpelling(uint8_t op) { return op < UNOP_LIMIT ? kUnarySpellings[op] : nullptr; }

// ---- BinaryOp --------------------------------------------------------------------------------

ExprPtr BinaryOp::make(BinOpType op, ExprPtr left, ExprPtr right) {
    TQ_ASSERT(left && right, "leftExpr && rightExpr");
    TQ_ASSERT(op < BINOP_LIMIT, "op < BINOP_LIMIT");
    const uint32_t size = kLeftOffset + left->size() + right->size();
    auto* node = ::new (Allocate(size)) BinaryOp(op);
    node->setSize(size);
    node->embed(node->embed(kLeftOffset, std::move(left)), std::move(right));
    return ExprPtr(node);
}

BinaryOp::PureNumberKind BinaryOp::evalPure(const Context& lookup, int32_t& l, double& d) const {
    return PureNumber(this, lookup, l, d, 0);
}

ValuePtr BinaryOp::eval(Context& lookup, Context& args) const {
    int32_t result = 0;
    ValuePtr value;
    return evalLong(lookup, args, result, value) ? Long(result) : value;
}

bool BinaryOp::evalLong(Context& lookup, Context& args, int32_t& out, ValuePtr& value) const {
    // Long arithmetic on Long variables and constants needs no values.
    if (PureLong(this, lookup, out, 0)) return true;
    const BinOpType o = op();
    // A name on the left, the commonest operand, goes to its kind at once.
    const ExprNode* leftNode = left();
    ValuePtr l = leftNode->type() == EXPR_SID ? static_cast<const Sid*>(leftNode)->eval(lookup, EVAL_VALUE_REQUIRED)
                                              : leftNode->eval(lookup, args, EVAL_VALUE_REQUIRED);
    if (o == BINOP_ANDALSO || o == BINOP_ORELSE) {
        // The left operand decides alone when it can: the right one is not
        // evaluated (a function there is not called).
        const bool leftTrue = l->as<int32_t>() != 0;
        if (o == BINOP_ANDALSO && !leftTrue) return out = 0, true;
        if (o == BINOP_ORELSE && leftTrue) return out = -1, true;
        ValuePtr r = right()->eval(lookup, args, EVAL_VALUE_REQUIRED);
        out = r->as<int32_t>() != 0 ? -1 : 0;
        return true;
    }
    // Two Longs whose result is a Long: the same value the general rule
    // (computed in double, truncated) gives, without the detour. A Long
    // literal on the right is used as it lies in the node.
    const bool longFast = o <= BINOP_MUL || (o >= BINOP_EQ && o <= BINOP_LE);
    const ExprNode* rightNode = right();
    if (longFast && rightNode->type() == EXPR_LONG_CONSTANT && l->type() == IDT_LONG) {
        const int32_t x = l->as<int32_t>();
        const int32_t y = static_cast<const LongConstant*>(rightNode)->value();
        if (o >= BINOP_EQ) return out = LongCompare(o, x, y), true;
        if (LongArith(o, x, y, out)) return true;
    }
    ValuePtr r = rightNode->eval(lookup, args, EVAL_VALUE_REQUIRED);
    const Value& a = *l;
    const Value& b = *r;
    if (longFast && a.type() == IDT_LONG && b.type() == IDT_LONG) {
        const int32_t x = a.as<int32_t>();
        const int32_t y = b.as<int32_t>();
        if (o >= BINOP_EQ) return out = LongCompare(o, x, y), true;
        if (LongArith(o, x, y, out)) return true;
    }
    switch (o) {
        case BINOP_ADD: value = a + b; return false;
        case BINOP_SUB: value = a - b; return false;
        case BINOP_MUL: value = a * b; return false;
        case BINOP_DIV: value = a / b; return false;
        case BINOP_INTDIV: value = a.intDiv(b); return false;
        case BINOP_POWER: value = a.exp(b); return false;
        case BINOP_MOD: value = a % b; return false;
        case BINOP_CONCAT: value = ValueConcat(a, b); return false;
        case BINOP_EQ: return out = (a == b), true;
        case BINOP_NE: return out = (a != b), true;
        case BINOP_GT: return out = (a > b), true;
        case BINOP_LT: return out = (a < b), true;
        case BINOP_GE: return out = (a >= b), true;
        case BINOP_LE: return out = (a <= b), true;
        case BINOP_LIKE: throw StoreException("LIKE is not implemented.", nullptr);
        case BINOP_AND: return out = (a & b), true;
        case BINOP_OR: return out = (a | b), true;
        case BINOP_XOR: return out = (a ^ b), true;
        case BINOP_IMP: return out = a.imp(b), true;
        case BINOP_EQV: return out = a.eqv(b), true;
        case BINOP_TYPEOF: {
            InterObjRep* x = ObjectOperand(a);
            InterObjRep* y = ObjectOperand(b);
            // Nothing can be treated as anything.
            const bool is = !x || x->canBeTreatedAs(y);
            value = ValuePtr(new IntegerValue(static_cast<int16_t>(is ? -1 : 0)));
            return false;
        }
        default: utilsAssert("op < BINOP_LIMIT", __FILE__, __LINE__);
    }
}

// ---- UnaryOp ----------------------------------------------------------------------------------

ExprPtr UnaryOp::make(UnaryOpType op, ExprPtr operand) {
    TQ_ASSERT(operand != nullptr, "expr");
    TQ_ASSERT(op < UNOP_LIMIT, "op < UNOP_LIMIT");
    const uint32_t size = kOperandOffset + operand->size();
    auto* node = ::new (Allocate(size)) UnaryOp(op);
    node->setSize(size);
    node->embed(kOperandOffset, std::move(operand));
    return ExprPtr(node);
}

ValuePtr UnaryOp::eval(Context& lookup, Context& args) const {
    ValuePtr v = operand()->eval(lookup, args, EVAL_VALUE_REQUIRED);
    switch (op()) {
        case UNOP_NEGATE: {
            if (v->type() == IDT_LONG) {
                const int32_t x = v->as<int32_t>();
                if (x != std::numeric_limits<int32_t>::min()) return Long(-x);
            }
            // The Integer -1 times the operand: the promotion rules decide
            // the result's type (-(-32768) is a Long, "-" of a String a
            // String).
            const IntegerValue minusOne(static_cast<int16_t>(-1));
            return ValueArith(ARITH_MUL, minusOne, *v);
        }
        case UNOP_NOT: return Long(~*v);
        default: {
            const std::string text = std::to_string(op()) + " is not an unaryop.";
            throw StoreException(text.c_str(), nullptr);
        }
    }
}

}  // namespace tq
