#include "store/interp/stackfrm.h"

#include <algorithm>
#include <ostream>
#include <string>

#include "platform/util/stackroom.h"
#include "platform/util/uassert.h"
#include "store/block.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/methfld.h"
#include "store/model/interobj.h"
#include "store/model/objiter.h"
#include "store/persist/vlstrrep.h"

namespace tq {

ExecutionStack ExecutionStack::execStack;

namespace {

// A variable object a block names must be a worker of the right kind: the
// block's record comes from a file, and anything else (a static object, say)
// would be cloned, scoped and destroyed as if it were one.
[[noreturn]] void BadVarObj(const BlockRep& b, const char* which) {
    const std::string text = std::string(BlockRep::storageName) + " entry " +
                             std::to_string(b.descriptor().descIndex()) + ": the " + which +
                             " object is not one";
    throw ObjectLoadFailed(text.c_str());
}

}  // namespace

// ---- frames ---------------------------------------------------------------------------

StackFrame::StackFrame(Context& ctx, BlockRep* block, FrameType type, InterObjRep* args, bool ownsArgs)
    : block_(block), ctx_(ctx), type_(type), args_(args), ownsArgs_(ownsArgs) {
    bool localsPushed = false, staticsPushed = false, argsPushed = false;
    try {
        if (StackRoom::Short(kStackReserve)) throw StackOverflow("StackFrame::StackFrame()", 32713);
        if (block) {
            if (InterObjRep* proto = block->localVarObj()) {
                if (!proto->isLocalVarProto()) BadVarObj(*block, "local-variable");
                locals_ = InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY);
                ctx.pushLocals(locals_);
                localsPushed = true;
            }
            if (InterObjRep* statics = block->staticVarObj()) {
                if (!statics->isWorkerObj()) BadVarObj(*block, "static-variable");
                statics_ = statics;
                ctx.pushLocals(statics_);
                staticsPushed = true;
            }
        }
        if (args_) {
            ctx.pushLocals(args_);
            argsPushed = true;
        }
    } catch (...) {
        // The frame owns args (unless told otherwise) and its locals clone
        // from the start: neither may outlive a frame that was never pushed.
        if (argsPushed)
            ctx.popScope(args_, ownsArgs_);
        else if (args_ && ownsArgs_)
            args_->destroy();
        if (staticsPushed) ctx.popScope(statics_, false);
        if (localsPushed)
            ctx.popScope(locals_, true);
        else if (locals_)
            locals_->destroy();
        throw;
    }
    ++ctx.frameCount();
    position_ = ExecutionStack::pushFrame(*this);
    linked_ = true;
}

StackFrame::~StackFrame() {
    if (linked_) {
        // Frames nest with the native stack: a frame still linked when it
        // goes is the top one.
        TQ_ASSERT(ExecutionStack::top() == this, "frames");
        ExecutionStack::popFrame(type_, ctx_.frameCount());
    }
    popScopes();
}

void StackFrame::popScopes() {
    if (args_) ctx_.popScope(args_, ownsArgs_);
    if (statics_) ctx_.popScope(statics_, false);
    if (locals_) ctx_.popScope(locals_, true);
    args_ = statics_ = locals_ = nullptr;
}

InterProcField* StackFrame::proc() const { return ctx_.procField(); }

void StackFrame::lineWithArgs(std::ostream& os) const {
    InterProcField* p = proc();
    if (!p) {
        os << "Block with no source." << '\0';
        return;
    }
    os << p->name() << "(";
    if (args_) {
        // The values of the parameters, as the language shows them; a value
        // that cannot be read (a reference whose caller has gone) shows as
        // "?" rather than ending the list.
        bool first = true;
        InterObjFieldIterator fields(args_);
        while (Field* f = fields()) {
            if (!f->isData()) continue;
            if (!first) os << ", ";
            first = false;
            try {
                ValString text;
                f->get(text, *args_, *fields.signature());
                const char* c = text;
                os << (c ? c : "");
            } catch (const StoreException&) {
                os << "?";
            }
        }
    }
    os << ") at line " << (node_ ? node_->runningLine() : (block_.is() ? block_->endLine() : 0)) << '\0';
}

// ---- the depth of calls ------------------------------------------------------------------

constinit thread_local int32_t CallDepth::depth_ = 0;
constinit thread_local int32_t CallDepth::limit_ = 0;

int32_t CallDepth::Limit() {
    if (limit_ == 0) {
        const char* low = nullptr;
        const char* high = nullptr;
        StackRoom::Bounds(low, high);
        // The size the stack was given: what is usable of it is that less
        // what the process started with (its arguments and environment),
        // which must not move the limit from one run to the next.
        constexpr std::size_t kGrain = std::size_t(64) << 10;
        const std::size_t usable = high > low ? static_cast<std::size_t>(high - low) : StackRoom::kAssumedStackSize;
        const std::size_t size = (usable + kGrain - 1) / kGrain * kGrain;
        limit_ = static_cast<int32_t>(std::max<std::size_t>(size / kStackPerCall, 1));
    }
    return limit_;
}

void CallDepth::Deeper() {
    if (depth_ >= Limit()) throw StackOverflow("StackFrame::StackFrame()", 32713);
}

// ---- the stack ------------------------------------------------------------------------------

int32_t ExecutionStack::pushFrame(StackFrame& frame) {
    // The call-run facts are kept as frames come, so that a walk of the
    // calls can step over a recursion in one move (callChain).
    StackFrame* lastCall = execStack.top_ ? execStack.top_->lastCall_ : nullptr;
    if (frame.isCall()) {
        if (lastCall && lastCall->proc() == frame.proc() && lastCall->ctx_.me() == frame.ctx_.me()) {
            frame.runLength_ = lastCall->runLength_ + 1;
            frame.runBottom_ = lastCall->runBottom_;
        } else {
            frame.runLength_ = 1;
            frame.runBottom_ = &frame;
        }
        lastCall = &frame;
    }
    frame.lastCall_ = lastCall;
    frame.below_ = execStack.top_;
    frame.above_ = nullptr;
    if (execStack.top_) execStack.top_->above_ = &frame;
    execStack.top_ = &frame;
    return ++execStack.count_;
}

void ExecutionStack::popFrame(FrameType type, int32_t& counter) {
    for (;;) {
        StackFrame* f = execStack.top_;
        TQ_ASSERT(f != nullptr, "frames");
        execStack.top_ = f->below_;
        if (execStack.top_) execStack.top_->above_ = nullptr;
        f->below_ = nullptr;
        f->linked_ = false;
        --execStack.count_;
        --counter;
        if (f->type_ == type) return;
    }
}

bool ExecutionStack::frameTypeExists(FrameType type, int32_t n) {
    StackFrame* f = execStack.top_;
    for (int32_t i = 0; i < n && f; ++i, f = f->below_) {
        if (f->type_ == type) return true;
    }
    return false;
}

std::vector<CallChainEntry> ExecutionStack::callChain(int32_t shown) {
    std::vector<CallChainEntry> chain;
    const Context* current = nullptr;
    int32_t line = 0;
    const StackFrame* lastCall = nullptr;
    int32_t ofThisRun = 0;
    for (StackFrame* f = execStack.top_; f; f = f->below_) {
        ++chainFramesVisited_;
        if (&f->context() != current) {
            current = &f->context();
            line = f->node() ? f->node()->runningLine() : 0;
        }
        if (!f->isCall()) continue;
        const bool sameRun = lastCall && lastCall->runBottom_ == f->runBottom_;
        ofThisRun = sameRun ? ofThisRun + 1 : 1;
        lastCall = f;
        chain.push_back({f, line, 0});
        if (ofThisRun < std::max(shown, 1) || f->runLength_ <= 1) continue;
        // The calls of the run beneath this one are counted, and the walk
        // goes on beneath the first of them, in the context of its caller.
        chain.push_back({f->runBottom_, 0, f->runLength_ - 1});
        f = f->runBottom_;
        current = &f->context();
    }
    return chain;
}

// ---- the iterator ---------------------------------------------------------------------------------

namespace {

bool IsProcedureFrame(const StackFrame* f) { return f->type() == FunctionFrame || f->type() == SubFrame; }

}  // namespace

StackFrame* ExecutionStackIterator::current() const {
    TQ_ASSERT(cursor_ != nullptr, "cursor");
    return cursor_;
}

StackFrame* ExecutionStackIterator::next(ESI_matchType how) {
    if (!cursor_) return nullptr;
    StackFrame* f = nullptr;
    switch (how) {
        case ESI_SAME: return cursor_;
        case ESI_ANY: f = cursor_->below(); break;
        case ESI_PROCEDURE: {
            // Past the procedure frame of the cursor's procedure, to the
            // innermost frame of the procedure that called it.
            StackFrame* p = cursor_;
            while (p && !IsProcedureFrame(p)) p = p->below();
            f = p ? p->below() : nullptr;
            while (f && !f->context().procField()) f = f->below();
            break;
        }
    }
    if (f) cursor_ = f;
    return f;
}

StackFrame* ExecutionStackIterator::previous(ESI_matchType how) {
    if (!cursor_) return nullptr;
    StackFrame* f = nullptr;
    switch (how) {
        case ESI_SAME: return cursor_;
        case ESI_ANY: f = cursor_->above(); break;
        case ESI_PROCEDURE: {
            // The next procedure frame above the cursor, then the innermost
            // frame of that procedure's activation.
            StackFrame* p = cursor_->above();
            while (p && !IsProcedureFrame(p)) p = p->above();
            f = p;
            while (f && f->above() && &f->above()->context() == &p->context()) f = f->above();
            break;
        }
    }
    if (f) cursor_ = f;
    return f;
}

}  // namespace tq
