// What a failure costs a host that records its call chain (tessaro's
// ChainRecorder): a recursion that fails and catches at every level, down
// to the depth limit, must cost work in proportion to its depth, not its
// square. The work is counted (frames the chain walk looked at, register
// activations a failure brought up to date), not timed; and the chain the
// store hands out must list what a walk over every frame lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "programrun.h"

namespace tq::compiler::test {
namespace {

// Each level fails and catches, then goes one deeper from its Catch, until
// the calls run out: the last failure, "Stack overflow.", escapes Main.
const char* const kDirect = R"(Begin Object Program
  Dim Depth As Long
  Sub Down(ByVal n As Long)
    Depth = n
    Try
      Throw Oops(n)
    Catch Oops
      Down n + 1
    End Try
  End Sub
  Sub Main()
    Down 1
  End Sub
End Object
)";

// The same through procedures the register form takes: Fail's failure
// comes from register code, Deeper's call of Down goes from register code
// back to the tree walker.
const char* const kThroughRegisters = R"(Begin Object Program
  Dim Depth As Long
  Sub Down(ByVal n As Long)
    Depth = n
    Try
      Fail n
    Catch
      Deeper n + 1
    End Try
  End Sub
  Sub Fail(ByVal n As Long)
    Dim zero As Long
    Depth = n \ zero
  End Sub
  Sub Deeper(ByVal n As Long)
    Down n
  End Sub
  Sub Main()
    Down 1
  End Sub
End Object
)";

// Runs of calls of one procedure broken by another, inside loops and Try
// blocks, every level failing and catching; Limit ends it well short of
// the depth limit.
const char* const kMixedRuns = R"(Begin Object Program
  Dim Limit As Long
  Sub Walk(ByVal n As Long)
    Dim i As Long
    For i = 1 To 1
      Try
        Throw Oops
      Catch Oops
        If n >= Limit Then Exit Sub
        If n Mod 5 = 0 Then Other n + 1 Else Walk n + 1
      End Try
    Next i
  End Sub
  Sub Other(ByVal n As Long)
    If n Mod 3 = 0 Then Other n + 1 Else Walk n + 1
  End Sub
  Sub Main()
    Limit = 60
    Walk 1
  End Sub
End Object
)";

// The chain of the failure being offered, as the old walk over every frame
// made it: of a run of calls of one procedure on one object the newest
// `shown` listed, the rest counted.
std::vector<CallChainEntry> WalkEveryFrame(int32_t shown) {
    std::vector<CallChainEntry> chain;
    const Context* current = nullptr;
    int32_t line = 0;
    const InterProcField* lastProc = nullptr;
    const InterObjRep* lastMe = nullptr;
    int32_t ofThisRun = 0;
    for (StackFrame* f = ExecutionStack::top(); f; f = f->below()) {
        if (&f->context() != current) {
            current = &f->context();
            line = f->node() ? f->node()->runningLine() : 0;
        }
        if (f->type() != SubFrame && f->type() != FunctionFrame) continue;
        InterProcField* proc = f->proc();
        if (!proc) continue;
        InterObjRep* me = f->context().me();
        ofThisRun = proc == lastProc && me == lastMe ? ofThisRun + 1 : 1;
        lastProc = proc;
        lastMe = me;
        if (ofThisRun <= shown) {
            chain.push_back({f, line, 0});
        } else {
            if (ofThisRun == shown + 1) chain.push_back({f, 0, 0});
            ++chain.back().moreCalls;
            chain.back().frame = f;
        }
    }
    return chain;
}

// A host's hook that records the chain of every failure offered, as
// tessaro's does; it only watches, so procedures keep their register form.
class ChainHook final : public DebugHook {
public:
    explicit ChainHook(bool compare = false) : DebugHook(false), compare_(compare) { DebugHook::Install(this); }
    ~ChainHook() override { DebugHook::Install(nullptr); }
    void eval(Context&, int32_t) override {}
    void functionCalled() override {}
    void functionReturned() override {}
    int error(Context&, StoreException&) override {
        ++offers;
        const std::vector<CallChainEntry> chain = ExecutionStack::callChain(3);
        // The frames are gone once the failure has passed: their names
        // are kept.
        names.clear();
        counts.clear();
        for (const CallChainEntry& entry : chain) {
            names.push_back(entry.frame->proc()->name());
            counts.push_back(entry.moreCalls);
        }
        if (compare_) {
            const std::vector<CallChainEntry> expected = WalkEveryFrame(3);
            bool same = expected.size() == chain.size();
            for (size_t i = 0; same && i < chain.size(); ++i)
                // A count names some frame of its run: compared by its
                // procedure, not by which frame.
                same = chain[i].moreCalls == expected[i].moreCalls &&
                       (chain[i].moreCalls ? chain[i].frame->proc() == expected[i].frame->proc()
                                           : chain[i].frame == expected[i].frame && chain[i].line == expected[i].line);
            if (!same) ++differing;
        }
        return 0;
    }

    int offers = 0;
    int differing = 0;
    // The last chain recorded: each entry's procedure and count.
    std::vector<std::string> names;
    std::vector<int32_t> counts;

private:
    bool compare_;
};

class FailureCost : public ProgramSuite, public ::testing::WithParamInterface<bool> {
protected:
    // Loads text afresh and runs its Main in the form the parameter names;
    // the failure that escaped ("" for none).
    std::string run(const char* text) {
        UnloadEveryModule();
        InterObjRep::DeleteObjects();
        RegisterForm::SetEnabled(GetParam());
        DefaultStoreApplication app;
        StringPrintable out;
        app.setCurrentPrintable(&out);
        const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
        LoadTextModule(text, "cost.tqs", m);
        program_ = ObjectWith(m, "Main");
        try {
            int handled = 0;
            program_->evalIMember("Main", nullptr, &handled);
        } catch (const StoreException& e) {
            return e.what();
        }
        return "";
    }
    int32_t depth() { return program_->eval("Depth")->as<int32_t>(); }

    InterObjRep* program_ = nullptr;
};

TEST_P(FailureCost, ARecursionThatCatchesAtEveryLevelRecordsEachChainInBoundedWork) {
    ChainHook hook;
    const uint64_t before = ExecutionStack::chainFramesVisited();
    EXPECT_EQ(run(kDirect), "Stack overflow.");
    const uint64_t visited = ExecutionStack::chainFramesVisited() - before;
    // It went as deep as calls may go, and a chain was recorded for every
    // level's failure.
    const int32_t reached = depth();
    EXPECT_GT(reached, CallDepth::Limit() * 9 / 10);
    EXPECT_GE(hook.offers, reached);
    // Each chain looks at the three newest calls of the run and what lies
    // between them, the first call beneath the run and Main's frames: a
    // few dozen frames, whatever the depth. A walk over every frame would
    // look at depth * depth.
    EXPECT_LT(visited, uint64_t(hook.offers) * 40) << visited << " frames for " << hook.offers << " failures";
    // The last chain is the overflow's: three calls of Down, the rest
    // counted, then Main.
    EXPECT_EQ(hook.names, (std::vector<std::string>{"Down", "Down", "Down", "Down", "Main"}));
    EXPECT_EQ(hook.counts, (std::vector<int32_t>{0, 0, 0, reached - 3, 0}));
}

TEST_P(FailureCost, AFailureInRegisterCodeShowsItsCallersAboutOnce) {
    ChainHook hook;
    const uint64_t before = RegShownFrames::ActivationsShown();
    EXPECT_EQ(run(kThroughRegisters), "Stack overflow.");
    const uint64_t shown = RegShownFrames::ActivationsShown() - before;
    // Two calls run for every level (Down and Deeper).
    EXPECT_GT(depth(), CallDepth::Limit() * 4 / 10);
    EXPECT_GE(hook.offers, depth());
    if (GetParam()) {
        // Fail's failure shows the register activations beneath it: the
        // new Deeper, the one beneath it, then one already shown stops
        // the walk.
        EXPECT_GT(shown, uint64_t(hook.offers) / 2);
        EXPECT_LT(shown, uint64_t(hook.offers) * 3) << shown << " activations for " << hook.offers << " failures";
    } else {
        EXPECT_EQ(shown, 0u);
    }
}

TEST_P(FailureCost, TheChainListsWhatAWalkOverEveryFrameLists) {
    ChainHook hook(/*compare=*/true);
    EXPECT_EQ(run(kMixedRuns), "");
    // Walk fails at every level it runs (Other does not).
    EXPECT_GE(hook.offers, 40);
    EXPECT_EQ(hook.differing, 0);
    // Also where runs are long enough to be counted.
    ChainHook direct(/*compare=*/true);
    EXPECT_EQ(run(kDirect), "Stack overflow.");
    EXPECT_GT(direct.offers, 100);
    EXPECT_EQ(direct.differing, 0);
}

INSTANTIATE_TEST_SUITE_P(BothForms, FailureCost, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "RegisterForm" : "TreeWalker");
                         });

}  // namespace
}  // namespace tq::compiler::test
