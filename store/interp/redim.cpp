#include "store/interp/redim.h"

#include <cstdlib>
#include <string>

#include "platform/util/sysclock.h"
#include "platform/util/uassert.h"
#include "store/arfldval.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/mathfunc.h"
#include "store/interp/nodechk.h"

namespace tq {

// ---- ReDim -----------------------------------------------------------------------------------

StmtPtr RedimStmt::make(int32_t line, std::unique_ptr<Sid> array, std::vector<std::unique_ptr<ExprNodePair>> dims,
                        bool preserve) {
    TQ_ASSERT(array && !array->isMe() && !array->isTruthConstant(), "array");
    TQ_ASSERT(!dims.empty() && dims.size() <= 0xFFFF, "dims");
    uint64_t size = kPairsOffset;
    for (const auto& d : dims) {
        TQ_ASSERT(d && d->second(), "upperExpr");
        size += d->size();
    }
    TQ_ASSERT(size <= 0x7FFFFFFF, "size <= 0x7FFFFFFF");
    auto* node = ::new (Allocate(size)) RedimStmt(line);
    node->setSize(static_cast<uint32_t>(size));
    if (preserve) node->addFlags(kPreserve);
    uint8_t* b = node->bytes();
    std::memcpy(b + kArrayOffset, array->bytes(), Sid::kSize);
    StoreLE16(b + kCountOffset, static_cast<uint16_t>(dims.size()));
    uint32_t at = kPairsOffset;
    for (auto& d : dims) {
        std::memcpy(b + at, d->bytes(), d->size());
        at += d->size();
        d.reset();
    }
    return StmtPtr(node);
}

void RedimStmt::eval(Context& ctx) const {
    ValuePtr v = array()->eval(ctx, EVAL_VALUE_REQUIRED);
    auto* whole = dynamic_cast<ArrayReferenceFieldValue*>(v.get());
    if (!whole) throw TypeMismatch("RedimStmt::eval()", 32765);
    InterArrayField* old = whole->arrayField();
    InterObj obj(whole->object());
    Signature owner(whole->ownerSignature());
    if (!old || obj.isNull() || !owner.get()) throw TypeMismatch("RedimStmt::eval()", 32765);
    InterArrayField* resized = old->redimCopy(dimensionCount());
    FieldPtr keep(resized);
    const ExprNodePair* pair = firstPair();
    for (uint16_t i = 0; i < dimensionCount(); ++i) {
        resized->defineDimen(i, const_cast<ExprNode*>(pair->first()), const_cast<ExprNode*>(pair->second()), ctx);
        pair = reinterpret_cast<const ExprNodePair*>(pair->bytes() + pair->size());
    }
    v.reset();
    obj->redimArrayField(*owner, resized, preserve() ? 1 : 0);
}

void RedimStmt::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    if (c.u16(at + kArrayOffset) != EXPR_SID || c.u32(at + kArrayOffset + 2) != Sid::kSize)
        c.fail(at + kArrayOffset, "ReDim does not name its array with a simple identifier");
    if (c.u8(at + kArrayOffset + 6) & ExprNode::kMe) c.fail(at + kArrayOffset, "ReDim names Me as its array");
    const uint16_t index = c.u16(at + kArrayOffset + 8);
    if (index >= kIdFalse) c.fail(at + kArrayOffset, "ReDim names True or False as its array");
    c.identifier(at + kArrayOffset, index);
    const uint16_t n = c.u16(at + kCountOffset);
    if (n == 0) c.fail(at, "ReDim has no dimensions");
    uint32_t pos = at + kPairsOffset;
    for (uint16_t i = 0; i < n; ++i) {
        if (uint64_t(pos) + ExprNodePair::kFixedSize > end) c.fail(pos, "a bounds pair runs past its ReDim");
        const uint32_t size = c.u32(pos + 2);
        if (c.u16(pos) != 1 || size < ExprNodePair::kFixedSize || uint64_t(pos) + size > end)
            c.fail(pos, "a bounds pair of ReDim is not one");
        const uint32_t firstAt = c.u32(pos + 7), secondAt = c.u32(pos + 11);
        uint32_t e = pos + ExprNodePair::kFixedSize;
        if (firstAt != 0) {
            if (firstAt != ExprNodePair::kFixedSize) c.fail(pos, "the lower bound of a bounds pair is misplaced");
            e = c.expression(e, pos + size, 1);
        }
        if (secondAt == 0 || pos + secondAt != e) c.fail(pos, "the upper bound of a bounds pair is missing or misplaced");
        e = c.expression(e, pos + size, 1);
        if (e != pos + size) c.fail(pos, "the size of a bounds pair does not match what it holds");
        pos = e;
    }
    if (pos != end) c.fail(pos, "the size of RedimStmt does not match what it holds");
}

// ---- Randomize -----------------------------------------------------------------------------

StmtPtr RandomizeStmt::make(int32_t line, ExprPtr seed) {
    const uint32_t size = kHeadSize + (seed ? seed->size() : 0);
    auto* node = ::new (Allocate(size)) RandomizeStmt(line);
    node->setSize(size);
    if (seed)
        PlaceExpr(node->bytes(), kHeadSize, seed);
    else
        node->addFlags(kNoSeed);
    return StmtPtr(node);
}

// Without a seed, a sub-second clock mixed with the process id: the whole
// seconds alone gave two runs started in the same second the same series,
// and runs a second apart nearly the same one.
void RandomizeStmt::eval(Context& ctx) const {
    const ExprNode* s = seed();
    const uint32_t value = s ? static_cast<uint32_t>(s->eval(ctx, EVAL_VALUE_REQUIRED)->as<int32_t>())
                             : ClockSeed();
    RandomSeed(value);
}

void RandomizeStmt::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    if (c.u8(at + 6) & kNoSeed) {
        if (end - at != kHeadSize) c.fail(at, "Randomize without a seed holds more than its head");
        return;
    }
    if (c.expression(at + kHeadSize, end, 1) != end)
        c.fail(at, "the size of RandomizeStmt does not match what it holds");
}

}  // namespace tq
