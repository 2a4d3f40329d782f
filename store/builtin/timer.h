// iTimer: the built-in class Timer, which raises "Timeout" on its object
// every Interval milliseconds while it is Enabled.
//
// A running timer is a periodic timer of the thread's message loop
// (platform/util/msgloop.h); its ticks arrive when the host pumps messages
// (StoreApplication::PumpMessages, or the host's own loop watching the
// loop's descriptor). A process-wide hold counter suspends every timer at
// once: the debugger holds timers while it has a program stopped, and the
// program may hold them too, and the module store holds them while it
// unloads (ObjectStore::setLockState). While held, ticks are dropped, not
// queued.
//
// A Timeout that comes while the host holds the mouse captured (a drag)
// keeps the host's cursor and begins its busy signal afresh before and
// after the handler (StoreApplication::MouseCaptured, SignalNotBusy then
// SignalBusy, GetCursor and SetCursor), also when the handler fails. A host
// without a graphical interface captures nothing, and nothing is done.
//
//   stopped --Enabled = True--> running --Enabled = False--------> stopped
//                                       --Timeout raised an error->
//                                       --object destroyed / its
//                                         module unloaded---------->
//   (made, copied and loaded timers are stopped)
//
// Invariants:
//  1. timerId is non-zero exactly while the timer is running, and then it
//     is the loop timer's id and the instance is in the running table under
//     it; a tick whose id is not in the table is ignored.
//  2. While a Timeout runs, the instance and its object are held counted,
//     so a handler that destroys its own object finishes safely; the timer
//     of a destroyed object is stopped (its compiled part goes with it).
//  3. The hold counter stays in 0..65535; holds and releases pair up.
//
// PO_Write layout (after the revision byte, iintobj.h), revision 1:
//
//   offset  width  meaning
//   0       4      interval in milliseconds, 1 to 2147483647
#pragma once

#include <cstdint>

#include "store/builtin/publish.h"

namespace tq {

class iTimer final : public IInterObj {
public:
    static PublishedClass& Class();
    static InterObjRep* PO_InitObject() { return Class().PO_InitObject(); }
    static InterObjRep* PO_GetObject() { return Class().PO_GetObject(); }
    static constexpr uint32_t kRevision = 1;
    static constexpr uint32_t kDefaultInterval = 1000;

    explicit iTimer(DllServer* server);

    // ---- the hold counter and the running table ------------------------------------

    // Adds one hold (not past 65535); the new count.
    static uint16_t DisableTimers();
    // Takes one hold away (not below 0); the new count.
    static uint16_t EnableTimers();
    static bool TimersEnabled() { return timerHold == 0; }
    // Stops every timer whose object lives in module m.
    static void UnloadingModule(tModuleIndex m);
    // Timers running now.
    static size_t RunningCount();

    // ---- the protocol --------------------------------------------------------------

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return kRevision; }
    void PO_Read(OCLStream& in, uint32_t revision) override;
    void PO_Write(OCLStream& out) override;
    const char* className() const override { return "Timer"; }
    // A copy takes the interval; it starts stopped.
    void clone(const IInterObj& other) override;

    // ---- properties ----------------------------------------------------------------

    int32_t pdGetEnabled();
    void pdSetEnabled(int32_t on);
    int32_t pdGetInterval();
    void pdSetInterval(int32_t ms);
    int32_t pdGetIdentifier();

private:
    ~iTimer() override;
    void start(const char* where);
    void stop();
    // Raises Timeout on the owner (CallTimeoutMethod).
    void callTimeout();
    static void Tick(uint32_t id);

    uint32_t timerId_ = 0;
    uint32_t interval_ = kDefaultInterval;

    static inline uint16_t timerHold = 0;
};

}  // namespace tq
