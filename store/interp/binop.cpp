#include "store/interp/binop.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/ident.h"
#include "store/interp/pureexpr.h"
#include "store/model/objval.h"
#include "store/valops.h"

namespace tq {

namespace {

constexpr const char* kBinSpellings[BINOP_LIMIT] = {
    "+", "-", "*", "/", "\\", "^", "Mod", "&", "=", "<>", ">", "<",
    ">=", "<=", "Like", "And", "Or", "Xor", "Imp", "Eqv", "TypeOf", "&&", "||"};
constexpr const char* kUnarySpellings[UNOP_LIMIT] = {"-", "Not"};

ValuePtr Long(int32_t v) { return ValuePtr(new LongValue(v)); }

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
    return PureNumber(this, lookup, l, d);
}

ValuePtr BinaryOp::eval(Context& lookup, Context& args) const {
    int32_t result = 0;
    ValuePtr value;
    return evalLong(lookup, args, result, value) ? Long(result) : value;
}

bool BinaryOp::evalLong(Context& lookup, Context& args, int32_t& out, ValuePtr& value) const {
    // Long arithmetic on Long variables and constants needs no values.
    if (PureLong(this, lookup, out)) return true;
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
