// Immediate evaluation: a statement list or one expression compiled on the
// spot (the debugger's command line, the actions and conditions of stop
// points) and run in whatever context is current.
//
// Each owns the identifier and block tables the compiler built for it,
// attached to DETACHED_MODULE. While it runs, its tables are installed on
// the context (Context::setEvalTables), so its identifier indexes are read
// from its own table and the context's lookup cache stays out of the way.
#pragma once

#include <iosfwd>
#include <memory>

#include "store/block.h"
#include "store/deadsrc.h"
#include "store/interp/exprnode.h"
#include "store/persist/idstr.h"
#include "store/vals.h"

namespace tq {

class Context;

class EvalableBlock {
public:
    // Takes over the compiler's tables and empties them for reuse (the
    // identifier vector with room for 64 names). The last block is the one
    // that runs; ds holds the text its nodes do not (comments).
    EvalableBlock(IdDynamicVector& ids, BlockDynamicVector& blocks, const DeadSource& ds = DeadSource());
    EvalableBlock(const EvalableBlock&) = delete;
    EvalableBlock& operator=(const EvalableBlock&) = delete;

    // Runs the main block in a frame of type EvalFrame. A failure is passed
    // on when propagate is non-zero and swallowed otherwise; without a
    // procedure its line is the last statement started.
    void eval(Context& ctx, int propagate);
    // Writes the statements as source text, the main block's statements
    // without indentation.
    void print(std::ostream& os) const;

    const IdStringVector& identifiers() const { return ids_; }
    const BlockVector& blocks() const { return blocks_; }
    const DeadSource& deadSource() const { return ds_; }

private:
    DeadSource ds_;
    IdStringVector ids_;
    BlockVector blocks_;
};

class EvalableExpr {
public:
    // Takes over expr and the compiler's identifier table (emptied for
    // reuse).
    EvalableExpr(ExprPtr expr, IdDynamicVector& ids);
    EvalableExpr(const EvalableExpr&) = delete;
    EvalableExpr& operator=(const EvalableExpr&) = delete;

    // The expression's value in ctx; StoreException 32725 "Expression has no
    // value." when it gives none and mustHaveValue is non-zero.
    ValuePtr eval(Context& ctx, int mustHaveValue);
    // Writes the expression as source text.
    void print(std::ostream& os) const;

    const IdStringVector& identifiers() const { return ids_; }
    const ExprNode* expression() const { return expr_.get(); }

private:
    IdStringVector ids_;
    ExprPtr expr_;
};

}  // namespace tq
