// Firing by condition and pass count, and running an action.
#include "store/debug/stopcond.h"

#include "store/interp/evalable.h"

namespace tq {

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

}  // namespace tq
