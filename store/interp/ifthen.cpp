#include "store/interp/ifthen.h"

#include <string>

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/interp/nodechk.h"

namespace tq {

// ---- the one-line If --------------------------------------------------------------------------

StmtPtr SimpleIfThen::make(int32_t line, ExprPtr condition, uint32_t thenBlock, uint32_t elseBlock) {
    TQ_ASSERT(condition != nullptr, "condition");
    TQ_ASSERT(thenBlock != NO_BLOCK, "thenBlock != NO_BLOCK");
    const uint32_t size = kConditionOffset + condition->size();
    auto* node = ::new (Allocate(size)) SimpleIfThen(line);
    node->setSize(size);
    StoreLE32(node->bytes() + 15, thenBlock);
    StoreLE32(node->bytes() + 19, elseBlock);
    PlaceExpr(node->bytes(), kConditionOffset, condition);
    return StmtPtr(node);
}

void SimpleIfThen::eval(Context& ctx) const {
    const uint32_t chosen = IsTrue(condition(), ctx) ? thenBlock() : elseBlock();
    if (chosen != NO_BLOCK) RunInFrame(ctx, SubBlock(ctx, chosen), IfFrame);
}

void SimpleIfThen::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    c.subBlock(at, c.u32(at + 15));
    CheckOptionalBlock(c, at, c.u32(at + 19));
    if (c.expression(at + kConditionOffset, end, 1) != end)
        c.fail(at, "the size of SimpleIfThen does not match what it holds");
}

// ---- the block If ------------------------------------------------------------------------------

StmtPtr ComplexIfThen::make(int32_t line, std::vector<IfClause> clauses, uint32_t elseBlock, int32_t elseLine) {
    TQ_ASSERT(!clauses.empty(), "n > 0");
    const uint64_t n = clauses.size();
    uint64_t size = kBlocksOffset + 8 * n;
    for (const IfClause& c : clauses) {
        TQ_ASSERT(c.condition != nullptr && c.block != NO_BLOCK, "clause condition && block");
        size += c.condition->size();
    }
    TQ_ASSERT(size <= 0x7FFFFFFF, "size <= 0x7FFFFFFF");
    auto* node = ::new (Allocate(size)) ComplexIfThen(line);
    node->setSize(static_cast<uint32_t>(size));
    uint8_t* b = node->bytes();
    const uint32_t lines = kBlocksOffset + 4 * static_cast<uint32_t>(n);
    uint32_t at = lines + 4 * static_cast<uint32_t>(n);
    StoreLE32(b + 15, static_cast<uint32_t>(n));
    StoreLE32(b + 19, static_cast<uint32_t>(elseLine));
    StoreLE32(b + 23, elseBlock);
    StoreLE32(b + 27, lines);
    StoreLE32(b + 31, at);
    for (uint32_t i = 0; i < n; ++i) {
        StoreLE32(b + kBlocksOffset + 4 * i, clauses[i].block);
        StoreLE32(b + lines + 4 * i, static_cast<uint32_t>(clauses[i].line));
        at = PlaceExpr(b, at, clauses[i].condition);
    }
    return StmtPtr(node);
}

void ComplexIfThen::eval(Context& ctx) const {
    uint32_t chosen = elseBlock();
    const ExprNode* cond = firstCondition();
    const uint32_t n = clauseCount();
    for (uint32_t i = 0; i < n; ++i, cond = NextExpr(cond)) {
        if (IsTrue(cond, ctx)) {
            chosen = block(i);
            break;
        }
    }
    if (chosen != NO_BLOCK) RunInFrame(ctx, SubBlock(ctx, chosen), IfFrame);
}

void ComplexIfThen::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    const uint32_t n = c.u32(at + 15);
    const uint64_t lines = kBlocksOffset + 4 * uint64_t(n);
    const uint64_t conditions = lines + 4 * uint64_t(n);
    if (n == 0) c.fail(at, "a block If has no condition");
    if (at + conditions > end) c.fail(at, "the " + std::to_string(n) + " clauses of ComplexIfThen run past it");
    if (c.u32(at + 27) != lines || c.u32(at + 31) != conditions)
        c.fail(at, "the table offsets of ComplexIfThen do not match its clause count");
    CheckOptionalBlock(c, at, c.u32(at + 23));
    uint32_t pos = at + static_cast<uint32_t>(conditions);
    for (uint32_t i = 0; i < n; ++i) {
        c.subBlock(at, c.u32(at + kBlocksOffset + 4 * i));
        pos = c.expression(pos, end, 1);
    }
    if (pos != end) c.fail(pos, "the size of ComplexIfThen does not match what it holds");
}

}  // namespace tq
