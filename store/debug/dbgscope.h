// Scope guards that switch debugging on and off for the process.
//
// Debugging is active from the first DebugEnabler to the end of the last
// one: the host wraps a run it wants to debug in one. A DebugDisabler
// turns the debugger off for code that must not stop (the host's own
// evaluations, saving, shutdown) while it lives. Both nest, with a
// process-wide count each; only the outermost one tells the debugger.
#pragma once

namespace tq {

class DebugEnabler {
public:
    DebugEnabler();
    ~DebugEnabler();
    DebugEnabler(const DebugEnabler&) = delete;
    DebugEnabler& operator=(const DebugEnabler&) = delete;

    static int count() { return count_; }

private:
    static inline int count_ = 0;
};

class DebugDisabler {
public:
    DebugDisabler();
    ~DebugDisabler();
    DebugDisabler(const DebugDisabler&) = delete;
    DebugDisabler& operator=(const DebugDisabler&) = delete;

    static int count() { return count_; }

private:
    static inline int count_ = 0;
};

}  // namespace tq
