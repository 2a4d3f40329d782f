// Watchpoints.
#include "store/debug/watchpt.h"

#include "store/interp/evalable.h"

namespace tq {

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
