#include "store/interp/pureexpr.h"

#include <cmath>
#include <limits>

#include "store/arfldval.h"
#include "store/context.h"
#include "store/interp/argval.h"
#include "store/interp/ident.h"
#include "store/interp/localval.h"
#include "store/model/fldval.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"

namespace tq {

namespace {

bool Fits(int64_t r) {
    return r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max();
}

// How deep the readers follow operators and indices: an expression nested
// deeper is left to the general path, so that a failed attempt costs little.
constexpr int kPureLongDepth = 6;

// A number an expression gives, of the kind (BinaryOp::PureNumberKind) the
// reader returns beside it.
union Number {
    int32_t l;
    double d;
};

// What LeafNumber gives for an operator or an indexed name, which
// NestedNumber follows.
constexpr int kNotLeaf = -1;

// A cached member that is no frame local (a field of Me, a static
// variable) read as a number when it is a value that evaluates to itself,
// so that reading it resolves nothing and runs nothing: a Long or Double
// field in place, any other such value through its get. Out of line: the
// locals that LeafNumber reads in place are the common case.
[[gnu::noinline]] int SelfValueNumber(Member* m, Number& out) {
    if (!(m->memberTraits() & Member::kSelfValued)) return BinaryOp::kNumberNone;
    if (m->memberTraits() & (Member::kLongField | Member::kDoubleField)) {
        if (const auto* f = NumberField<int32_t>(m))
            if (const uint8_t* at = f->readPlace()) return out.l = LoadDatum<int32_t>(at), BinaryOp::kNumberLong;
        if (const auto* f = NumberField<double>(m))
            if (const uint8_t* at = f->readPlace()) return out.d = LoadDatum<double>(at), BinaryOp::kNumberDouble;
    }
    const Value* v = static_cast<const Value*>(m);
    switch (v->type()) {
        case IDT_LONG: return out.l = v->as<int32_t>(), BinaryOp::kNumberLong;
        case IDT_DOUBLE: return out.d = v->as<double>(), BinaryOp::kNumberDouble;
        default: return BinaryOp::kNumberNone;
    }
}

// A leaf of an expression read as a number, inline so that the operands of
// an operator cost no call: a Long or Double constant, True or False, a Long
// or Double variable the lookup cache holds (a frame local or a by-value
// parameter read in place, its traits tested once). kNotLeaf for an operator or an indexed name.
[[gnu::always_inline]] inline int LeafNumber(const ExprNode* n, const Context& ctx, Number& out) {
    switch (n->type()) {
        case EXPR_LONG_CONSTANT: return out.l = static_cast<const LongConstant*>(n)->value(), BinaryOp::kNumberLong;
        case EXPR_DOUBLE_CONSTANT:
            return out.d = static_cast<const DoubleConstant*>(n)->value(), BinaryOp::kNumberDouble;
        case EXPR_SID: {
            const auto* sid = static_cast<const Sid*>(n);
            if ((sid->flags() & (ExprNode::kMe | ExprNode::kDotted)) || sid->getIdType() != IDT_UNTYPED)
                return BinaryOp::kNumberNone;
            const uint16_t index = sid->idIndex();
            if (index >= kIdFalse) return out.l = index == kIdTrue ? -1 : 0, BinaryOp::kNumberLong;
            Member* m = ctx.cachedMember(index);
            if (!m) return BinaryOp::kNumberNone;
            const uint16_t traits = m->memberTraits();
            if (traits & Member::kLongLocal) {
                if (const uint8_t* at = static_cast<LocalValue<int32_t, IDT_LONG>*>(static_cast<Value*>(m))->inPlace())
                    return out.l = LoadDatum<int32_t>(at), BinaryOp::kNumberLong;
            } else if (traits & Member::kDoubleLocal) {
                if (const uint8_t* at = static_cast<LocalValue<double, IDT_DOUBLE>*>(static_cast<Value*>(m))->inPlace())
                    return out.d = LoadDatum<double>(at), BinaryOp::kNumberDouble;
            } else if (traits & Member::kLongArgument) {
                if (const uint8_t* at = ArgumentDatum<int32_t>(m)) return out.l = LoadDatum<int32_t>(at), BinaryOp::kNumberLong;
            } else if (traits & Member::kDoubleArgument) {
                if (const uint8_t* at = ArgumentDatum<double>(m)) return out.d = LoadDatum<double>(at), BinaryOp::kNumberDouble;
            }
            return SelfValueNumber(m, out);
        }
        case EXPR_BINARY_OP:
        case EXPR_CID: return kNotLeaf;
        default: return BinaryOp::kNumberNone;
    }
}

// The element an identifier with indices names, read as a Long or a Double
// (FindNumericElement); kNumberNone when it names none.
[[gnu::noinline]] int ElementNumber(const Cid& id, const Context& ctx, int depth, Number& out) {
    NumericElement e;
    if (!FindNumericElement(id, ctx, e, depth)) return BinaryOp::kNumberNone;
    if (e.type == IDT_LONG) return out.l = LoadDatum<int32_t>(e.at), BinaryOp::kNumberLong;
    return out.d = LoadDatum<double>(e.at), BinaryOp::kNumberDouble;
}

// An operator or an indexed name at depth (what LeafNumber does not take).
int NestedNumber(const ExprNode* n, const Context& ctx, int depth, Number& out);

// An operand of an operator at depth: a leaf inline, anything else through
// NestedNumber.
[[gnu::always_inline]] inline int Operand(const ExprNode* n, const Context& ctx, int depth, Number& out) {
    const int kind = LeafNumber(n, ctx, out);
    return kind != kNotLeaf ? kind : NestedNumber(n, ctx, depth, out);
}

// An operator over two numbers. +, - and * of two Longs give a Long when it
// fits (else the general rule promotes), with a Double operand a finite
// Double; \, Mod and the comparisons take Longs only.
int NestedNumber(const ExprNode* n, const Context& ctx, int depth, Number& out) {
    if (depth >= kPureLongDepth) return BinaryOp::kNumberNone;
    if (n->type() == EXPR_CID) {
        // A function call ("f(x) + 1") is the commonest indexed name the
        // readers meet and cannot take: given up without a call.
        const Member* m = ctx.cachedMember(static_cast<const Cid*>(n)->idIndex());
        if (!m || !(m->memberTraits() & Member::kArrayReference)) return BinaryOp::kNumberNone;
        return ElementNumber(*static_cast<const Cid*>(n), ctx, depth, out);
    }
    const auto* b = static_cast<const BinaryOp*>(n);
    const BinOpType o = b->op();
    const bool arith = o <= BINOP_MUL;
    if (!(arith || o == BINOP_INTDIV || o == BINOP_MOD || (o >= BINOP_EQ && o <= BINOP_LE)))
        return BinaryOp::kNumberNone;
    const ExprNode* leftNode = b->left();
    Number x, y;
    const int kx = Operand(leftNode, ctx, depth + 1, x);
    if (kx == BinaryOp::kNumberNone) return BinaryOp::kNumberNone;
    const int ky = Operand(reinterpret_cast<const ExprNode*>(leftNode->bytes() + leftNode->size()), ctx, depth + 1, y);
    if (ky == BinaryOp::kNumberNone) return BinaryOp::kNumberNone;
    if (kx == BinaryOp::kNumberLong && ky == BinaryOp::kNumberLong) {
        const int32_t p = x.l, q = y.l;
        if (o >= BINOP_EQ) return out.l = LongCompare(o, p, q), BinaryOp::kNumberLong;
        switch (o) {
            // The general path fails on these with its own messages.
            case BINOP_INTDIV:
                if (q == 0 || (p == std::numeric_limits<int32_t>::min() && q == -1)) return BinaryOp::kNumberNone;
                return out.l = p / q, BinaryOp::kNumberLong;
            case BINOP_MOD:
                if (q == 0) return BinaryOp::kNumberNone;
                // Every number divides by -1; p % -1 would trap for the
                // smallest Long.
                return out.l = q == -1 ? 0 : p % q, BinaryOp::kNumberLong;
            default: {
                const int64_t r = o == BINOP_ADD ? int64_t(p) + q : o == BINOP_SUB ? int64_t(p) - q : int64_t(p) * q;
                if (!Fits(r)) return BinaryOp::kNumberNone;
                return out.l = static_cast<int32_t>(r), BinaryOp::kNumberLong;
            }
        }
    }
    if (!arith) return BinaryOp::kNumberNone;
    const double p = kx == BinaryOp::kNumberLong ? double(x.l) : x.d;
    const double q = ky == BinaryOp::kNumberLong ? double(y.l) : y.d;
    const double r = o == BINOP_ADD ? p + q : o == BINOP_SUB ? p - q : p * q;
    if (!std::isfinite(r)) return BinaryOp::kNumberNone;
    out.d = r;
    return BinaryOp::kNumberDouble;
}

}  // namespace

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

bool PureLong(const ExprNode* n, const Context& ctx, int32_t& out, int depth) {
    Number r;
    if (Operand(n, ctx, depth, r) != BinaryOp::kNumberLong) return false;
    out = r.l;
    return true;
}

BinaryOp::PureNumberKind PureNumber(const ExprNode* n, const Context& ctx, int32_t& l, double& d, int depth) {
    Number r;
    // An operator, the commonest caller's case, skips the test for a leaf.
    const int kind = n->type() == EXPR_BINARY_OP ? NestedNumber(n, ctx, depth, r) : Operand(n, ctx, depth, r);
    if (kind == BinaryOp::kNumberLong) l = r.l;
    if (kind == BinaryOp::kNumberDouble) d = r.d;
    return static_cast<BinaryOp::PureNumberKind>(kind);
}

bool FindNumericElement(const Cid& id, const Context& ctx, NumericElement& out, int depth) {
    const uint16_t count = id.argCount();
    if (count == 0 || count > ArrayField::kMaxDimensions || (id.flags() & (ExprNode::kMe | ExprNode::kDotted)) ||
        id.getIdType() != IDT_UNTYPED)
        return false;
    Member* m = ctx.cachedMember(id.idIndex());
    if (!m || !(m->memberTraits() & Member::kArrayReference)) return false;
    const ArrayReferenceFieldValue::Elements* place = static_cast<ArrayReferenceFieldValue*>(m)->elements();
    if (!place) return false;
    const InterArrayField* array = place->array;
    const IdType type = place->type;
    if ((type != IDT_LONG && type != IDT_DOUBLE) || array->dimensions() != count) return false;
    int32_t indices[ArrayField::kMaxDimensions];
    const ExprNode* arg = id.firstArg();
    for (uint16_t k = 0; k < count; ++k) {
        Number index;
        if (Operand(arg, ctx, depth + 1, index) != BinaryOp::kNumberLong) return false;
        indices[k] = index.l;
        arg = reinterpret_cast<const ExprNode*>(arg->bytes() + arg->size());
    }
    // Out of bounds: the general path fails with its message.
    const int32_t offset = array->offsetOf(indices);
    if (offset < 0) return false;
    out.at = place->first + offset;
    out.type = type;
    out.obj = place->obj;
    out.writable = place->writable;
    return true;
}

}  // namespace tq
