// The statement dispatcher, Exit and Stop.
#include "store/interp/execnode.h"

#include <new>

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/assign.h"
#include "store/interp/case.h"
#include "store/interp/dbgseam.h"
#include "store/interp/doloop.h"
#include "store/interp/fornext.h"
#include "store/interp/funccall.h"
#include "store/interp/ifthen.h"
#include "store/interp/nodekinds.h"
#include "store/interp/print.h"
#include "store/interp/redim.h"
#include "store/interp/trycatch.h"
#include "store/interp/withblk.h"
#include "store/interp/stackfrm.h"
#include "store/methfld.h"
#include "store/storeapp.h"
#include "store/valops.h"

namespace tq {

ExecNode::ExecNode(uint16_t kind, uint32_t size, int32_t line) {
    StoreLE16(kind_, kind);
    StoreLE32(size_, size);
    StoreLE32(line_, static_cast<uint32_t>(line));
    StoreLE32(runLine_, static_cast<uint32_t>(line));
}

inline void ExecNode::run(Context& ctx) {
    switch (type()) {
        case STMT_ASSIGNMENT: static_cast<const Assignment*>(this)->eval(ctx); return;
        case STMT_FUNCTION_CALL: static_cast<const FunctionCallStmt*>(this)->eval(ctx); return;
        case STMT_SIMPLE_IF: static_cast<const SimpleIfThen*>(this)->eval(ctx); return;
        case STMT_COMPLEX_IF: static_cast<const ComplexIfThen*>(this)->eval(ctx); return;
        case STMT_FOR_NEXT: static_cast<const ForNext*>(this)->eval(ctx); return;
        case STMT_DO_LOOP:
        case STMT_DO_LOOP2: static_cast<DoLoop*>(this)->eval(ctx); return;
        case STMT_SELECT_CASE: static_cast<const SelectCase*>(this)->eval(ctx); return;
        case STMT_EXITER: static_cast<const Exiter*>(this)->eval(ctx); return;
        case STMT_PRINT: static_cast<const Print*>(this)->eval(ctx); return;
        case STMT_RANDOMIZE: static_cast<const RandomizeStmt*>(this)->eval(ctx); return;
        case STMT_REDIM: static_cast<const RedimStmt*>(this)->eval(ctx); return;
        case STMT_TRY: static_cast<const TryBlock*>(this)->eval(ctx); return;
        case STMT_THROW: static_cast<const ThrowStmt*>(this)->eval(ctx); return;
        case STMT_WITH: static_cast<const WithBlock*>(this)->eval(ctx); return;
        case STMT_STOP: static_cast<const StopStmt*>(this)->eval(ctx);
        case STMT_END_MARKER: return;
        default: {
            const StatementKind* k = FindStatementKind(type());
            // Blocks are checked when they are made or read: a kind that
            // cannot run never gets here.
            TQ_ASSERT(k && k->run, "NULL");
            k->run(*this, ctx);
        }
    }
}

void ExecNode::eval(Context& ctx) {
    // The debugger comes first, so that a breakpoint stops before the
    // statement does anything.
    if (DebugHook::modes) [[unlikely]] {
        if (DebugHook* d = DebugHook::Installed()) d->eval(ctx, line());
    }
    try {
        // The running line is set before anything that can fail, or a failure
        // (and the debugger) would show the line of an earlier statement.
        setRunningLine(line());
        StoreApplication::CheckForBreak();
        run(ctx);
    } catch (const StoreException&) {
        failed(ctx);
    } catch (const std::bad_alloc&) {
        // Raised again as the store's failure, then handled as every other.
        try {
            throw OutOfMemory();
        } catch (const StoreException&) {
            failed(ctx);
        }
    }
}

void ExecNode::failed(Context& ctx) {
    DebugHook* debugger = DebugHook::Installed();
    try {
        throw;
    } catch (PauseExecution& e) {
        e.line = line();
        if (debugger && debugger->error(ctx, e)) {
            debugger->eval(ctx, line());
            return;
        }
        // No debugger holds the program: it ends here, and the report
        // names the Stop's line and procedure as any failure's does.
        TerminateExecution end;
        end.line = line();
        end.handled = true;
        end.setObject(ctx.me());
        StackFrame* top = ExecutionStack::top();
        end.procedure = top ? top->proc() : nullptr;
        // A hook that only records failures (the call chain a host shows)
        // sees it; a debugger already declined the stop.
        if (debugger && !debugger->watchesExecution()) debugger->error(ctx, end);
        throw end;
    } catch (TerminateExecution&) {
        throw;
    } catch (IRethrow&) {
        // On its way to the Try whose exception it rethrows.
        throw;
    } catch (StoreException& e) {
        if (e.handled) throw;
        e.handled = true;
        // The running line: a loop that tests after its body reports the
        // line its condition is written on.
        e.line = runningLine();
        // A debugger that takes the failure stops here first; going on
        // from that stop does not undo it: the failure passes on as it
        // would without the debugger.
        if (debugger && debugger->error(ctx, e)) debugger->eval(ctx, line());
        e.setObject(ctx.me());
        StackFrame* top = ExecutionStack::top();
        e.procedure = top ? top->proc() : nullptr;
        throw;
    }
}

// ---- Exit --------------------------------------------------------------------------------

Exiter::Exiter(int32_t line, ExitType type) : ExecNode(STMT_EXITER, sizeof(Exiter), line) {
    StoreLE32(exitType_, type);
}

void Exiter::eval(Context& ctx) const {
    static constexpr unsigned kMessages[EXIT_LIMIT] = {32734, 32733, 32732, 32731, 32730};
    static constexpr FrameType kFrames[EXIT_LIMIT] = {FrameType(0), FunctionFrame, SubFrame, ForFrame, DoFrame};
    const ExitType t = exitType();
    TQ_ASSERT(t < EXIT_LIMIT, "exitType < EXIT_LIMIT");
    // Only this context's frames on top of the stack count: an Exit For
    // never leaves the procedure it is written in, and statements run in a
    // caller's frame at a debugger stop cannot unlink that caller's loop
    // from under the callee still running above it.
    int32_t own = 0;
    for (const StackFrame* f = ExecutionStack::top(); f && own < ctx.frameCount() && &f->context() == &ctx;
         f = f->below())
        ++own;
    if (t != EXIT_PROGRAM && ExecutionStack::frameTypeExists(kFrames[t], own)) {
        ExecutionStack::popFrame(kFrames[t], ctx.frameCount());
        return;
    }
    throw StoreException(kMessages[t]);
}

// ---- Stop --------------------------------------------------------------------------------

void StopStmt::eval(Context&) const { throw PauseExecution(); }

}  // namespace tq
