#include "store/interp/pureexpr.h"

#include <cmath>
#include <limits>

#include "store/arfldval.h"
#include "store/context.h"
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

// A cached member that is no frame local (a field of Me, a static
// variable) read as a number when it is a value that evaluates to itself,
// so that reading it resolves nothing and runs nothing: a Long or Double
// field in place, any other such value through its get. Out of line: the
// locals that NumberLeaf reads in place are the common case.
[[gnu::noinline]] int SelfValueNumber(Member* m, int32_t& l, double& d) {
    if (!m || !(m->memberTraits() & Member::kSelfValued)) return BinaryOp::kNumberNone;
    if (m->memberTraits() & (Member::kLongField | Member::kDoubleField)) {
        if (const auto* f = NumberField<int32_t>(m))
            if (const uint8_t* at = f->readPlace()) return l = LoadDatum<int32_t>(at), BinaryOp::kNumberLong;
        if (const auto* f = NumberField<double>(m))
            if (const uint8_t* at = f->readPlace()) return d = LoadDatum<double>(at), BinaryOp::kNumberDouble;
    }
    const Value* v = static_cast<const Value*>(m);
    switch (v->type()) {
        case IDT_LONG: return l = v->as<int32_t>(), BinaryOp::kNumberLong;
        case IDT_DOUBLE: return d = v->as<double>(), BinaryOp::kNumberDouble;
        default: return BinaryOp::kNumberNone;
    }
}

// What NumberLeaf gives for an operator or an indexed name, which its
// callers follow themselves.
constexpr int kNotLeaf = -1;

// A leaf of an expression read as a number, inline so that the operands of
// an operator cost no call: a Long or Double constant, True or False, a Long
// or Double variable the lookup cache holds (a frame local read in place).
// kNumberLong or kNumberDouble with the number in l or d; kNumberNone for a
// leaf the readers cannot take; kNotLeaf for an operator or an indexed name.
[[gnu::always_inline]] inline int NumberLeaf(const ExprNode* n, const Context& ctx, int32_t& l, double& d) {
    switch (n->type()) {
        case EXPR_LONG_CONSTANT: return l = static_cast<const LongConstant*>(n)->value(), BinaryOp::kNumberLong;
        case EXPR_DOUBLE_CONSTANT: return d = static_cast<const DoubleConstant*>(n)->value(), BinaryOp::kNumberDouble;
        case EXPR_SID: {
            const auto* sid = static_cast<const Sid*>(n);
            if (sid->isMe() || sid->isDotted() || sid->getIdType() != IDT_UNTYPED) return BinaryOp::kNumberNone;
            const uint16_t index = sid->idIndex();
            if (index >= kIdFalse) return l = index == kIdTrue ? -1 : 0, BinaryOp::kNumberLong;
            Member* m = ctx.cachedMember(index);
            if (const uint8_t* at = LocalDatum<int32_t>(m)) return l = LoadDatum<int32_t>(at), BinaryOp::kNumberLong;
            if (const uint8_t* at = LocalDatum<double>(m)) return d = LoadDatum<double>(at), BinaryOp::kNumberDouble;
            return SelfValueNumber(m, l, d);
        }
        case EXPR_BINARY_OP:
        case EXPR_CID: return kNotLeaf;
        default: return BinaryOp::kNumberNone;
    }
}

// The element an identifier with indices names, read as a Long or a Double
// (FindNumericElement); kNumberNone when it names none.
BinaryOp::PureNumberKind ElementNumber(const Cid& id, const Context& ctx, int32_t& l, double& d, int depth);

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
    double unused = 0;
    if (const int leaf = NumberLeaf(n, ctx, out, unused); leaf != kNotLeaf) return leaf == BinaryOp::kNumberLong;
    if (depth >= kPureLongDepth) return false;
    if (n->type() == EXPR_CID)
        return ElementNumber(*static_cast<const Cid*>(n), ctx, out, unused, depth) == BinaryOp::kNumberLong;
    const auto* b = static_cast<const BinaryOp*>(n);
    const BinOpType o = b->op();
    const bool arith = o <= BINOP_MUL || o == BINOP_INTDIV || o == BINOP_MOD;
    if (!(arith || (o >= BINOP_EQ && o <= BINOP_LE))) return false;
    int32_t x = 0, y = 0;
    const ExprNode* left = b->left();
    const ExprNode* right = b->right();
    int leaf = NumberLeaf(left, ctx, x, unused);
    if (leaf == kNotLeaf ? !PureLong(left, ctx, x, depth + 1) : leaf != BinaryOp::kNumberLong) return false;
    leaf = NumberLeaf(right, ctx, y, unused);
    if (leaf == kNotLeaf ? !PureLong(right, ctx, y, depth + 1) : leaf != BinaryOp::kNumberLong) return false;
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

// A Long operand of a Double operation is a Long subexpression (PureLong).
BinaryOp::PureNumberKind PureNumber(const ExprNode* n, const Context& ctx, int32_t& l, double& d, int depth) {
    if (const int leaf = NumberLeaf(n, ctx, l, d); leaf != kNotLeaf) return static_cast<BinaryOp::PureNumberKind>(leaf);
    if (depth >= kPureLongDepth) return BinaryOp::kNumberNone;
    if (n->type() == EXPR_CID) return ElementNumber(*static_cast<const Cid*>(n), ctx, l, d, depth);
    const auto* b = static_cast<const BinaryOp*>(n);
    const BinOpType o = b->op();
    if (o > BINOP_MUL) return PureLong(n, ctx, l, depth) ? BinaryOp::kNumberLong : BinaryOp::kNumberNone;
    int32_t xl = 0, yl = 0;
    double x = 0, y = 0;
    const ExprNode* leftNode = b->left();
    const ExprNode* rightNode = b->right();
    int left = NumberLeaf(leftNode, ctx, xl, x);
    if (left == kNotLeaf) left = PureNumber(leftNode, ctx, xl, x, depth + 1);
    if (left == BinaryOp::kNumberNone) return BinaryOp::kNumberNone;
    int right = NumberLeaf(rightNode, ctx, yl, y);
    if (right == kNotLeaf) right = PureNumber(rightNode, ctx, yl, y, depth + 1);
    if (right == BinaryOp::kNumberNone) return BinaryOp::kNumberNone;
    if (left == BinaryOp::kNumberLong && right == BinaryOp::kNumberLong)
        return LongArith(o, xl, yl, l) ? BinaryOp::kNumberLong : BinaryOp::kNumberNone;
    if (left == BinaryOp::kNumberLong) x = xl;
    if (right == BinaryOp::kNumberLong) y = yl;
    const double r = o == BINOP_ADD ? x + y : o == BINOP_SUB ? x - y : x * y;
    if (!std::isfinite(r)) return BinaryOp::kNumberNone;
    d = r;
    return BinaryOp::kNumberDouble;
}

bool FindNumericElement(const Cid& id, const Context& ctx, NumericElement& out, int depth) {
    const uint16_t count = id.argCount();
    if (count == 0 || count > ArrayField::kMaxDimensions || id.isMe() || id.isDotted() ||
        id.getIdType() != IDT_UNTYPED)
        return false;
    Member* m = ctx.cachedMember(id.idIndex());
    if (!m || !(m->memberTraits() & Member::kArrayReference)) return false;
    InterObjRep* obj = nullptr;
    SignatureRep* owner = nullptr;
    InterArrayField* array = static_cast<ArrayReferenceFieldValue*>(m)->arrayField(obj, owner);
    const IdType type = array->type() & IDT_TYPEMASK;
    if ((type != IDT_LONG && type != IDT_DOUBLE) || array->isBeingRemoved() || !obj || !owner ||
        array->dimensions() != count)
        return false;
    int32_t indices[ArrayField::kMaxDimensions];
    const ExprNode* arg = id.firstArg();
    for (uint16_t k = 0; k < count; ++k) {
        if (!PureLong(arg, ctx, indices[k], depth + 1)) return false;
        arg = reinterpret_cast<const ExprNode*>(arg->bytes() + arg->size());
    }
    const int32_t offset = array->offsetOf(indices);
    if (offset < 0) return false;
    out.at = array->elementBytes(*obj, *owner, offset, array->elementSize());
    out.type = type;
    out.obj = obj;
    out.writable = !array->isConst();
    return true;
}

namespace {

BinaryOp::PureNumberKind ElementNumber(const Cid& id, const Context& ctx, int32_t& l, double& d, int depth) {
    NumericElement e;
    if (!FindNumericElement(id, ctx, e, depth)) return BinaryOp::kNumberNone;
    if (e.type == IDT_LONG) return l = LoadDatum<int32_t>(e.at), BinaryOp::kNumberLong;
    return d = LoadDatum<double>(e.at), BinaryOp::kNumberDouble;
}

}  // namespace

}  // namespace tq
