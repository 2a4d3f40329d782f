// The debugger's state, its check before a statement and its handling of
// exceptions (debugger.h tells the order of the checks).
#include "store/debug/debugger.h"

#include <memory>

#include "store/context.h"
#include "store/debug/brkpoint.h"
#include "store/debug/stoppoint.h"
#include "store/debug/watchpt.h"
#include "store/errors/extexcep.h"
#include "store/interp/execnode.h"
#include "store/methfld.h"
#include "store/model/interobj.h"

namespace tq {

namespace {

void DisableTimers() {
    if (DebugTimerSeam::disableTimers) DebugTimerSeam::disableTimers();
}

void EnableTimers() {
    if (DebugTimerSeam::enableTimers) DebugTimerSeam::enableTimers();
}

// A watch applies where its names resolve: in a procedure where its
// condition cannot be evaluated (a name that procedure does not know) it is
// not true, and the program goes on as if nothing watched it. Only the
// user's break passes.
bool WatchFires(WatchPoint& wp, Context& ctx) {
    try {
        return wp.eval(ctx);
    } catch (const TerminateExecution&) {
        throw;
    } catch (const StoreException&) {
        return false;
    }
}

}  // namespace

Debugger::Debugger() {
    if (!theDebugger) {
        theDebugger = this;
        DebugHook::Install(this);
    }
}

Debugger::~Debugger() {
    if (theDebugger != this) return;
    theDebugger = nullptr;
    if (DebugHook::Installed() == this) DebugHook::Install(nullptr);
}

void Debugger::setFlags(uint32_t set, uint32_t clear) {
    debugFlags_ = (debugFlags_ | set) & ~clear;
    // The dispatcher looks only at the hook's modes: they stay 0 while the
    // check could not stop anything anyway.
    if (theDebugger == this && DebugHook::Installed() == this) {
        const bool live = (debugFlags_ & kActive) && !(debugFlags_ & kDisabled);
        DebugHook::modes = live ? (debugFlags_ & kModeBits) : 0;
    }
}

void Debugger::updateTableBits() {
    uint32_t set = 0, clear = 0;
    (breakpoints_.isEmpty() ? clear : set) |= kBreakpoints;
    (watchpoints_.isEmpty() ? clear : set) |= kWatchpoints;
    setFlags(set, clear);
}

// ---- how to go on ------------------------------------------------------------------------

void Debugger::trace() {
    setFlags(kTrace, 0);
    resume();
}

void Debugger::step() {
    setFlags(kStepOver, 0);
    stepDepth_ = 1;
    resume();
}

void Debugger::stepOut() {
    // One level deeper than a step over: the procedure's own return brings
    // the count to 1, and the caller's next statement stops.
    setFlags(kStepOver, 0);
    stepDepth_ = 2;
    resume();
}

void Debugger::animate() {
    setFlags(kAnimate, 0);
    resume();
}

void Debugger::cont() { resume(); }

// ---- frames ------------------------------------------------------------------------------

void Debugger::up(int n) {
    // Outside a stop the cursor may name a frame that is gone.
    if (!suspended_) frames_.reset();
    for (int i = 0; i < n && frames_.next(ExecutionStackIterator::ESI_PROCEDURE); ++i) {
    }
    updateVariables();
    frameChanged();
}

void Debugger::down(int n) {
    if (!suspended_) frames_.reset();
    for (int i = 0; i < n && frames_.previous(ExecutionStackIterator::ESI_PROCEDURE); ++i) {
    }
    updateVariables();
    frameChanged();
}

void Debugger::home() {
    frames_.reset();
    updateVariables();
    frameChanged();
}

void Debugger::updateVariables() {
    // Frames live only while the program runs: outside a stop the cursor
    // goes back to the top (none when nothing runs).
    if (!suspended_) frames_.reset();
    StackFrame* f = ExecutionStackIterator::topFrame() ? frames_.current() : nullptr;
    currentFrame_ = f;
    currentContext_ = f ? &f->context() : nullptr;
    currentProc_ = f ? f->proc() : nullptr;
    const ExecNode* node = f ? f->node() : nullptr;
    currentLine_ = node ? node->line() : 0;
}

// ---- exceptions --------------------------------------------------------------------------

int Debugger::trapSystemExceptions(int on) {
    if (on != kQuery) setBit(kTrapSystem, on != 0);
    return (debugFlags_ & kTrapSystem) != 0;
}

int Debugger::trapInterpretiveExceptions(int on) {
    if (on != kQuery) setBit(kTrapInterpretive, on != 0);
    return (debugFlags_ & kTrapInterpretive) != 0;
}

int Debugger::error(Context& ctx, StoreException& e) {
    // A Stop run at the host's prompt asks for what already is: the
    // program is held here. Taking it makes it do nothing.
    if (suspended_) return dynamic_cast<PauseExecution*>(&e) ? 1 : 0;
    if (!(debugFlags_ & kActive) || (debugFlags_ & kDisabled)) return 0;
    if (!ctx.procField() || !ctx.me()) return 0;
    StackFrame* top = ExecutionStack::top();
    if (!top) return 0;
    const InterObjRep* owner = top->context().me();
    if (ignoredModule_ >= 0 && owner && owner->moduleIndex() == ignoredModule_) return 0;
    const bool byProgram = e.flags & kInterpretiveFlag;
    if (!(debugFlags_ & (byProgram ? kTrapInterpretive : kTrapSystem))) return 0;

    lastException_ = StoreException(e.what(), e.name());
    lastException_.flags = e.flags;
    lastException_.line = e.line;
    lastException_.procedure = e.procedure ? e.procedure : top->proc();
    lastException_.setObject(e.object() ? e.object() : ctx.me());
    setFlags(kExceptionWaiting, kAnimate);
    return 1;
}

// ---- stop points -------------------------------------------------------------------------

void Debugger::addBreakpoint(BreakPoint* bp) {
    if (!bp) return;
    breakpoints_.add(bp);
    updateTableBits();
}

BreakPoint* Debugger::removeBreakpoint(BreakPoint* bp) {
    BreakPoint* out = bp ? breakpoints_.remove(bp) : nullptr;
    updateTableBits();
    return out;
}

BreakPoint* Debugger::removeBreakpoint(const InterProcField* proc, int32_t line) {
    BreakPoint* out = breakpoints_.remove(proc, line);
    updateTableBits();
    return out;
}

BreakPoint* Debugger::findBreakpoint(const InterProcField* proc, int32_t line) { return breakpoints_.find(proc, line); }

void Debugger::replaceBreakpoint(BreakPoint* old, BreakPoint* now) {
    if (old == now) return;
    // old may be a breakpoint that was never added (the editing of a
    // breakpoint the host holds itself): it is freed all the same.
    if (old) {
        breakpoints_.remove(old);
        delete old;
    }
    addBreakpoint(now);
    updateTableBits();
}

void Debugger::addWatchpoint(WatchPoint* wp) {
    if (!wp) return;
    watchpoints_.add(wp);
    updateTableBits();
}

WatchPoint* Debugger::removeWatchpoint(WatchPoint* wp) {
    WatchPoint* out = wp ? watchpoints_.remove(wp) : nullptr;
    updateTableBits();
    return out;
}

void Debugger::removeWatchpoint(const InterProcField* proc) {
    watchpoints_.remove(proc);
    updateTableBits();
}

void Debugger::remapBreakpointProcedure(InterProcField* old, InterProcField* now) { breakpoints_.remap(old, now); }

void Debugger::remapWatchpointProcedure(InterProcField* old, InterProcField* now) { watchpoints_.remap(old, now); }

// ---- what the interpreter calls ----------------------------------------------------------

void Debugger::functionDeleted(InterProcField* proc) {
    if (!proc) return;
    const bool had = breakpoints_.list(proc) || watchpoints_.list(proc);
    breakpoints_.remove(proc, 0);
    watchpoints_.remove(proc);
    updateTableBits();
    if (currentProc_ == proc) {
        currentFrame_ = nullptr;
        currentContext_ = nullptr;
        currentProc_ = nullptr;
        currentLine_ = 0;
    }
    if (had) functionDeletedNotice(proc);
}

void Debugger::functionCalled() {
    if (stepDepth_ > 0) ++stepDepth_;
}

void Debugger::functionReturned() {
    if (stepDepth_ > 1) --stepDepth_;
}

StopPoint* Debugger::firingStopPoint(Context& ctx, int32_t line) {
    InterProcField* proc = ctx.procField();
    if (debugFlags_ & kWatchpoints) {
        if (const WatchPointList* l = watchpoints_.list(proc))
            for (WatchPoint* wp : *l)
                if (WatchFires(*wp, ctx)) return wp;
        for (WatchPoint* wp : watchpoints_.globals())
            if (WatchFires(*wp, ctx)) return wp;
    }
    if (debugFlags_ & kBreakpoints) {
        BreakPoint* bp = breakpoints_.find(proc, line);
        if (bp && bp->eval(ctx)) return bp;
    }
    return nullptr;
}

void Debugger::eval(Context& ctx, int32_t line) {
    if (suspended_ || !(debugFlags_ & kActive) || (debugFlags_ & kDisabled) || !ctx.procField()) return;
    // The usual case while breakpoints are set: this procedure has none,
    // and nothing else could stop here.
    if ((debugFlags_ & kModeBits) == kBreakpoints && !breakpoints_.list(ctx.procField())) return;
    suspended_ = 1;
    DisableTimers();
    // A stop point that deletes itself is out of its table from the moment
    // it fires; it is freed however the stop ends.
    std::unique_ptr<StopPoint> removed;
    try {
        if (debugFlags_ & kExceptionWaiting) {
            setFlags(0, kExceptionWaiting);
            invokeSuspend(nullptr);
        } else if (debugFlags_ & kTrace) {
            setFlags(0, kTrace);
            invokeSuspend(nullptr);
        } else if (stepDepth_ == 1) {
            stepDepth_ = 0;
            setFlags(0, kStepOver);
            invokeSuspend(nullptr);
        } else if (StopPoint* sp = firingStopPoint(ctx, line)) {
            uint8_t f = sp->stopFlags();
            if (f & StopPoint::kDisableAfterFiring) sp->setStopFlags(f & ~(StopPoint::kEnabled | StopPoint::kDisableAfterFiring));
            if (f & StopPoint::kDeleteAfterFiring) {
                if (sp->kind() == StopPoint::kWatchKind)
                    watchpoints_.remove(static_cast<WatchPoint*>(sp));
                else
                    breakpoints_.remove(static_cast<BreakPoint*>(sp));
                removed.reset(sp);
                updateTableBits();
            }
            setFlags(0, kAnimate);
            if (sp->performActions(ctx)) invokeSuspend(sp);
        } else if (debugFlags_ & kAnimate) {
            invokeSuspend(nullptr);
        }
    } catch (...) {
        removed.reset();
        reset();
        throw;
    }
    // The host may have reset() inside suspend, which already ended the
    // stop.
    if (suspended_) {
        EnableTimers();
        suspended_ = 0;
    }
}

void Debugger::invokeSuspend(StopPoint* sp) {
    frames_.reset();
    updateVariables();
    // Code that runs with no object (immediate evaluation of the host's
    // own) is not the program: nothing to show.
    if (!currentContext_ || !currentContext_->me()) return;
    setFlags(kHasSuspended, 0);
    suspend(sp);
}

void Debugger::reset() {
    if (suspended_) EnableTimers();
    currentFrame_ = nullptr;
    currentContext_ = nullptr;
    currentProc_ = nullptr;
    currentLine_ = 0;
    stepDepth_ = 0;
    suspended_ = 0;
    setFlags(0, kTrace | kStepOver | kAnimate | kExceptionWaiting);
}

void Debugger::startDebug() { setFlags(kActive, kHasSuspended); }

void Debugger::endDebug() {
    const bool stopped = debugFlags_ & kHasSuspended;
    setFlags(0, kActive);
    reset();
    if (stopped) debuggingEnded();
}

int Debugger::debuggerIsSuspended() { return theDebugger ? theDebugger->suspended_ : 0; }

}  // namespace tq
