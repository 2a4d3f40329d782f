// The debugger: stops the running program before a statement and hands
// control to the host.
//
// The library keeps one Debugger per process: the first one made installs
// itself as the interpreter's DebugHook (dbgseam.h) and getDebugger()
// returns it until it is destroyed. A host subclasses it and implements
// suspend (its user interface for a stopped program, run inside the call),
// resume (ends that interface) and frameChanged; the other notices have
// empty defaults.
//
// Before every statement the dispatcher calls eval while any of the six
// mode bits (trace .. exception waiting) is set; the debugger keeps the
// hook's `modes` equal to them, and to 0 while debugging is not active or
// is disabled, so that a program run with nothing set pays one predictable
// branch per statement. eval stops (calls suspend) when, first that
// applies:
//   1. an exception was taken (error answered true);
//   2. trace is set (stop at the next statement anywhere);
//   3. a step over has come back to the procedure it started in
//      (stepDepth is 1: procedure entry raises it, exit lowers it);
//   4. a watchpoint of the procedure, then a global one, fires; else the
//      breakpoint of the procedure and line fires; a stop point with an
//      action runs it instead of stopping; with none, animate stops.
// A failure the debugger takes stops the program at the statement it
// passed (1. above); when the host goes on, the failure goes on too (the
// dispatcher raises it again), so a run ends as it would without the
// debugger. A Stop run while suspended (at the host's prompt) is taken and
// does nothing. A watchpoint whose condition cannot be evaluated in a
// procedure (a name it does not know there) does not fire there.
//
// A stop point that deletes itself after firing is freed after the stop,
// also when suspend, a condition or an action throws; such an exception
// passes on after reset(), which ends any stepping.
//
// While suspend runs, `suspended` is set: the debugger neither stops nor
// takes exceptions, so the host may evaluate expressions and statements in
// the current frame's context. Timers are held for exactly that time.
//
// debugFlags:
//   0x001 trace             0x040 trap system exceptions
//   0x002 step over         0x080 trap exceptions the program throws
//   0x004 animate           0x100 debugging is active (DebugEnabler)
//   0x008 breakpoints exist 0x200 debugging is disabled (DebugDisabler)
//   0x010 watchpoints exist 0x400 suspended since debugging started
//   0x020 exception waiting
#pragma once

#include <cstdint>

#include "store/block.h"
#include "store/debug/bptable.h"
#include "store/debug/wptable.h"
#include "store/errors/storeexc.h"
#include "store/interp/dbgseam.h"
#include "store/interp/stackfrm.h"

namespace tq {

class StopPoint;

// Timers must not fire into a program the debugger holds. The Timer class
// connects its switches here; until then there are no timers to hold.
struct DebugTimerSeam {
    static inline void (*disableTimers)() = nullptr;
    static inline void (*enableTimers)() = nullptr;
};

class Debugger : public DebugHook {
public:
    enum : uint32_t {
        kTrace = 0x001,
        kStepOver = 0x002,
        kAnimate = 0x004,
        kBreakpoints = 0x008,
        kWatchpoints = 0x010,
        kExceptionWaiting = 0x020,
        kTrapSystem = 0x040,
        kTrapInterpretive = 0x080,
        kActive = 0x100,
        kDisabled = 0x200,
        kHasSuspended = 0x400,
        kModeBits = 0x03F,
    };
    // What the trap operations take to only report.
    static constexpr int kQuery = -99;

    Debugger();
    ~Debugger() override;
    Debugger(const Debugger&) = delete;
    Debugger& operator=(const Debugger&) = delete;

    // ---- implemented by the host ----
    // Runs the host's user interface until the user chooses how to go on;
    // sp is null for a step, an animate stop or an exception.
    virtual void suspend(StopPoint* sp) = 0;
    // Ends the user interface that suspend runs.
    virtual void resume() = 0;
    // The current frame moved (up, down, home).
    virtual void frameChanged() = 0;
    // Debugging ended after the debugger had stopped at least once.
    virtual void debuggingEnded() {}
    // A procedure with stop points was deleted (they are gone already).
    virtual void functionDeletedNotice(InterProcField*) {}
    virtual void notice() {}

    // ---- how to go on (from inside suspend) ----
    // Stop at the next statement, wherever it is (step into).
    void trace();
    // Stop at the next statement of this procedure or of its caller (step
    // over).
    void step();
    // Stop when the current procedure has returned, at the caller's next
    // statement (step out).
    void stepOut();
    // Stop before every statement until a stop point fires or reset.
    void animate();
    void cont();

    // ---- the frame the host looks at ----
    // Move up to n procedure frames toward the caller / the callee.
    void up(int n);
    void down(int n);
    void home();
    StackFrame* currentFrame() const { return currentFrame_; }
    Context* currentContext() const { return currentContext_; }
    InterProcField* currentProcedure() const { return currentProc_; }
    int32_t currentLine() const { return currentLine_; }

    // ---- exceptions ----
    // on: 1 sets, 0 clears, kQuery only reports; each returns the bit.
    int trapSystemExceptions(int on);
    int trapInterpretiveExceptions(int on);
    // The exception last taken: message, flags, name, line, procedure and
    // object.
    const StoreException& lastException() const { return lastException_; }
    // Exceptions raised in procedures of objects of this module are not
    // taken (-1: none); a host setting.
    int32_t ignoredModule() const { return ignoredModule_; }
    void setIgnoredModule(int32_t m) { ignoredModule_ = m; }

    // ---- stop points ----
    void addBreakpoint(BreakPoint* bp);
    // The removed breakpoint (the caller owns it), or null.
    BreakPoint* removeBreakpoint(BreakPoint* bp);
    // line 0 removes and frees every breakpoint of proc (returns null).
    BreakPoint* removeBreakpoint(const InterProcField* proc, int32_t line);
    BreakPoint* findBreakpoint(const InterProcField* proc, int32_t line);
    // After editing: when they differ, removes and frees old, adds now.
    void replaceBreakpoint(BreakPoint* old, BreakPoint* now);
    void addWatchpoint(WatchPoint* wp);
    WatchPoint* removeWatchpoint(WatchPoint* wp);
    // Removes and frees proc's watchpoints (null: the global ones).
    void removeWatchpoint(const InterProcField* proc);
    void remapBreakpointProcedure(InterProcField* old, InterProcField* now);
    void remapWatchpointProcedure(InterProcField* old, InterProcField* now);
    BreakPointTable& breakpoints() { return breakpoints_; }
    WatchPointTable& watchpoints() { return watchpoints_; }

    // ---- what the interpreter calls ----
    void functionDeleted(InterProcField* proc) override;
    void functionCalled() override;
    void functionReturned() override;
    void eval(Context& ctx, int32_t line) override;
    int error(Context& ctx, StoreException& e) override;

    // Calls suspend with sp, the current frame set to the top one, unless
    // that frame runs with no object.
    void invokeSuspend(StopPoint* sp);
    void updateVariables();
    // Ends every kind of stepping and any stop in progress.
    void reset();
    void startDebug();
    void endDebug();
    // Sets or clears "debugging is disabled" (DebugDisabler).
    void disable(bool on) { setBit(kDisabled, on); }

    uint32_t debugFlags() const { return debugFlags_; }
    int32_t stepDepth() const { return stepDepth_; }
    static int debuggerIsSuspended();
    static Debugger* getDebugger() { return theDebugger; }

private:
    void setFlags(uint32_t set, uint32_t clear);
    void setBit(uint32_t bit, bool on) { on ? setFlags(bit, 0) : setFlags(0, bit); }
    void updateTableBits();
    StopPoint* firingStopPoint(Context& ctx, int32_t line);

    uint32_t debugFlags_ = kTrapSystem;
    int32_t stepDepth_ = 0;
    int32_t ignoredModule_ = -1;
    BreakPointTable breakpoints_;
    WatchPointTable watchpoints_;
    ExecutionStackIterator frames_;
    StackFrame* currentFrame_ = nullptr;
    Context* currentContext_ = nullptr;
    InterProcField* currentProc_ = nullptr;
    int32_t currentLine_ = 0;
    int32_t suspended_ = 0;
    StoreException lastException_;

    static inline Debugger* theDebugger = nullptr;
};

}  // namespace tq
