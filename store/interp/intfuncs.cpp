#include "store/interp/intfuncs.h"

#include <ostream>
#include <string>

#include "platform/util/syserror.h"
#include "platform/util/uassert.h"
#include "store/arfldval.h"
#include "store/errors/extexcep.h"
#include "store/interp/nodechk.h"
#include "store/interp/srcctl.h"
#include "store/vals.h"

namespace tq {

namespace {

constexpr int32_t kQBColors[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

uint32_t stashedAPIError = 0;

ValuePtr Long(int32_t n) { return ValuePtr(new LongValue(n)); }

// A value of its own: a value that stands for storage (a variable, an
// element) is copied, so the caller cannot write through it.
ValuePtr Detached(ValuePtr v) {
    const IdType t = v->type();
    if (v->isDirect() || t < IDT_SHORT || t > IDT_OBJECT) return v;
    return DirectValueClassFactory(t, v.get());
}

uint32_t WalkOperands(NodeCheck& c, uint32_t at, uint32_t end, int depth, int n) {
    for (int i = 0; i < n; ++i) at = c.expression(at, end, depth + 1);
    return at;
}

void ExactEnd(NodeCheck& c, uint32_t reached, uint32_t end, const char* kind) {
    if (reached != end) c.fail(reached, std::string("the size of ") + kind + " does not match what it holds");
}

}  // namespace

// ---- LBound, UBound ----------------------------------------------------------------------

ExprPtr IntrBound::make(uint8_t which, ExprPtr array, ExprPtr dim) {
    TQ_ASSERT(array != nullptr, "expr");
    TQ_ASSERT(which == kLBound || which == kUBound, "which == LBound || which == UBound");
    const uint32_t size = kArrayOffset + array->size() + (dim ? dim->size() : 0);
    auto* node = ::new (Allocate(size)) IntrBound(which);
    node->setSize(size);
    const uint32_t at = node->embed(kArrayOffset, std::move(array));
    if (dim)
        node->embed(at, std::move(dim));
    else
        node->addFlags(kNoDimension);
    return ExprPtr(node);
}

ValuePtr IntrBound::eval(Context& lookup, Context& args) const {
    ValuePtr a = array()->eval(lookup, args, EVAL_VALUE_REQUIRED);
    auto* ref = dynamic_cast<ArrayReferenceFieldValue*>(a.get());
    if (!ref) throw TypeMismatch("InterBound::eval()", 32765);
    int32_t dim = 1;
    if (const ExprNode* d = dimension()) dim = d->eval(lookup, args, EVAL_VALUE_REQUIRED)->as<int32_t>();
    const ArrayField& field = *ref->arrayField();
    if (dim < 1 || dim > field.dimensions()) throw RangeError(32729, 1, field.dimensions(), dim);
    return Long(which() == kLBound ? field.getLBound(dim - 1) : field.getUBound(dim - 1));
}

void IntrBound::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    os << (which() == kLBound ? "LBound(" : "UBound(");
    array()->print(sc);
    if (const ExprNode* d = dimension()) {
        os << ", ";
        d->print(sc);
    }
    os << ')';
}

void CheckIntrBound(NodeCheck& c, uint32_t at, uint32_t end, int depth) {
    const uint8_t which = c.u8(at + 7);
    if (which != IntrBound::kLBound && which != IntrBound::kUBound)
        c.fail(at, "unknown bound function " + std::to_string(which));
    const int operands = (c.u8(at + 6) & IntrBound::kNoDimension) ? 1 : 2;
    ExactEnd(c, WalkOperands(c, at + IntrBound::kArrayOffset, end, depth, operands), end, "IntrBound");
}

ValuePtr EvalIntrBound(const ExprNode& node, Context& lookup, Context& args, int32_t) {
    return static_cast<const IntrBound&>(node).eval(lookup, args);
}

// ---- RGB, QBColor -------------------------------------------------------------------------

IntrColor::IntrColor(tColorFunc func) : ExprNode(EXPR_INTR_COLOR, kArgOffset) { StoreLE32(func_, func); }

ExprPtr IntrColor::make(tColorFunc func, ExprPtr e1, ExprPtr e2, ExprPtr e3) {
    TQ_ASSERT(func == kColorRGB || func == kColorQB, "tColorFunc");
    TQ_ASSERT(func == kColorRGB ? (e1 && e2 && e3) : (e1 && !e2 && !e3), "e1 && (RGB: e2 && e3)");
    uint32_t size = kArgOffset + e1->size();
    if (e2) size += e2->size() + e3->size();
    auto* node = ::new (Allocate(size)) IntrColor(func);
    node->setSize(size);
    uint32_t at = node->embed(kArgOffset, std::move(e1));
    if (e2) node->embed(node->embed(at, std::move(e2)), std::move(e3));
    return ExprPtr(node);
}

int32_t IntrColor::QBColor(int32_t n) { return kQBColors[((n % 16) + 16) % 16]; }

ValuePtr IntrColor::eval(Context& lookup, Context& args) const {
    const ExprNode* e = firstArg();
    if (func() == kColorQB) return Long(QBColor(e->eval(lookup, args, EVAL_VALUE_REQUIRED)->as<int32_t>()));
    int64_t c[3];
    for (int64_t& part : c) {
        part = e->eval(lookup, args, EVAL_VALUE_REQUIRED)->as<int32_t>() % 256;
        e = e->nodeAt(e->size());
    }
    return Long(static_cast<int32_t>(c[0] + c[1] * 256 + c[2] * 65536));
}

void IntrColor::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    const bool rgb = func() == kColorRGB;
    os << (rgb ? "RGB(" : "QBColor(");
    const ExprNode* e = firstArg();
    for (int i = 0; i < (rgb ? 3 : 1); ++i) {
        if (i > 0) os << ", ";
        e->print(sc);
        e = e->nodeAt(e->size());
    }
    os << ')';
}

void CheckIntrColor(NodeCheck& c, uint32_t at, uint32_t end, int depth) {
    const uint32_t func = c.u32(at + 7);
    if (func != kColorRGB && func != kColorQB) c.fail(at, "unknown colour function " + std::to_string(func));
    const int n = func == kColorRGB ? 3 : 1;
    ExactEnd(c, WalkOperands(c, at + IntrColor::kArgOffset, end, depth, n), end, "IntrColor");
}

ValuePtr EvalIntrColor(const ExprNode& node, Context& lookup, Context& args, int32_t) {
    return static_cast<const IntrColor&>(node).eval(lookup, args);
}

// ---- IIf ------------------------------------------------------------------------------------

ExprPtr IntrIIf::make(ExprPtr cond, ExprPtr a, ExprPtr b) {
    TQ_ASSERT(cond && a && b, "e1 && e2 && e3");
    const uint32_t size = kCondOffset + cond->size() + a->size() + b->size();
    auto* node = ::new (Allocate(size)) IntrIIf();
    node->setSize(size);
    node->embed(node->embed(node->embed(kCondOffset, std::move(cond)), std::move(a)), std::move(b));
    return ExprPtr(node);
}

ValuePtr IntrIIf::eval(Context& lookup, Context& args) const {
    const bool truth = condition()->eval(lookup, args, EVAL_VALUE_REQUIRED)->as<int32_t>() != 0;
    return Detached((truth ? whenTrue() : whenFalse())->eval(lookup, args, EVAL_VALUE_REQUIRED));
}

void IntrIIf::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    os << "IIf(";
    condition()->print(sc);
    os << ", ";
    whenTrue()->print(sc);
    os << ", ";
    whenFalse()->print(sc);
    os << ')';
}

void CheckIntrIIf(NodeCheck& c, uint32_t at, uint32_t end, int depth) {
    ExactEnd(c, WalkOperands(c, at + IntrIIf::kCondOffset, end, depth, 3), end, "IntrIIf");
}

ValuePtr EvalIntrIIf(const ExprNode& node, Context& lookup, Context& args, int32_t) {
    return static_cast<const IntrIIf&>(node).eval(lookup, args);
}

// ---- the API error stash ------------------------------------------------------------------

uint32_t StashLastAPIErrorCode() {
    stashedAPIError = static_cast<uint32_t>(LastSystemError());
    return stashedAPIError;
}

uint32_t RetrieveStashedAPIErrorCode() { return stashedAPIError; }

void SetStashedAPIErrorCode(uint32_t code) {
    stashedAPIError = code;
    SetLastSystemError(static_cast<int>(code));
}

}  // namespace tq
