// The debugger driven through programs of the language: where it stops,
// what stop points do when they fire, stepping, the exception traps, and
// that a stop that fails leaves nothing behind.
#include <gtest/gtest.h>

#include "dbghost.h"

namespace tq::test {
namespace {

constexpr const char* kProgram = R"(
Begin Object Prog
  Dim Total As Long
  Sub Main()
    Dim i As Long
    Total = 0
    For i = 1 To 5
      Add i
    Next i
    Print Total
  End Sub
  Sub Add(ByVal n As Long)
    Total = Total + n
  End Sub
  Sub Halt()
    Print "before"
    Stop
    Print "after"
  End Sub
  Sub FailSystem()
    Print 1 \ 0
    Print "went on"
  End Sub
  Sub FailProgram()
    Throw Oops
    Print "went on"
  End Sub
End Object
)";

class DebuggerTest : public ::testing::Test {
protected:
    ProgramFixture prog{kProgram};
    ScriptedHost host;

    InterProcField* add() { return prog.proc("Add"); }
    InterProcField* main() { return prog.proc("Main"); }
    int32_t addLine() { return prog.lineOf("Add", "Total = Total + n"); }
    int32_t callLine() { return prog.lineOf("Main", "Add i"); }

    // Runs Prog.method with debugging active.
    std::string debug(const char* method = "Main") {
        DebugEnabler on;
        return prog.run(method);
    }
    std::vector<int32_t> stopValues(const char* expr) {
        std::vector<int32_t> seen;
        for (int i = 0; i < 10; ++i)
            host.script.push_back([&seen, expr](ScriptedHost& h) {
                seen.push_back(h.value(expr));
                h.cont();
            });
        debug();
        host.script.clear();
        return seen;
    }
};

// ---- breakpoints ---------------------------------------------------------------------------

TEST_F(DebuggerTest, ASimpleBreakpointStopsEveryTimeItsLineIsReached) {
    host.addBreakpoint(new SimpleBreakPoint(add(), addLine()));
    EXPECT_EQ(stopValues("n"), (std::vector<int32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(host.stops[0], (StopSeen{"Add", addLine(), StopPoint::kSimpleKind}));
}

TEST_F(DebuggerTest, PassCountThreeFiresOnTheFourthTime) {
    auto* bp = new ConditionalBreakPoint(add(), addLine());
    ASSERT_EQ(bp->setPassCount(3), bp);
    host.addBreakpoint(bp);
    EXPECT_EQ(stopValues("n"), (std::vector<int32_t>{4, 5}));
}

TEST_F(DebuggerTest, AFalseConditionCountsNoPass) {
    // With the condition true from n = 3 and one pass to skip, the first
    // stop is at 4; counting passes at false conditions would stop at 3.
    BreakPoint* bp = new ConditionalBreakPoint(add(), addLine());
    bp = bp->setCondition(Condition("n >= 3"), "n >= 3");
    bp = bp->setPassCount(1);
    host.addBreakpoint(bp);
    EXPECT_EQ(stopValues("n"), (std::vector<int32_t>{4, 5}));
}

TEST_F(DebuggerTest, AConditionThatIsNeverTrueKeepsItsPassCount) {
    BreakPoint* bp = (new ConditionalBreakPoint(add(), addLine()))->setCondition(Condition("n > 100"), "n > 100");
    bp = bp->setPassCount(2);
    host.addBreakpoint(bp);
    debug();
    EXPECT_TRUE(host.stops.empty());
    EXPECT_EQ(bp->passCount(), 2);
}

TEST_F(DebuggerTest, ABreakpointThatDisablesItselfStopsOnceAndStays) {
    auto* bp = new SimpleBreakPoint(add(), addLine(), StopPoint::kEnabled | StopPoint::kDisableAfterFiring);
    host.addBreakpoint(bp);
    debug();
    EXPECT_EQ(host.stops.size(), 1u);
    EXPECT_EQ(host.findBreakpoint(add(), addLine()), bp);
    EXPECT_EQ(bp->stopFlags(), 0);
}

TEST_F(DebuggerTest, ABreakpointThatDeletesItselfStopsOnceAndIsGone) {
    host.addBreakpoint(new SimpleBreakPoint(add(), addLine(), StopPoint::kEnabled | StopPoint::kDeleteAfterFiring));
    EXPECT_EQ(stopValues("n"), (std::vector<int32_t>{1}));
    EXPECT_EQ(host.findBreakpoint(add(), addLine()), nullptr);
    EXPECT_EQ(host.debugFlags() & Debugger::kBreakpoints, 0u);
}

TEST_F(DebuggerTest, AnActionBlockRunsInsteadOfStopping) {
    BreakPoint* bp = (new ConditionalBreakPoint(add(), addLine()))->setAction(Action("Total = Total + 100"), "Total = Total + 100");
    ASSERT_EQ(bp->kind(), StopPoint::kConditionalKind);
    host.addBreakpoint(bp);
    EXPECT_EQ(debug(), "515\n");
    EXPECT_TRUE(host.stops.empty());
    EXPECT_STREQ(bp->actionText(), "Total = Total + 100");
}

TEST_F(DebuggerTest, ADisabledBreakpointDoesNotStop) {
    auto* bp = new SimpleBreakPoint(add(), addLine());
    bp->enable(false);
    host.addBreakpoint(bp);
    debug();
    EXPECT_TRUE(host.stops.empty());
}

TEST_F(DebuggerTest, NothingStopsWhileDebuggingIsNotActiveOrIsDisabled) {
    host.addBreakpoint(new SimpleBreakPoint(add(), addLine()));
    prog.run("Main");
    {
        DebugEnabler on;
        DebugDisabler off;
        prog.run("Main");
    }
    EXPECT_TRUE(host.stops.empty());
    debug();
    EXPECT_EQ(host.stops.size(), 5u);
}

TEST_F(DebuggerTest, AProgramWithNothingSetGivesTheSameResultsUnderTheDebugger) {
    const std::string plain = prog.run("Main");
    EXPECT_EQ(debug(), plain);
    EXPECT_EQ(debug("Halt"), "before\nafter\n") << "Stop stops and goes on";
    EXPECT_EQ(host.stops.size(), 1u);
}

// ---- watchpoints ---------------------------------------------------------------------------

TEST_F(DebuggerTest, AWatchpointStopsWhereverItsConditionHolds) {
    host.addWatchpoint(new WatchPoint(nullptr, Condition("Total >= 6"), "Total >= 6",
                                      StopPoint::kEnabled | StopPoint::kDeleteAfterFiring));
    debug();
    ASSERT_EQ(host.stops.size(), 1u);
    // Total reaches 6 in Add (1+2+3); the next statement is Add's closing line.
    EXPECT_EQ(host.stops[0].proc, "Add");
    EXPECT_EQ(host.stops[0].kind, StopPoint::kWatchKind);
    EXPECT_EQ(host.debugFlags() & Debugger::kWatchpoints, 0u);
}

TEST_F(DebuggerTest, AWatchpointOfOneProcedureIsNotCheckedInAnother) {
    host.addWatchpoint(new WatchPoint(main(), Condition("Total >= 6"), "Total >= 6"));
    debug();
    ASSERT_FALSE(host.stops.empty());
    for (const StopSeen& s : host.stops) EXPECT_EQ(s.proc, "Main");
}

// ---- stepping ------------------------------------------------------------------------------

TEST_F(DebuggerTest, StepOverACallStopsAtTheNextStatementOfTheSameProcedure) {
    host.addBreakpoint(new SimpleBreakPoint(main(), callLine(), StopPoint::kEnabled | StopPoint::kDeleteAfterFiring));
    host.script.push_back([](ScriptedHost& h) { h.step(); });
    host.script.push_back([](ScriptedHost& h) { h.step(); });
    debug();
    ASSERT_GE(host.stops.size(), 3u);
    EXPECT_EQ(host.stops[1], (StopSeen{"Main", prog.lineOf("Main", "Next i"), -1}));
    EXPECT_EQ(host.stops[2], (StopSeen{"Main", callLine(), -1}));
    EXPECT_EQ(host.stepDepth(), 0);
}

TEST_F(DebuggerTest, StepOverTheLastStatementStopsInTheCaller) {
    host.addBreakpoint(new SimpleBreakPoint(add(), addLine(), StopPoint::kEnabled | StopPoint::kDeleteAfterFiring));
    host.script.push_back([](ScriptedHost& h) { h.step(); });
    host.script.push_back([](ScriptedHost& h) { h.step(); });
    debug();
    ASSERT_EQ(host.stops.size(), 3u);
    EXPECT_EQ(host.stops[1], (StopSeen{"Add", prog.lineOf("Add", "End Sub"), -1}));
    EXPECT_EQ(host.stops[2], (StopSeen{"Main", prog.lineOf("Main", "Next i"), -1}));
}

TEST_F(DebuggerTest, TraceStopsInsideTheCalledProcedure) {
    host.addBreakpoint(new SimpleBreakPoint(main(), callLine(), StopPoint::kEnabled | StopPoint::kDeleteAfterFiring));
    host.script.push_back([](ScriptedHost& h) { h.trace(); });
    debug();
    ASSERT_EQ(host.stops.size(), 2u);
    EXPECT_EQ(host.stops[1], (StopSeen{"Add", addLine(), -1}));
}

TEST_F(DebuggerTest, StepOutStopsInTheCallerAfterTheReturn) {
    host.addBreakpoint(new SimpleBreakPoint(add(), addLine(), StopPoint::kEnabled | StopPoint::kDeleteAfterFiring));
    host.script.push_back([](ScriptedHost& h) { h.stepOut(); });
    debug();
    ASSERT_EQ(host.stops.size(), 2u);
    EXPECT_EQ(host.stops[1], (StopSeen{"Main", prog.lineOf("Main", "Next i"), -1}));
}

TEST_F(DebuggerTest, AnimateStopsBeforeEveryStatementUntilAStopPointFires) {
    host.addBreakpoint(new SimpleBreakPoint(add(), addLine(), StopPoint::kEnabled | StopPoint::kDeleteAfterFiring));
    host.script.push_back([](ScriptedHost& h) { h.animate(); });  // first statement of Main
    host.trace();
    debug();
    // Main: Total = 0 (the trace), For and Add i (animating), then the
    // breakpoint in Add; after it, nothing more.
    ASSERT_EQ(host.stops.size(), 4u);
    EXPECT_EQ(host.stops[2], (StopSeen{"Main", callLine(), -1}));
    EXPECT_EQ(host.stops[3], (StopSeen{"Add", addLine(), StopPoint::kSimpleKind}));
    EXPECT_EQ(host.debugFlags() & Debugger::kAnimate, 0u);
}

TEST_F(DebuggerTest, ContinueKeepsAnimatingAndResetEndsIt) {
    int count = 0;
    host.animate();
    for (int i = 0; i < 3; ++i)
        host.script.push_back([&count](ScriptedHost& h) {
            ++count;
            h.cont();
        });
    host.script.push_back([](ScriptedHost& h) { h.reset(); });
    debug();
    EXPECT_EQ(host.stops.size(), 4u);
    EXPECT_EQ(count, 3);
}

// ---- the frames the host looks at ----------------------------------------------------------

TEST_F(DebuggerTest, UpAndDownMoveBetweenProcedureFramesAndStopAtTheEnds) {
    host.addBreakpoint(new SimpleBreakPoint(add(), addLine(), StopPoint::kEnabled | StopPoint::kDeleteAfterFiring));
    std::vector<std::string> seen;
    host.script.push_back([&](ScriptedHost& h) {
        auto where = [&] { seen.push_back(std::string(h.currentProcedure()->name()) + ":" + std::to_string(h.currentLine())); };
        h.up(1);
        where();
        EXPECT_EQ(h.value("i"), 1);
        h.up(5);
        where();
        h.down(3);
        where();
        h.up(1);
        h.home();
        where();
        h.cont();
    });
    debug();
    const std::string add = "Add:" + std::to_string(addLine());
    const std::string main = "Main:" + std::to_string(callLine());
    EXPECT_EQ(seen, (std::vector<std::string>{main, main, add, add}));
    EXPECT_EQ(host.frameChanges, 5);
}

// ---- exceptions ----------------------------------------------------------------------------

// The stop comes first; going on from it lets the failure go on, so the
// run ends as it would without the debugger.
TEST_F(DebuggerTest, SystemExceptionsAreTrappedByDefaultAndGoOnFailingAfterTheStop) {
    try {
        debug("FailSystem");
        ADD_FAILURE() << "the failure went no further than the stop";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Division by zero.");
        EXPECT_EQ(e.line, prog.lineOf("FailSystem", "Print 1"));
    }
    ASSERT_EQ(host.stops.size(), 1u);
    EXPECT_EQ(host.stops[0].kind, -1);
    EXPECT_EQ(host.lastException().line, prog.lineOf("FailSystem", "Print 1"));
    EXPECT_EQ(host.lastException().procedure, prog.proc("FailSystem"));
    EXPECT_EQ(host.lastException().object(), prog.object());
}

TEST_F(DebuggerTest, EachTrapTakesOnlyItsOwnKindOfException) {
    host.trapInterpretiveExceptions(0);
    EXPECT_THROW(debug("FailProgram"), StoreException) << "a program's exception with only system ones trapped";
    host.trapSystemExceptions(0);
    host.trapInterpretiveExceptions(1);
    EXPECT_THROW(debug("FailSystem"), StoreException) << "a system exception with only the program's trapped";
    EXPECT_TRUE(host.stops.empty());
    EXPECT_THROW(debug("FailProgram"), StoreException);
    EXPECT_EQ(host.stops.size(), 1u);
    EXPECT_STREQ(host.lastException().name(), "Oops");
}

TEST_F(DebuggerTest, TheTrapsReportWithoutChangingWhenAskedWithTheQueryValue) {
    EXPECT_EQ(host.trapSystemExceptions(Debugger::kQuery), 1);
    EXPECT_EQ(host.trapInterpretiveExceptions(Debugger::kQuery), 0);
    EXPECT_EQ(host.trapSystemExceptions(0), 0);
    EXPECT_EQ(host.trapSystemExceptions(Debugger::kQuery), 0);
    EXPECT_EQ(host.trapInterpretiveExceptions(1), 1);
    EXPECT_EQ(host.trapInterpretiveExceptions(Debugger::kQuery), 1);
}

TEST_F(DebuggerTest, StopWithoutActiveDebuggingEndsTheRun) {
    EXPECT_THROW(prog.run("Halt"), TerminateExecution);
    EXPECT_TRUE(host.stops.empty());
}

TEST_F(DebuggerTest, ExceptionsInProceduresOfTheIgnoredModuleAreNotTaken) {
    host.setIgnoredModule(prog.object()->moduleIndex());
    EXPECT_THROW(debug("FailSystem"), StoreException);
    EXPECT_TRUE(host.stops.empty());
}

// ---- failures inside a stop ----------------------------------------------------------------

TEST_F(DebuggerTest, AFailingConditionPassesOutAfterReset) {
    // A step over the call is pending when the condition in the callee
    // fails: reset must end it.
    host.trapSystemExceptions(0);
    host.addBreakpoint((new ConditionalBreakPoint(add(), addLine()))->setCondition(Condition("1 \\ 0"), "1 \\ 0"));
    host.addBreakpoint(new SimpleBreakPoint(main(), callLine(), StopPoint::kEnabled | StopPoint::kDeleteAfterFiring));
    host.script.push_back([](ScriptedHost& h) { h.step(); });
    EXPECT_THROW(debug(), StoreException);
    EXPECT_EQ(Debugger::debuggerIsSuspended(), 0);
    EXPECT_EQ(host.stepDepth(), 0);
    EXPECT_EQ(host.debugFlags() & Debugger::kModeBits, Debugger::kBreakpoints);
}

TEST_F(DebuggerTest, AFailingActionPassesOutAndItsSelfDeletingBreakpointIsFreed) {
    host.trapSystemExceptions(0);
    BreakPoint* bp = new SimpleBreakPoint(add(), addLine(), StopPoint::kEnabled | StopPoint::kDeleteAfterFiring);
    host.addBreakpoint(bp->setAction(Action("Total = 1 \\ 0"), "Total = 1 \\ 0"));
    delete bp;
    EXPECT_THROW(debug(), StoreException);
    EXPECT_EQ(host.findBreakpoint(add(), addLine()), nullptr);
    EXPECT_EQ(Debugger::debuggerIsSuspended(), 0);
}

TEST_F(DebuggerTest, TheHostEndsTheRunByThrowingFromSuspend) {
    host.addBreakpoint(new SimpleBreakPoint(add(), addLine(), StopPoint::kEnabled | StopPoint::kDeleteAfterFiring));
    host.script.push_back([](ScriptedHost& h) {
        h.step();
        throw TerminateExecution();
    });
    EXPECT_THROW(debug(), TerminateExecution);
    EXPECT_EQ(host.stepDepth(), 0);
    EXPECT_EQ(host.debugFlags() & Debugger::kModeBits, 0u);
    EXPECT_EQ(host.currentContext(), nullptr);
    EXPECT_EQ(host.ended, 1);
    // Debugging again works from a clean state.
    host.addBreakpoint(new SimpleBreakPoint(add(), addLine()));
    debug();
    EXPECT_EQ(host.stops.size(), 6u);
}

}  // namespace
}  // namespace tq::test
