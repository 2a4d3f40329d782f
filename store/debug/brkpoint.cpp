// Breakpoints: their description and the editing that may change their
// class.
#include "store/debug/brkpoint.h"

#include "store/interp/evalable.h"
#include "store/methfld.h"

namespace tq {

std::string BreakPoint::description() const {
    return "\"" + std::string(proc() ? proc()->name() : "") + "\" at line " + std::to_string(line());
}

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

}  // namespace tq
