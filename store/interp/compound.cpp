#include "store/interp/compound.h"

#include <string>

#include "store/block.h"
#include "store/context.h"
#include "store/errors/storeexc.h"
#include "store/interp/binop.h"
#include "store/interp/nodechk.h"

namespace tq {

BlockRep* SubBlock(const Context& ctx, uint32_t index) {
    const BlockVector* table = ctx.blockTable();
    BlockRep* b = table ? table->block(index) : nullptr;
    if (!b) {
        const std::string text = "Block " + std::to_string(index) + " is not in the running code's block table.";
        throw StoreException(text.c_str(), nullptr);
    }
    return b;
}

bool RunInFrame(Context& ctx, BlockRep* block, FrameType type) {
    StackFrame frame(ctx, block, type);
    block->ieval(ctx);
    return frame.isLinked();
}

bool IsTrue(const ExprNode* condition, Context& ctx) {
    // A comparison (or any operator with a Long result) is tested as the
    // number: no value is made to hold it.
    if (condition->type() == EXPR_BINARY_OP) {
        int32_t n = 0;
        ValuePtr v;
        if (static_cast<const BinaryOp*>(condition)->evalLong(ctx, ctx, n, v)) return n != 0;
        return v->as<int32_t>() != 0;
    }
    return condition->eval(ctx, EVAL_VALUE_REQUIRED)->as<int32_t>() != 0;
}

void CheckOptionalBlock(NodeCheck& c, uint32_t nodeAt, uint32_t index) {
    if (index != NO_BLOCK) c.subBlock(nodeAt, index);
}

}  // namespace tq
