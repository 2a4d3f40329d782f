#include "store/interp/nodechk.h"

#include "platform/util/lebytes.h"
#include "store/errors/extexcep.h"
#include "store/interp/execnode.h"
#include "store/interp/exprnode.h"
#include "store/interp/nodekinds.h"

namespace tq {

NodeCheck::NodeCheck(const uint8_t* area, uint32_t length, std::string where)
    : area_(area), length_(length), where_(std::move(where)) {}

void NodeCheck::fail(uint32_t at, const std::string& what) const {
    const std::string text = where_ + ": " + what + " at offset " + std::to_string(at);
    throw ObjectLoadFailed(text.c_str());
}

uint8_t NodeCheck::u8(uint32_t at) const {
    if (at >= length_) fail(at, "a field runs past the block");
    return area_[at];
}

uint16_t NodeCheck::u16(uint32_t at) const {
    if (uint64_t(at) + 2 > length_) fail(at, "a field runs past the block");
    return LoadLE16(area_ + at);
}

uint32_t NodeCheck::u32(uint32_t at) const {
    if (uint64_t(at) + 4 > length_) fail(at, "a field runs past the block");
    return LoadLE32(area_ + at);
}

BlockUses NodeCheck::checkStatements(uint32_t nodeCount) {
    uint32_t at = 0;
    for (uint32_t i = 0; i < nodeCount; ++i) {
        if (uint64_t(at) + ExecNode::kHeadSize > length_)
            fail(at, "statement " + std::to_string(i + 1) + " of " + std::to_string(nodeCount) +
                         " runs past the block");
        const uint16_t kind = u16(at);
        const uint32_t size = u32(at + 2);
        const StatementKind* k = FindStatementKind(kind);
        if (!k) fail(at, "unknown statement kind " + std::to_string(kind));
        if (!IsSupported(k))
            fail(at, std::string("statement kind ") + std::to_string(kind) + " (" + k->name +
                         ") is not supported by this library");
        if (size < k->minSize)
            fail(at, "size " + std::to_string(size) + " is too small for " + k->name);
        if (uint64_t(at) + size > length_) fail(at, "a statement's size runs past the block");
        k->check(*this, at, at + size);
        at += size;
    }
    if (at != length_) fail(at, "bytes after the last statement");
    return uses_;
}

uint32_t NodeCheck::expression(uint32_t at, uint32_t limit, int depth) {
    if (depth > kMaxNesting) fail(at, "expressions nest deeper than " + std::to_string(kMaxNesting));
    if (uint64_t(at) + ExprNode::kHeadSize > limit) fail(at, "an expression runs past its parent");
    const uint16_t kind = u16(at);
    const uint32_t size = u32(at + 2);
    const ExpressionKind* k = FindExpressionKind(kind);
    if (!k) fail(at, "unknown expression kind " + std::to_string(kind));
    if (!IsSupported(k))
        fail(at, std::string("expression kind ") + std::to_string(kind) + " (" + k->name +
                     ") is not supported by this library");
    if (size < k->minSize) fail(at, "size " + std::to_string(size) + " is too small for " + k->name);
    if (uint64_t(at) + size > limit) fail(at, "an expression's size runs past its parent");
    k->check(*this, at, at + size, depth);
    return at + size;
}

uint32_t NodeCheck::identifierExpression(uint32_t at, uint32_t limit, int depth) {
    if (uint64_t(at) + 2 <= limit) {
        const uint16_t kind = u16(at);
        if (kind != EXPR_SID && kind != EXPR_CID && kind != EXPR_MID)
            fail(at, "an identifier must stand here, not expression kind " + std::to_string(kind));
    }
    return expression(at, limit, depth);
}

void NodeCheck::identifier(uint32_t nodeAt, uint32_t index) {
    if (static_cast<int32_t>(index) > uses_.maxIdIndex) {
        uses_.maxIdIndex = static_cast<int32_t>(index);
        uses_.idNodeOffset = nodeAt;
    }
}

void NodeCheck::subBlock(uint32_t nodeAt, uint32_t index) {
    if (index == kNoBlock) fail(nodeAt, "a sub-block is missing");
    if (index > 0x7FFFFFFF) fail(nodeAt, "sub-block index " + std::to_string(index) + " is out of range");
    if (static_cast<int32_t>(index) > uses_.maxBlockIndex) {
        uses_.maxBlockIndex = static_cast<int32_t>(index);
        uses_.blockNodeOffset = nodeAt;
    }
    uses_.subBlocks.emplace_back(index, nodeAt);
}

}  // namespace tq
