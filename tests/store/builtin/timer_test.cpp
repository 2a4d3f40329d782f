// Timer and ACL in the store: the hold counter and the debugger's hold,
// ticks dropped while held, a Timeout that destroys its own object,
// timers stopped with their module, persistence (also in a fresh process)
// and records a program could never have written. What a program sees is
// in tests/programs/timers.tqs and access.tqs.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <tqcompile/tqcompile.h>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/msgloop.h"
#include "platform/util/username.h"
#include "store/builtin/iacl.h"
#include "store/builtin/timer.h"
#include "store/builtin/uprofile.h"
#include "store/debug/debugger.h"
#include "store/errors/extexcep.h"
#include "store/model/interobj.h"
#include "store/persist/objstore.h"
#include "store/printable.h"
#include "store/storeapp.h"
#include "store/vals.h"
#include "tests/store/builtin/builtinfix.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

// Print's text, and something to do when it arrives.
class Sink final : public TextPrintable {
public:
    std::string text;
    std::function<void()> onWrite;

protected:
    void write(const char* t, size_t length) override {
        text.append(t, length);
        if (onWrite) onWrite();
    }
};

const char* const kClock = R"(Begin Object Clock
  Dim Ticks As Long
  Dim T As New Timer
  Sub T_Timeout()
    Ticks = Ticks + 1
    Print "tick"
  End Sub
End Object
Begin Object Vault From ACL
  Dim Grant As Long
End Object
)";

class Timers : public BuiltinTest {
protected:
    void SetUp() override { app_->setCurrentPrintable(&sink_); }
    void TearDown() override {
        BuiltinTest::TearDown();
        EXPECT_EQ(iTimer::RunningCount(), 0u) << "a module's timers stop with it";
        EXPECT_EQ(MessageLoop::TimerCount(), 0u);
        EXPECT_TRUE(iTimer::TimersEnabled());
    }

    static iTimer& timer(const char* path) {
        InterObjRep* o = found(path);
        auto* t = o ? dynamic_cast<iTimer*>(o->compiledPart()) : nullptr;
        if (!t) throw std::runtime_error(std::string(path) + " is no timer");
        return *t;
    }
    static int32_t ticks() {
        ValuePtr v = found("Clock")->eval("Ticks");
        return v ? v->as<int32_t>() : -1;
    }
    // Waits for the next due tick and serves it (at most a second).
    static void serveOne() {
        MessageLoop::Wait(1000);
        StoreApplication::PumpMessages();
    }

    std::unique_ptr<DefaultStoreApplication> app_ = std::make_unique<DefaultStoreApplication>();
    Sink sink_;
};

TEST_F(Timers, TheHoldCounterPairsHoldsAndReleasesAndStopsAtItsBounds) {
    EXPECT_EQ(iTimer::EnableTimers(), 0) << "a release at 0 stays at 0";
    EXPECT_EQ(iTimer::DisableTimers(), 1);
    EXPECT_EQ(iTimer::DisableTimers(), 2);
    EXPECT_FALSE(iTimer::TimersEnabled());
    EXPECT_EQ(iTimer::EnableTimers(), 1);
    EXPECT_FALSE(iTimer::TimersEnabled()) << "two holds need two releases";
    EXPECT_EQ(iTimer::EnableTimers(), 0);
    EXPECT_TRUE(iTimer::TimersEnabled());
    for (int i = 0; i < 0x10000; ++i) iTimer::DisableTimers();
    EXPECT_EQ(iTimer::DisableTimers(), 0xFFFF);
    for (int i = 0; i < 0xFFFF; ++i) iTimer::EnableTimers();
    EXPECT_TRUE(iTimer::TimersEnabled());
    // The debugger holds through its seam, which publishing filled.
    ASSERT_NE(DebugTimerSeam::disableTimers, nullptr);
    DebugTimerSeam::disableTimers();
    EXPECT_FALSE(iTimer::TimersEnabled());
    DebugTimerSeam::enableTimers();
    EXPECT_TRUE(iTimer::TimersEnabled());
}

TEST_F(Timers, TicksWhileHeldAreDroppedNotQueued) {
    loadText("clock.tqs", kClock);
    iTimer& t = timer("Clock.T");
    t.pdSetInterval(5);
    t.pdSetEnabled(-1);
    iTimer::DisableTimers();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    StoreApplication::PumpMessages();
    serveOne();
    EXPECT_EQ(ticks(), 0);
    EXPECT_EQ(t.pdGetEnabled(), -1) << "a held timer keeps running";
    iTimer::EnableTimers();
    StoreApplication::PumpMessages();
    EXPECT_EQ(ticks(), 0) << "nothing was kept for later";
    serveOne();
    EXPECT_EQ(ticks(), 1);
}

TEST_F(Timers, TheStoreHoldsTimersWhileLockedAndARepeatedSettingTakesNoOtherHold) {
    ObjectStore::setLockState(LOCK_UNLOADING);
    EXPECT_FALSE(iTimer::TimersEnabled());
    // Still locked: the hold is the one taken on leaving the normal state.
    ObjectStore::setLockState(LOCK_UNLOADING_ALL);
    ObjectStore::setLockState(LOCK_NORMAL);
    EXPECT_TRUE(iTimer::TimersEnabled());
    // Setting the state it already has gives back nothing: the debugger's
    // hold stays.
    iTimer::DisableTimers();
    ObjectStore::setLockState(LOCK_NORMAL);
    EXPECT_FALSE(iTimer::TimersEnabled());
    ObjectStore::setLockState(LOCK_UNLOADING);
    ObjectStore::setLockState(LOCK_NORMAL);
    EXPECT_FALSE(iTimer::TimersEnabled());
    iTimer::EnableTimers();
    EXPECT_TRUE(iTimer::TimersEnabled());
}

// A host whose user drags: the mouse is captured, and what the call-out
// asks of the host is written down in order.
class Dragging final : public DefaultStoreApplication {
public:
    std::string calls;
    int captured = 1;
    int mouseCaptured() override { return captured; }
    uintptr_t getCursor() override {
        calls += "get ";
        return 77;
    }
    void setCursor(uintptr_t cursor) override { calls += "set" + std::to_string(cursor) + " "; }
    void signalBusy() override { calls += "busy "; }
    void signalNotBusy() override { calls += "notbusy "; }
    int handleException(StoreException& e) override {
        calls += std::string("handed:") + e.what() + " ";
        return 1;
    }
};

TEST_F(Timers, ATimeoutDuringADragKeepsTheCursorAndRenewsTheBusySignalAlsoWhenItFails) {
    app_.reset();
    auto* host = new Dragging;
    app_.reset(host);
    app_->setCurrentPrintable(&sink_);
    sink_.onWrite = [&] { host->calls += "timeout "; };
    loadText("drag.tqs", R"(Begin Object Clock
  Dim Ticks As Long
  Dim T As New Timer
  Dim Bad As New Timer
  Sub T_Timeout()
    Print "tick";
  End Sub
  Sub Bad_Timeout()
    Throw Oops
  End Sub
End Object
)");
    iTimer& t = timer("Clock.T");
    t.pdSetInterval(5);
    t.pdSetEnabled(-1);
    serveOne();
    t.pdSetEnabled(0);
    EXPECT_EQ(host->calls, "get notbusy busy timeout notbusy busy set77 ");
    host->calls.clear();
    iTimer& bad = timer("Clock.Bad");
    bad.pdSetInterval(5);
    bad.pdSetEnabled(-1);
    serveOne();
    EXPECT_EQ(host->calls, "get notbusy busy notbusy busy set77 handed:Oops ");
    EXPECT_EQ(bad.pdGetEnabled(), 0) << "a failing Timeout stops its timer";
    // Nothing captured (a host without a graphical interface): the host's
    // busy signal and cursor are left alone.
    host->calls.clear();
    host->captured = 0;
    t.pdSetEnabled(-1);
    serveOne();
    t.pdSetEnabled(0);
    EXPECT_EQ(host->calls, "timeout ");
}

TEST_F(Timers, ATimeoutThatDestroysItsOwnObjectEndsCleanlyAndStopsTheTimer) {
    loadText("clock.tqs", kClock);
    iTimer& t = timer("Clock.T");
    t.pdSetInterval(5);
    t.pdSetEnabled(-1);
    InterObjRep* clock = found("Clock");
    sink_.onWrite = [&] {
        sink_.onWrite = nullptr;
        clock->Destroy();
    };
    serveOne();
    EXPECT_EQ(sink_.text, "tick\n");
    EXPECT_EQ(iTimer::RunningCount(), 0u);
    EXPECT_EQ(MessageLoop::TimerCount(), 0u);
    InterObjRep::DeleteObjects();
}

TEST_F(Timers, ATimerCannotBeEnabledWhileItsObjectIsBeingDestroyed) {
    // Failures the store hands on (a failing Destruct) are kept.
    struct Recorder final : DefaultStoreApplication {
        std::string handed;
        int handleException(StoreException& e) override {
            handed += e.what();
            return 1;
        }
    };
    app_.reset();
    auto* recorder = new Recorder;
    app_.reset(recorder);
    loadText("late.tqs", R"(Begin Object Late From Timer
  Sub Destruct()
    Interval = 5
    Enabled = True
  End Sub
End Object
)");
    found("Late")->Destroy();
    EXPECT_EQ(recorder->handed,
              "iTimer::pdSetEnabled(): a timer cannot be enabled while its object is being destroyed.");
    EXPECT_EQ(iTimer::RunningCount(), 0u);
    InterObjRep::DeleteObjects();
}

TEST_F(Timers, UnloadingAModuleStopsItsTimersAndBadIntervalsAreRefusedWithTheirValue) {
    const tModuleIndex m = loadText("clock.tqs", kClock);
    iTimer& t = timer("Clock.T");
    for (const int32_t bad : {0, -1, INT32_MIN}) {
        try {
            t.pdSetInterval(bad);
            ADD_FAILURE() << bad << " was taken";
        } catch (const StoreException& e) {
            EXPECT_EQ(std::string(e.what()), "Timer interval " + std::to_string(bad) +
                                                 " is out of range: it must be 1 to 2147483647 milliseconds.");
        }
    }
    EXPECT_EQ(t.pdGetInterval(), 1000);
    t.pdSetEnabled(-1);
    const int32_t first = t.pdGetIdentifier();
    t.pdSetInterval(1000);
    EXPECT_EQ(t.pdGetIdentifier(), first) << "the same interval changes nothing";
    t.pdSetInterval(2000);
    EXPECT_NE(t.pdGetIdentifier(), first) << "a new interval restarts the timer";
    EXPECT_TRUE(ObjectStore::IsDirty(m));
    EXPECT_EQ(iTimer::RunningCount(), 1u);
    ObjectStore::UnloadModule(m);
    EXPECT_EQ(iTimer::RunningCount(), 0u);
    EXPECT_EQ(MessageLoop::TimerCount(), 0u);
}

TEST_F(Timers, RecordsNoProgramCouldWriteAreRefused) {
    loadText("clock.tqs", kClock);
    struct Case {
        IInterObj* part;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    IInterObj* timerPart = found("Clock.T")->compiledPart();
    IInterObj* aclPart = found("Vault")->compiledPart();
    const Case cases[] = {
        {timerPart, {1, 0, 0, 0, 0}, "Unable to load object: Timer"},              // interval 0
        {timerPart, {1, 0, 0, 0, 0x80}, "Unable to load object: Timer"},           // past the range
        {timerPart, {2, 100, 0, 0, 0}, "Unable to load object: Timer"},            // newer revision
        {aclPart, {1, 0xFE, 0, 0, 0}, "Unable to load object: ACL"},               // bit 0x80
        {aclPart, {1, 0x7E, 0, 0, 0x80}, "Unable to load object: ACL"},            // a high bit
    };
    for (const Case& c : cases) {
        auto storage = std::make_unique<OCLStorage>();
        OCLStream s(*storage, "Part", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        s.write(c.bytes.data(), c.bytes.size());
        s.seek(0);
        try {
            c.part->Load(s);
            ADD_FAILURE() << "a record was taken: " << c.message;
        } catch (const ObjectLoadFailed& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    EXPECT_EQ(timer("Clock.T").pdGetInterval(), 1000) << "a refused record changes nothing";
    EXPECT_EQ(iACL::Of(found("Vault"))->permissions(), iACL::kDefaultPermissions);
}

TEST_F(Timers, UsernameIsTheEffectiveUsersAndIsReadOnce) {
    auto* profile = dynamic_cast<iUserProfile*>(iUserProfile::PO_GetObject()->compiledPart());
    ASSERT_NE(profile, nullptr);
    const std::string name = static_cast<const char*>(profile->pdGetUsername());
    EXPECT_EQ(name, UserName());
    const char* saved = std::getenv("USER");
    const std::string keep = saved ? saved : "";
    setenv("USER", "somebody-else", 1);
    EXPECT_EQ(std::string(static_cast<const char*>(profile->pdGetUsername())), name);
    if (saved)
        setenv("USER", keep.c_str(), 1);
    else
        unsetenv("USER");
}

TEST_F(Timers, TimersAndACLsSavedWithTheirModuleReloadStoppedWithTheirStateInAFreshProcess) {
    if (IsFreshProcess()) {
        ObjectStore::LoadModule(FreshProcessArg("TQ_CLOCK").c_str(), 0, 0);
        iTimer& t = timer("Clock.T");
        EXPECT_EQ(t.pdGetInterval(), 250);
        EXPECT_EQ(t.pdGetEnabled(), 0) << "a loaded timer is stopped";
        EXPECT_EQ(t.pdGetIdentifier(), 0);
        EXPECT_EQ(iTimer::RunningCount(), 0u);
        EXPECT_EQ(iACL::Of(found("Vault"))->permissions(), 34u);
        EXPECT_FALSE(found("Vault")->isWriteAllowed());
        EXPECT_TRUE(found("Vault")->isReadAllowed());
        return;
    }
    const tModuleIndex m = loadText("clock.tqs", kClock);
    iTimer& t = timer("Clock.T");
    t.pdSetInterval(250);
    t.pdSetEnabled(-1);
    iACL::Of(found("Vault"))->pdSetAccessPermissions(34);
    ObjectStore::SaveAs(m, dir_.file("clock.qbo").c_str(), 0);
    ObjectStore::UnloadModule(m);
    EXPECT_EQ(RunInFreshProcess({{"TQ_CLOCK", dir_.file("clock.qbo")}}), 0);
}

}  // namespace
}  // namespace tq
