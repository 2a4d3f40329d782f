#include "store/interp/binop.h"

#include <cstring>
#include <limits>

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
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

// Arithmetic of two Longs whose result is a Long again: the same value the
// general rule (computed in double, truncated) gives, without the detour;
// null when the general rule must decide (a result beyond the Long range is
// promoted).
ValuePtr LongArith(BinOpType op, int32_t a, int32_t b) {
    int64_t r = 0;
    switch (op) {
        case BINOP_ADD: r = int64_t(a) + b; break;
        case BINOP_SUB: r = int64_t(a) - b; break;
        case BINOP_MUL: r = int64_t(a) * b; break;
        default: return ValuePtr();
    }
    return Fits(r) ? Long(static_cast<int32_t>(r)) : ValuePtr();
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

ValuePtr BinaryOp::eval(Context& lookup, Context& args) const {
    const BinOpType o = op();
    ValuePtr l = left()->eval(lookup, args, EVAL_VALUE_REQUIRED);
    if (o == BINOP_ANDALSO || o == BINOP_ORELSE) {
        // The left operand decides alone when it can: the right one is not
        // evaluated (a function there is not called).
        const bool leftTrue = l->as<int32_t>() != 0;
        if (o == BINOP_ANDALSO && !leftTrue) return Long(0);
        if (o == BINOP_ORELSE && leftTrue) return Long(-1);
        ValuePtr r = right()->eval(lookup, args, EVAL_VALUE_REQUIRED);
        return Long(r->as<int32_t>() != 0 ? -1 : 0);
    }
    ValuePtr r = right()->eval(lookup, args, EVAL_VALUE_REQUIRED);
    const Value& a = *l;
    const Value& b = *r;
    if (o <= BINOP_MUL || (o >= BINOP_EQ && o <= BINOP_LE)) {
        if (a.type() == IDT_LONG && b.type() == IDT_LONG) {
            const int32_t x = a.as<int32_t>();
            const int32_t y = b.as<int32_t>();
            if (o >= BINOP_EQ) return Long(LongCompare(o, x, y));
            if (ValuePtr v = LongArith(o, x, y)) return v;
        }
    }
    switch (o) {
        case BINOP_ADD: return a + b;
        case BINOP_SUB: return a - b;
        case BINOP_MUL: return a * b;
        case BINOP_DIV: return a / b;
        case BINOP_INTDIV: return a.intDiv(b);
        case BINOP_POWER: return a.exp(b);
        case BINOP_MOD: return a % b;
        case BINOP_CONCAT: return ValueConcat(a, b);
        case BINOP_EQ: return Long(a == b);
        case BINOP_NE: return Long(a != b);
        case BINOP_GT: return Long(a > b);
        case BINOP_LT: return Long(a < b);
        case BINOP_GE: return Long(a >= b);
        case BINOP_LE: return Long(a <= b);
        case BINOP_LIKE: throw StoreException("LIKE is not implemented.", nullptr);
        case BINOP_AND: return Long(a & b);
        case BINOP_OR: return Long(a | b);
        case BINOP_XOR: return Long(a ^ b);
        case BINOP_IMP: return Long(a.imp(b));
        case BINOP_EQV: return Long(a.eqv(b));
        case BINOP_TYPEOF: {
            InterObjRep* x = ObjectOperand(a);
            InterObjRep* y = ObjectOperand(b);
            // Nothing can be treated as anything.
            const bool is = !x || x->canBeTreatedAs(y);
            return ValuePtr(new IntegerValue(static_cast<int16_t>(is ? -1 : 0)));
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
