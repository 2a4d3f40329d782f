// Breakpoints: stop before a statement of one source line of a procedure.
//
// Editing a breakpoint may change its class: a simple breakpoint given a
// pass count, condition or action becomes a ConditionalBreakPoint, and a
// conditional one left with none of them becomes a SimpleBreakPoint again.
// So the setters return the breakpoint to keep, which is either this one
// or a new object that the caller hands to Debugger::replaceBreakpoint
// together with this one.
//
// A SimpleBreakPoint fires whenever it is enabled; a ConditionalBreakPoint
// adds a pass count, a condition and an action (StopConditions).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "store/debug/stopcond.h"
#include "store/debug/stoppoint.h"

namespace tq {

class BreakPoint : public StopPoint {
public:
    int32_t line() const override { return line_; }
    std::string description() const override;

    // Each returns the breakpoint to keep: this one or a new one (see the
    // header). Arguments are taken over in either case.
    virtual BreakPoint* setPassCount(int32_t count) = 0;
    virtual BreakPoint* setCondition(std::unique_ptr<EvalableExpr> condition, std::string text) = 0;
    virtual BreakPoint* setAction(std::unique_ptr<EvalableBlock> action, std::string text) = 0;

protected:
    BreakPoint(InterProcField* proc, int32_t line, uint8_t stopFlags) : StopPoint(proc, stopFlags), line_(line) {}

private:
    int32_t line_;
};

class SimpleBreakPoint : public BreakPoint {
public:
    SimpleBreakPoint(InterProcField* proc, int32_t line, uint8_t stopFlags = kEnabled)
        : BreakPoint(proc, line, stopFlags) {}

    int kind() const override { return kSimpleKind; }
    BreakPoint* setPassCount(int32_t count) override;
    BreakPoint* setCondition(std::unique_ptr<EvalableExpr> condition, std::string text) override;
    BreakPoint* setAction(std::unique_ptr<EvalableBlock> action, std::string text) override;
};

class ConditionalBreakPoint : public SimpleBreakPoint {
public:
    ConditionalBreakPoint(InterProcField* proc, int32_t line, uint8_t stopFlags = kEnabled)
        : SimpleBreakPoint(proc, line, stopFlags) {}

    bool performActions(Context& ctx) override { return c_.perform(ctx); }
    int kind() const override { return kConditionalKind; }
    int32_t passCount() const override { return c_.passCount; }
    const char* conditionText() const override { return StopConditions::TextOrNull(c_.conditionText); }
    const char* actionText() const override { return StopConditions::TextOrNull(c_.actionText); }
    bool eval(Context& ctx) override { return c_.fires(isEnabled(), ctx); }

    BreakPoint* setPassCount(int32_t count) override;
    BreakPoint* setCondition(std::unique_ptr<EvalableExpr> condition, std::string text) override;
    BreakPoint* setAction(std::unique_ptr<EvalableBlock> action, std::string text) override;

    const EvalableExpr* condition() const { return c_.condition.get(); }
    const EvalableBlock* action() const { return c_.action.get(); }

private:
    // This breakpoint, or a new SimpleBreakPoint when it has nothing left
    // that a simple one lacks.
    BreakPoint* keepOrSimplify();

    StopConditions c_;
};

}  // namespace tq
