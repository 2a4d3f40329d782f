// DebugEnabler and DebugDisabler.
#include "store/debug/dbgscope.h"

#include "store/debug/debugger.h"

namespace tq {

DebugEnabler::DebugEnabler() {
    if (++count_ == 1)
        if (Debugger* d = Debugger::getDebugger()) d->startDebug();
}

DebugEnabler::~DebugEnabler() {
    if (--count_ == 0)
        if (Debugger* d = Debugger::getDebugger()) d->endDebug();
}

DebugDisabler::DebugDisabler() {
    if (++count_ == 1)
        if (Debugger* d = Debugger::getDebugger()) d->disable(true);
}

DebugDisabler::~DebugDisabler() {
    if (--count_ == 0)
        if (Debugger* d = Debugger::getDebugger()) d->disable(false);
}

}  // namespace tq
