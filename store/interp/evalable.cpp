#include "store/interp/evalable.h"

#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/srcctl.h"
#include "store/interp/stackfrm.h"

namespace tq {

namespace {

// Puts back the tables the context had before an immediate evaluation
// installed its own (an evaluation may run inside another: a watch
// condition during a debugger command).
struct Tables {
    Context& ctx;
    const IdStringVector* ids;
    const BlockVector* blocks;
    ~Tables() { ctx.setEvalTables(ids, blocks); }
};

}  // namespace

// ---- EvalableBlock -----------------------------------------------------------------------

EvalableBlock::EvalableBlock(IdDynamicVector& ids, BlockDynamicVector& blocks, const DeadSource& ds)
    : ds_(ds), ids_(ids, DETACHED_MODULE), blocks_(blocks, DETACHED_MODULE) {
    blocks_.setIdentifierCount(ids_.count());
}

void EvalableBlock::eval(Context& ctx, int propagate) {
    if (blocks_.length() == 0) return;
    BlockRep* block = blocks_.body();
    TQ_ASSERT(block != nullptr, "(BlockRep*)block");
    Tables restore{ctx, ctx.evalIds(), ctx.evalBlocks()};
    try {
        ctx.setEvalTables(&ids_, &blocks_);
        StackFrame frame(ctx, block, EvalFrame);
        ctx.setLastNode(nullptr);
        block->ieval(ctx);
    } catch (StoreException& e) {
        // A failure that a statement already gave its line keeps it: the
        // statement that failed may lie in a block run deeper down.
        if (!ctx.procField() && !e.handled) e.line = ctx.getLastNodeExeLine();
        if (propagate) throw;
    }
}

void EvalableBlock::print(std::ostream& os) const {
    if (ds_.get()) ds_->resetCursor();
    SourceControl sc(ds_, ids_, &blocks_, os);
    // A command line's statements stand at the left margin, not one step in
    // as a procedure's body does.
    sc.setIndentLevel(-1);
    if (blocks_.length() != 0) sc.printBlock(blocks_.length() - 1);
    sc.setIndentLevel(0);
    sc.printRemainingDS();
}

// ---- EvalableExpr ---------------------------------------------------------------------------

EvalableExpr::EvalableExpr(ExprPtr expr, IdDynamicVector& ids) : ids_(ids, DETACHED_MODULE), expr_(std::move(expr)) {}

ValuePtr EvalableExpr::eval(Context& ctx, int mustHaveValue) {
    Tables restore{ctx, ctx.evalIds(), ctx.evalBlocks()};
    ctx.setEvalTables(&ids_, nullptr);
    ValuePtr v = expr_ ? expr_->eval(ctx, 0) : ValuePtr();
    if (!v && mustHaveValue) throw StoreException(32725u);
    return v;
}

void EvalableExpr::print(std::ostream& os) const {
    SourceControl sc(DeadSource(), ids_, nullptr, os);
    if (expr_) expr_->print(sc);
}

}  // namespace tq
