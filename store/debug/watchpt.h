// A watchpoint: stops before any statement of its procedure (of every
// procedure when it has none) at which its condition is true.
#pragma once

#include <memory>
#include <string>

#include "store/debug/stopcond.h"
#include "store/debug/stoppoint.h"

namespace tq {

class WatchPoint : public StopPoint {
public:
    // The condition is what a watchpoint watches; it is always present.
    WatchPoint(InterProcField* proc, std::unique_ptr<EvalableExpr> condition, std::string conditionText,
               uint8_t stopFlags = kEnabled);

    bool performActions(Context& ctx) override { return c_.perform(ctx); }
    int kind() const override { return kWatchKind; }
    int32_t line() const override { return 0; }
    int32_t passCount() const override { return c_.passCount; }
    const char* conditionText() const override { return StopConditions::TextOrNull(c_.conditionText); }
    const char* actionText() const override { return StopConditions::TextOrNull(c_.actionText); }
    bool eval(Context& ctx) override { return c_.fires(isEnabled(), ctx); }
    std::string description() const override;

    void setPassCount(int32_t count) { c_.passCount = count; }
    // Replaces condition and text; a null condition changes nothing (a
    // watchpoint cannot lose what it watches).
    void setCondition(std::unique_ptr<EvalableExpr> condition, std::string text);
    // Replaces the action and its text; without an action there is no
    // text to keep.
    void setAction(std::unique_ptr<EvalableBlock> action, std::string text);

private:
    StopConditions c_;
};

}  // namespace tq
