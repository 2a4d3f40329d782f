// Stop points and their tables on their own: editing that changes a
// breakpoint's class, descriptions, and the table operations the host
// uses to manage them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "dbghost.h"

namespace tq::test {
namespace {

constexpr const char* kProgram = R"(
Begin Object Prog
  Sub One()
    Print 1
    Print 2
    Print 3
  End Sub
  Sub Two()
    Print 4
  End Sub
End Object
)";

class StopPointTest : public ::testing::Test {
protected:
    ProgramFixture prog{kProgram};
    ScriptedHost host;
};

TEST_F(StopPointTest, PassCountEditingKeepsOrChangesTheBreakpointsClass) {
    auto* simple = new SimpleBreakPoint(prog.proc("One"), 3, StopPoint::kEnabled | StopPoint::kDisableAfterFiring);
    host.addBreakpoint(simple);
    EXPECT_EQ(simple->setPassCount(0), simple);

    BreakPoint* counted = simple->setPassCount(5);
    ASSERT_NE(counted, simple);
    EXPECT_EQ(counted->kind(), StopPoint::kConditionalKind);
    EXPECT_EQ(counted->passCount(), 5);
    EXPECT_EQ(counted->line(), 3);
    EXPECT_EQ(counted->proc(), prog.proc("One"));
    EXPECT_EQ(counted->stopFlags(), StopPoint::kEnabled | StopPoint::kDisableAfterFiring);
    host.replaceBreakpoint(simple, counted);
    EXPECT_EQ(host.findBreakpoint(prog.proc("One"), 3), counted);

    EXPECT_EQ(counted->setPassCount(2), counted) << "still conditional";
    BreakPoint* again = counted->setPassCount(0);
    ASSERT_NE(again, counted);
    EXPECT_EQ(again->kind(), StopPoint::kSimpleKind);
    EXPECT_EQ(again->stopFlags(), StopPoint::kEnabled | StopPoint::kDisableAfterFiring);
    host.replaceBreakpoint(counted, again);
    EXPECT_EQ(host.findBreakpoint(prog.proc("One"), 3), again);
}

TEST_F(StopPointTest, AConditionalBreakpointStaysWhileAnyOfCountConditionOrActionRemains) {
    BreakPoint* bp = (new ConditionalBreakPoint(prog.proc("One"), 4))->setCondition(Condition("1 = 1"), "1 = 1");
    ASSERT_EQ(bp->kind(), StopPoint::kConditionalKind);
    EXPECT_STREQ(bp->conditionText(), "1 = 1");
    EXPECT_EQ(bp->setAction(Action("Print 9"), "Print 9"), bp);
    EXPECT_EQ(bp->setCondition(nullptr, "ignored"), bp) << "the action remains";
    EXPECT_EQ(bp->conditionText(), nullptr);
    BreakPoint* simple = bp->setAction(nullptr, "");
    EXPECT_NE(simple, bp);
    EXPECT_EQ(simple->kind(), StopPoint::kSimpleKind);
    EXPECT_EQ(simple->setCondition(nullptr, "text"), simple) << "a null condition changes nothing";
    delete bp;
    delete simple;
}

TEST_F(StopPointTest, DescriptionsNameTheProcedureAndLineOrTheWatchedCondition) {
    SimpleBreakPoint bp(prog.proc("Two"), 12);
    std::unique_ptr<char[]> whole(bp.getDescription(nullptr, 0));
    EXPECT_STREQ(whole.get(), "\"Two\" at line 12");
    char small[6];
    EXPECT_EQ(bp.getDescription(small, sizeof small), small);
    EXPECT_STREQ(small, "\"Two\"");

    WatchPoint wp(nullptr, Condition("x > 1"), "x > 1");
    char text[32];
    EXPECT_STREQ(wp.getDescription(text, sizeof text), "\"x > 1\"");
    EXPECT_EQ(wp.line(), 0);
    EXPECT_EQ(wp.kind(), StopPoint::kWatchKind);
}

TEST_F(StopPointTest, BreakpointsOfAProcedureAreFoundByLineAndRemovedOneOrAllAtOnce) {
    InterProcField* one = prog.proc("One");
    for (int32_t line : {3, 5, 4}) host.addBreakpoint(new SimpleBreakPoint(one, line));
    host.addBreakpoint(new SimpleBreakPoint(prog.proc("Two"), 2));
    const BreakPointList* list = host.breakpoints().list(one);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->size(), 3u);
    EXPECT_EQ((*list)[0]->line(), 5) << "kept in descending order of line";
    EXPECT_EQ((*list)[2]->line(), 3);
    EXPECT_EQ(host.findBreakpoint(one, 6), nullptr);

    std::unique_ptr<BreakPoint> four(host.removeBreakpoint(one, 4));
    ASSERT_NE(four, nullptr);
    EXPECT_EQ(four->line(), 4);
    EXPECT_EQ(host.removeBreakpoint(four.get()), nullptr) << "already out";

    EXPECT_EQ(host.removeBreakpoint(one, 0), nullptr);
    EXPECT_EQ(host.breakpoints().list(one), nullptr);
    EXPECT_NE(host.debugFlags() & Debugger::kBreakpoints, 0u) << "Two still has one";
    host.removeBreakpoint(prog.proc("Two"), 0);
    EXPECT_EQ(host.debugFlags() & Debugger::kBreakpoints, 0u);
}

TEST_F(StopPointTest, RemappingMovesStopPointsToTheRecompiledProcedure) {
    InterProcField* one = prog.proc("One");
    InterProcField* two = prog.proc("Two");
    host.addBreakpoint(new SimpleBreakPoint(one, 3));
    host.addWatchpoint(new WatchPoint(one, Condition("1"), "1"));
    host.remapBreakpointProcedure(one, two);
    host.remapWatchpointProcedure(one, two);
    BreakPoint* bp = host.findBreakpoint(two, 3);
    ASSERT_NE(bp, nullptr);
    EXPECT_EQ(bp->proc(), two);
    EXPECT_EQ(host.findBreakpoint(one, 3), nullptr);
    ASSERT_NE(host.watchpoints().list(two), nullptr);
    EXPECT_EQ(host.watchpoints().list(two)->front()->proc(), two);
}

TEST_F(StopPointTest, WatchpointsAreRemovedOneByOneByProcedureOrAllGlobalOnes) {
    auto* mine = new WatchPoint(prog.proc("One"), Condition("1"), "1");
    host.addWatchpoint(mine);
    host.addWatchpoint(new WatchPoint(nullptr, Condition("2"), "2"));
    host.addWatchpoint(new WatchPoint(nullptr, Condition("3"), "3"));
    EXPECT_EQ(host.watchpoints().globals().size(), 2u);
    host.removeWatchpoint(static_cast<const InterProcField*>(nullptr));
    EXPECT_TRUE(host.watchpoints().globals().empty());
    EXPECT_NE(host.debugFlags() & Debugger::kWatchpoints, 0u);
    std::unique_ptr<WatchPoint> back(host.removeWatchpoint(mine));
    EXPECT_EQ(back.get(), mine);
    EXPECT_EQ(host.debugFlags() & Debugger::kWatchpoints, 0u);
}

TEST_F(StopPointTest, AWatchpointKeepsItsConditionAndDropsATextWithoutAnAction) {
    WatchPoint wp(nullptr, Condition("1 = 1"), "1 = 1");
    wp.setCondition(nullptr, "gone");
    EXPECT_STREQ(wp.conditionText(), "1 = 1");
    wp.setAction(nullptr, "Print 1");
    EXPECT_EQ(wp.actionText(), nullptr);
    wp.setAction(Action("Print 1"), "Print 1");
    EXPECT_STREQ(wp.actionText(), "Print 1");
}

TEST_F(StopPointTest, DeletingAProcedureTakesItsStopPointsWithIt) {
    // A procedure compiled on its own (as an editor recompiles one) is
    // deleted while it has stop points, which must not outlive it.
    std::unique_ptr<InterProcField> gone = compiler::CompileProcedure("Sub Gone()\n  Print 1\nEnd Sub\n", "gone");
    host.addBreakpoint(new SimpleBreakPoint(gone.get(), 2));
    host.addWatchpoint(new WatchPoint(gone.get(), Condition("1"), "1"));
    gone.reset();
    EXPECT_EQ(host.debugFlags() & (Debugger::kBreakpoints | Debugger::kWatchpoints), 0u);
}

TEST_F(StopPointTest, TheFirstDebuggerIsTheProcessDebuggerUntilItGoes) {
    EXPECT_EQ(Debugger::getDebugger(), &host);
    {
        ScriptedHost second;
        EXPECT_EQ(Debugger::getDebugger(), &host);
    }
    EXPECT_EQ(Debugger::getDebugger(), &host);
    EXPECT_EQ(Debugger::debuggerIsSuspended(), 0);
}

TEST_F(StopPointTest, EnablersNestAndOnlyTheOutermostSwitchesDebugging) {
    {
        DebugEnabler a;
        EXPECT_NE(host.debugFlags() & Debugger::kActive, 0u);
        {
            DebugEnabler b;
            DebugDisabler c;
            DebugDisabler d;
            EXPECT_NE(host.debugFlags() & Debugger::kDisabled, 0u);
        }
        EXPECT_EQ(host.debugFlags() & Debugger::kDisabled, 0u);
        EXPECT_NE(host.debugFlags() & Debugger::kActive, 0u);
    }
    EXPECT_EQ(host.debugFlags() & Debugger::kActive, 0u);
    EXPECT_EQ(host.ended, 0) << "never suspended, so no end notice";
}

}  // namespace
}  // namespace tq::test
