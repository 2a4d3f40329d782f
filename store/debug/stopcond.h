// StopConditions: the pass count, condition and action that conditional
// breakpoints and watchpoints share, how they decide to fire and what
// firing does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tq {

class Context;
class EvalableBlock;
class EvalableExpr;

class StopConditions {
public:
    StopConditions();
    ~StopConditions();
    StopConditions(const StopConditions&) = delete;
    StopConditions& operator=(const StopConditions&) = delete;

    // False when disabled; false when the condition is false (no pass is
    // counted); false while passes remain (one is counted); else true.
    bool fires(bool enabled, Context& ctx);
    // Runs the action when there is one (answering false: no stop).
    bool perform(Context& ctx);

    int32_t passCount = 0;
    std::unique_ptr<EvalableExpr> condition;
    std::unique_ptr<EvalableBlock> action;
    std::string conditionText;
    std::string actionText;

    static const char* TextOrNull(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }
};

}  // namespace tq
