// What the compound statements share: how they name and run the statement
// lists they own, and how their builders lay operands into a node.
//
// A compound statement (If, Select Case, the loops, With, Try) does not
// embed the statement lists it runs: it names them by index into the block
// table of the running code (Context::blockTable: the immediate
// evaluation's table when one is installed, else the procedure's). NO_BLOCK
// names no block.
//
// Each runs the list it chose in a frame of its own type (stackfrm.h), so
// that Exit and the debugger see it, and after every run asks whether an
// Exit unlinked that frame; then it stops at once. A loop pushes one frame
// for the whole loop, not one per turn.
#pragma once

#include <cstdint>
#include <cstring>

#include "store/interp/execnode.h"
#include "store/interp/exprnode.h"
#include "store/interp/stackfrm.h"

namespace tq {

class BlockRep;
class Context;
class NodeCheck;

inline constexpr uint32_t NO_BLOCK = 0xFFFFFFFF;

// Block index of the running code's table. A block that is not there
// (code run with another code's table, or a builder given a wrong index)
// raises StoreException naming the index rather than running nothing.
BlockRep* SubBlock(const Context& ctx, uint32_t index);

// Runs block in a new frame of type; false when an Exit unlinked the frame.
bool RunInFrame(Context& ctx, BlockRep* block, FrameType type);

// Writes e's bytes at `at`, frees e and returns the offset behind them.
inline uint32_t PlaceExpr(uint8_t* base, uint32_t at, ExprPtr& e) {
    const uint32_t n = e->size();
    std::memcpy(base + at, e->bytes(), n);
    e.reset();
    return at + n;
}

inline const ExprNode* ExprAt(const ExecNode* node, uint32_t at) {
    return reinterpret_cast<const ExprNode*>(node->bytes() + at);
}
inline const ExprNode* NextExpr(const ExprNode* e) {
    return reinterpret_cast<const ExprNode*>(e->bytes() + e->size());
}

// The truth of a condition: its value's Long conversion is not 0.
bool IsTrue(const ExprNode* condition, Context& ctx);

// Checks of a stored node's fields that several kinds share: a sub-block
// index that may be NO_BLOCK, and one that must not be.
void CheckOptionalBlock(NodeCheck& c, uint32_t nodeAt, uint32_t index);

}  // namespace tq
