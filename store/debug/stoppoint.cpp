// Stop points: firing, actions, descriptions and breakpoint editing.
#include "store/debug/stoppoint.h"

#include <cstring>

#include "store/debug/watchpt.h"
#include "store/interp/evalable.h"
#include "store/methfld.h"

namespace tq {

bool StopPoint::performActions(Context&) { return true; }

bool StopPoint::eval(Context&) { return isEnabled(); }

std::string StopPoint::description() const { return std::string(); }

char* StopPoint::getDescription(char* text, int size) const {
    const std::string d = description();
    if (!text) {
        text = new char[d.size() + 1];
        std::memcpy(text, d.c_str(), d.size() + 1);
        return text;
    }
    if (size <= 0) return text;
    const size_t n = std::min(d.size(), static_cast<size_t>(size - 1));
    std::memcpy(text, d.data(), n);
    text[n] = '\0';
    return text;
}

std::string BreakPoint::description() const {
    return "\"" + std::string(proc() ? proc()->name() : "") + "\" at line " + std::to_string(line());
}

// ---- conditions, passes and actions ------------------------------------------------------

StopConditions::StopConditions() = default;
StopConditions::~StopConditions() = default;

bool StopConditions::fires(bool enabled, Context& ctx) {
    if (!enabled) return false;
    // A false condition is not a pass: the count only runs down at the
    // statements where the stop point would otherwise fire.
    if (condition && condition->eval(ctx, 1)->as<int32_t>() == 0) return false;
    if (passCount != 0) {
        --passCount;
        return false;
    }
    return true;
}

bool StopConditions::perform(Context& ctx) {
    if (!action) return true;
    action->eval(ctx, 1);
    return false;
}

// ---- editing -----------------------------------------------------------------------------

BreakPoint* SimpleBreakPoint::setPassCount(int32_t count) {
    if (count == 0) return this;
    auto* b = new ConditionalBreakPoint(proc(), line(), stopFlags());
    b->setPassCount(count);
    return b;
}

BreakPoint* SimpleBreakPoint::setCondition(std::unique_ptr<EvalableExpr> condition, std::string text) {
    if (!condition) return this;
    auto* b = new ConditionalBreakPoint(proc(), line(), stopFlags());
    b->setCondition(std::move(condition), std::move(text));
    return b;
}

BreakPoint* SimpleBreakPoint::setAction(std::unique_ptr<EvalableBlock> action, std::string text) {
    if (!action) return this;
    auto* b = new ConditionalBreakPoint(proc(), line(), stopFlags());
    b->setAction(std::move(action), std::move(text));
    return b;
}

BreakPoint* ConditionalBreakPoint::keepOrSimplify() {
    if (c_.passCount != 0 || c_.condition || c_.action) return this;
    return new SimpleBreakPoint(proc(), line(), stopFlags());
}

BreakPoint* ConditionalBreakPoint::setPassCount(int32_t count) {
    c_.passCount = count;
    return keepOrSimplify();
}

BreakPoint* ConditionalBreakPoint::setCondition(std::unique_ptr<EvalableExpr> condition, std::string text) {
    c_.condition = std::move(condition);
    c_.conditionText = c_.condition ? std::move(text) : std::string();
    return keepOrSimplify();
}

BreakPoint* ConditionalBreakPoint::setAction(std::unique_ptr<EvalableBlock> action, std::string text) {
    c_.action = std::move(action);
    c_.actionText = c_.action ? std::move(text) : std::string();
    return keepOrSimplify();
}

// ---- watchpoints -------------------------------------------------------------------------

WatchPoint::WatchPoint(InterProcField* proc, std::unique_ptr<EvalableExpr> condition, std::string conditionText,
                       uint8_t stopFlags)
    : StopPoint(proc, stopFlags) {
    c_.condition = std::move(condition);
    c_.conditionText = std::move(conditionText);
}

std::string WatchPoint::description() const { return "\"" + c_.conditionText + "\""; }

void WatchPoint::setCondition(std::unique_ptr<EvalableExpr> condition, std::string text) {
    if (!condition) return;
    c_.condition = std::move(condition);
    c_.conditionText = std::move(text);
}

void WatchPoint::setAction(std::unique_ptr<EvalableBlock> action, std::string text) {
    c_.action = std::move(action);
    c_.actionText = c_.action ? std::move(text) : std::string();
}

}  // namespace tq
