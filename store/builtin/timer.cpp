#include "store/builtin/timer.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/util/msgloop.h"
#include "store/debug/debugger.h"
#include "store/errors/extexcep.h"
#include "store/model/enum.h"
#include "store/model/sigrep.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"

namespace tq {
namespace {

// The running timers by their loop timer's id (invariant 1). Never
// destroyed: a timer may be stopped from a static destructor.
std::unordered_map<uint32_t, iTimer*>& RunningTimers() {
    static auto* const table = new std::unordered_map<uint32_t, iTimer*>;
    return *table;
}

IInterObj* MakeTimer(DllServer* server) { return new iTimer(server); }

void Hold() { iTimer::DisableTimers(); }
void Release() { iTimer::EnableTimers(); }

// The seams the debugger, the module store and the application leave for
// timers, filled when the class is first published.
void ConnectSeams() {
    DebugTimerSeam::disableTimers = &Hold;
    DebugTimerSeam::enableTimers = &Release;
    StoreApplication::timersUnloading = &iTimer::UnloadingModule;
    ObjectStore::holdTimers = &Hold;
    ObjectStore::releaseTimers = &Release;
}

// An interval given by a program: the loop's range, or a clear refusal.
void CheckInterval(int64_t ms) {
    if (ms < 1 || ms > MessageLoop::kMaxInterval)
        throw StoreException("Timer interval " + std::to_string(ms) + " is out of range: it must be 1 to " +
                             std::to_string(MessageLoop::kMaxInterval) + " milliseconds.");
}

}  // namespace

PublishedClass& iTimer::Class() {
    static PublishedClass* const cls = [] {
        ConnectSeams();
        return new PublishedClass("Tessaro.Timer", "Timer", "{A7231B87-E641-4B10-AD5F-5F05F11584FA}", &MakeTimer);
    }();
    return *cls;
}

iTimer::iTimer(DllServer* server) : IInterObj(server) {}

iTimer::~iTimer() { stop(); }

// ---- the hold counter and the running table ----------------------------------------------

uint16_t iTimer::DisableTimers() {
    if (timerHold != 0xFFFF) ++timerHold;
    return timerHold;
}

uint16_t iTimer::EnableTimers() {
    if (timerHold != 0) --timerHold;
    return timerHold;
}

void iTimer::UnloadingModule(tModuleIndex m) {
    std::vector<iTimer*> going;
    for (const auto& [id, t] : RunningTimers())
        if (InterObjRep* o = t->owner(); !o || o->moduleIndex() == m) going.push_back(t);
    // Stopped, not only forgotten: a forgotten loop timer would keep the
    // loop (and `tessaro run`) waiting for ticks nobody takes.
    for (iTimer* t : going) t->stop();
}

size_t iTimer::RunningCount() { return RunningTimers().size(); }

// ---- members ------------------------------------------------------------------------------

void iTimer::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        EnumRep* boolean = EnsureBooleanEnum();
        sig.addField(CompProcEnumField::make("Enabled", boolean, Method(&iTimer::pdSetEnabled),
                                             Method(&iTimer::pdGetEnabled)),
                     nullptr, 0);
        sig.addField(CompProcDataField::make("Interval", IDT_LONG, Method(&iTimer::pdSetInterval),
                                             Method(&iTimer::pdGetInterval)),
                     nullptr, 0);
        sig.addField(CompProcDataField::make("Identifier", IDT_LONG, NoSetter, Method(&iTimer::pdGetIdentifier)),
                     nullptr, 0);
        ParseCppEvent("Event Timeout()", sig);
    });
}

// ---- running ------------------------------------------------------------------------------

void iTimer::start(const char* where) {
    if (timerId_) return;
    InterObjRep* me = owner();
    // An object on its way out would hold a timer that nothing can stop.
    if (me && (me->isDestroyStarted() || me->isDestroyed()))
        throw StoreException(std::string(where) + ": a timer cannot be enabled while its object is being destroyed.");
    const uint32_t id = MessageLoop::SetTimer(interval_, &iTimer::Tick);
    if (!id) throw StoreException(std::string(where) + ": the system has no timer to give.");
    timerId_ = id;
    RunningTimers()[id] = this;
}

void iTimer::stop() {
    if (!timerId_) return;
    MessageLoop::KillTimer(timerId_);
    RunningTimers().erase(timerId_);
    timerId_ = 0;
}

void iTimer::Tick(uint32_t id) {
    if (timerHold != 0) return;
    const auto it = RunningTimers().find(id);
    if (it != RunningTimers().end()) it->second->callTimeout();
}

void iTimer::callTimeout() {
    InterObjRep* me = owner();
    if (!me || me->isDestroyStarted()) {
        stop();
        return;
    }
    // An object inside another embedded one raises no Timeout.
    if (InterObjRep* root = me->rootHost(); root && root->isEmbeddedObj()) return;
    // Invariant 2: the handler may destroy the object, which gives this
    // instance up.
    const InterObj keepOwner(me);
    AddRef();
    struct ReleaseOnExit {
        iTimer* t;
        ~ReleaseOnExit() { t->Release(); }
    } release{this};
    // A tick that comes while the user drags (the host holds the mouse
    // captured) must not leave the drag's cursor or busy signal to what the
    // Timeout does: the cursor is kept and the busy signal begun afresh
    // around the call-out. Without a graphical host nothing is captured.
    const bool captured = StoreApplication::MouseCaptured() != 0;
    const uintptr_t cursor = captured ? StoreApplication::GetCursor() : 0;
    auto resetBusy = [captured] {
        if (!captured) return;
        StoreApplication::SignalNotBusy();
        StoreApplication::SignalBusy();
    };
    auto restore = [&] {
        resetBusy();
        if (captured) StoreApplication::SetCursor(cursor);
    };
    resetBusy();
    try {
        me->evalIEvent("Timeout", nullptr, 0);
    } catch (StoreException& e) {
        stop();
        restore();
        // The user's break and the debugger's stop end the run, not only
        // this timer.
        if (e.flags & kExecutionControlFlag) throw;
        StoreApplication::HandleException(e);
        return;
    }
    restore();
}

// ---- properties ---------------------------------------------------------------------------

int32_t iTimer::pdGetEnabled() { return timerId_ ? -1 : 0; }

void iTimer::pdSetEnabled(int32_t on) {
    if (on)
        start("iTimer::pdSetEnabled()");
    else
        stop();
}

int32_t iTimer::pdGetInterval() { return static_cast<int32_t>(interval_); }

void iTimer::pdSetInterval(int32_t ms) {
    CheckInterval(ms);
    const auto value = static_cast<uint32_t>(ms);
    if (value == interval_) return;
    interval_ = value;
    if (timerId_) {
        stop();
        start("iTimer::pdSetInterval()");
    }
    markChanged();
}

int32_t iTimer::pdGetIdentifier() { return static_cast<int32_t>(timerId_); }

// ---- copies and persistence ---------------------------------------------------------------

void iTimer::clone(const IInterObj& other) {
    if (const auto* from = dynamic_cast<const iTimer*>(&other)) interval_ = from->interval_;
}

void iTimer::PO_Write(OCLStream& out) { out.writeU32(interval_); }

void iTimer::PO_Read(OCLStream& in, uint32_t) {
    const uint32_t value = in.readU32();
    // No program can store another value: the record is not a timer's.
    if (value < 1 || value > MessageLoop::kMaxInterval) throw ObjectLoadFailed(className());
    stop();
    interval_ = value;
}

}  // namespace tq
