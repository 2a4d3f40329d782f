// The interpreter's calls into the debugger.
//
// The statement dispatcher consults the debugger before every statement
// and offers it every failure; procedure calls tell it of entry and exit.
// Those calls go through DebugHook, the one debugger of the process: the
// debugger installs itself here and keeps `modes` equal to its six mode
// bits (trace, step over, animate, breakpoints, watchpoints, exception
// waiting). While no debugger exists, or none of its modes is set, the
// statement path costs one load and one branch.
#pragma once

#include <cstdint>

namespace tq {

class Context;
class InterProcField;
class StoreException;

class DebugHook {
public:
    explicit DebugHook(bool watchesExecution = true) : watches_(watchesExecution) {}
    virtual ~DebugHook() = default;

    // The check before a statement at line (breakpoints, stepping,
    // watchpoints); may run the host's user interface.
    virtual void eval(Context& ctx, int32_t line) = 0;
    // Offers a failure that passed a statement; non-zero when the debugger
    // takes it (execution then continues in its break loop).
    virtual int error(Context& ctx, StoreException& e) = 0;
    virtual void functionCalled() = 0;
    virtual void functionReturned() = 0;
    // A procedure is being destroyed: nothing may keep pointing at it.
    virtual void functionDeleted(InterProcField*) {}
    // Whether the hook follows execution (stops, steps, resumes after a
    // failure): then every procedure runs on the tree walker, where it can.
    // A hook that only records failures as they pass (and never takes one)
    // says so when it is made, and procedures keep their register form.
    // Every call between procedures in register form asks, so it is a
    // plain member rather than a question to the hook.
    bool watchesExecution() const { return watches_; }

    // The process's debugger, or null.
    static DebugHook* Installed() { return installed; }
    // Installs hook (null to remove it); the modes start clear.
    static void Install(DebugHook* hook) {
        installed = hook;
        modes = 0;
    }
    // The debugger's mode bits that ask for the check before a statement;
    // non-zero only while a debugger is installed.
    static inline uint32_t modes = 0;

private:
    bool watches_;
    static inline DebugHook* installed = nullptr;
};

}  // namespace tq
