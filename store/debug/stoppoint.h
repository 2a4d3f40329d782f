// Stop points: the places and conditions at which the debugger stops a
// running program.
//
// A StopPoint belongs to a procedure (or, for a watchpoint, to every
// procedure when proc is null). Its flags byte says whether it is enabled
// and whether it disables or deletes itself after firing once. A
// breakpoint stops before a statement of one source line; a watchpoint
// stops before any statement at which its condition is true. Either may
// carry a pass count (that many firings are skipped), a condition and an
// action block: a stop point with an action runs it instead of stopping.
//
// Virtual operations, in the order hosts and the debugger rely on:
//
//   slot  operation          Simple     Conditional / Watch
//   0     destructor                    frees condition, action, texts
//   1     performActions     true       true without action; else runs it, false
//   2     kind               0          1 / 2
//   3     getDescription     "\"Proc\" at line N"   (watch: "\"condition\"")
//   4     line               line       line / 0
//   5     passCount          0          passCount
//   6     conditionText      null       the condition's source text
//   7     actionText         null       the action's source text
//   8     eval (fires now?)  enabled    enabled, condition true, count spent
//   9-11  setPassCount, setCondition, setAction (breakpoints, brkpoint.h)
//
// Stop points never raise of their own accord; a condition or an action
// block may, and that passes on to the debugger.
#pragma once

#include <cstdint>
#include <string>

namespace tq {

class Context;
class InterProcField;

class StopPoint {
public:
    // stopFlags bits.
    enum : uint8_t {
        kEnabled = 0x01,
        kDisableAfterFiring = 0x02,
        kDeleteAfterFiring = 0x04,
    };
    // What kind() answers.
    enum Kind : int { kSimpleKind = 0, kConditionalKind = 1, kWatchKind = 2 };

    virtual ~StopPoint() = default;
    StopPoint(const StopPoint&) = delete;
    StopPoint& operator=(const StopPoint&) = delete;

    // Whether the debugger must suspend now that this stop point fired.
    virtual bool performActions(Context& ctx);
    virtual int kind() const = 0;
    // The description with its quotes, in text when given (at most size - 1
    // characters and a terminator), else in a new buffer of its full length
    // + 1 that the caller frees with delete[]. Returns the buffer.
    char* getDescription(char* text, int size) const;
    virtual int32_t line() const = 0;
    virtual int32_t passCount() const { return 0; }
    // Source texts of the condition and the action; null when there is none.
    virtual const char* conditionText() const { return nullptr; }
    virtual const char* actionText() const { return nullptr; }
    // Whether it fires at this statement. Counts a pass when the condition
    // holds and passes remain.
    virtual bool eval(Context& ctx);

    // The description as a string (what getDescription writes).
    virtual std::string description() const;

    uint8_t stopFlags() const { return stopFlags_; }
    void setStopFlags(uint8_t flags) { stopFlags_ = flags; }
    bool isEnabled() const { return stopFlags_ & kEnabled; }
    void enable(bool on) { stopFlags_ = on ? (stopFlags_ | kEnabled) : (stopFlags_ & ~kEnabled); }
    InterProcField* proc() const { return proc_; }
    // Recompiling a procedure makes a new field; the tables move their
    // stop points to it.
    void setProc(InterProcField* proc) { proc_ = proc; }

protected:
    StopPoint(InterProcField* proc, uint8_t stopFlags) : stopFlags_(stopFlags), proc_(proc) {}

private:
    uint8_t stopFlags_;
    InterProcField* proc_;
};

}  // namespace tq
