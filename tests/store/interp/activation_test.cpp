// Activations that follow one another at the same depth of a run: a loop
// calling one method, each level of a recursion. The next one takes the
// lookup-cache slots its predecessor left, with the members it resolved in
// them, when it runs the same procedure on the same object bound into the
// same argument object. What that may get wrong is a member that belongs to
// another object, another argument object, a frame that has gone or a
// state the store has left since: each case makes a later call at the same
// depth differ from the earlier one in one of these.
#include <string>
#include <vector>

#include "store/interp/lookcache.h"
#include "store/interp/stackfrm.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using Activations = InterpTest;

struct Case {
    const char* what;
    const char* body;      // Main's statements; they leave their result in R
    const char* expected;  // R's text
};

class ActivationPrograms : public Activations {
protected:
    void SetUp() override {
        Activations::SetUp();
        box_ = named("Box");
        addData(box_.get(), "G", IDT_LONG);
        addData(box_.get(), "S", IDT_STRING);
        AddProcedure(box_.get(), "Sub Down(n As Long, acc As Long)\n  acc = acc + n\n  If n > 0 Then Down n - 1, acc\nEnd Sub\n");
        AddProcedure(box_.get(), "Function Twice(n As Long) As Long\n  Twice = n * 2\nEnd Function\n");
        AddProcedure(box_.get(),
                     "Function Around(n As Long) As Long\n  Around = Twice(n) + 1\nEnd Function\n");
        AddProcedure(box_.get(),
                     "Function Fresh(ByVal give As Long) As String\n  Dim k As Long\n  Dim t As String\n"
                     "  If give Then\n    k = 7\n    t = \"x\"\n  End If\n  Fresh = k & t\nEnd Function\n");
        AddProcedure(box_.get(),
                     "Function Look(ByVal inner As Long) As Long\n  Dim seen As Long\n  seen = G\n"
                     "  If inner Then\n    Dim G As Long\n    G = 100\n    seen = seen + G\n  End If\n"
                     "  Look = seen + G\nEnd Function\n");
        AddProcedure(box_.get(),
                     "Function Deep(n As Long) As Long\n  If n = 0 Then\n    Deep = 1 \\ G\n  Else\n"
                     "    Deep = Deep(n - 1) + 1\n  End If\nEnd Function\n");
        first_ = counterObject("First");
        // A clone shares the method, so that calls on both run one procedure.
        second_ = InterObjRep::NewNamed("Second", first_.get(), DETACHED_MODULE, IOT_ORDINARY);
    }
    void TearDown() override {
        for (InterObj* o : {&box_, &first_, &second_}) {
            (*o)->Destroy();
            *o = InterObj();
        }
        Activations::TearDown();
    }

    // Runs each case's Main in a program of its own, twice; both runs must
    // give the expected result and leave no frame or slot in use behind.
    void run(const std::vector<Case>& cases) {
        int n = 0;
        for (const Case& c : cases) {
            const std::string name = "Prog" + std::to_string(n++);
            InterObj prog(named(name.c_str()));
            addData(prog.get(), "R", IDT_STRING);
            AddProcedure(prog.get(), std::string("Sub Main()\nDim F As Long\nDim L As Long\n") + c.body + "\nEnd Sub\n");
            for (int round = 1; round <= 2; ++round) {
                setText(prog.get(), "R", "");
                setLong(box_.get(), "G", 1);

                EXPECT_EQ(FailureText([&] { Call(prog.get(), "Main"); }), "no failure") << c.what;
                EXPECT_EQ(getText(prog.get(), "R"), c.expected) << c.what << ", run " << round;
                EXPECT_EQ(ExecutionStack::activeFrames(), 0) << c.what;
                EXPECT_EQ(LookupCachePool::Used(), 0u) << c.what;
            }
            prog->Destroy();
        }
    }

    InterObj box_, first_, second_;
};

TEST_F(ActivationPrograms, EachCallReachesItsOwnArgumentsAtEveryDepth) {
    run({
        // Deeper than the spare argument objects a procedure keeps: on the
        // second descent each level is bound into another level's object
        // than the one its slots were left for, or into a new one.
        {"a by-reference accumulator through forty levels, three times",
         "F = 0\nBox.Down 40, F\nL = F\nF = 0\nBox.Down 40, F\nBox.Down 3, L\nR = F & \",\" & L", "820,826"},
        {"two accumulators alternating at the same depth",
         "Dim i As Long\nFor i = 1 To 3\n  Box.Down i, F\n  Box.Down 10, L\nNext i\nR = F * 1000 + L", "10165"},
        {"a loop of calls, each with its own argument",
         "Dim i As Long\nFor i = 1 To 5\n  F = F + Box.Twice(i)\nNext i\nR = F", "30"},
    });
}

TEST_F(ActivationPrograms, ACallInsideAnArgumentOfTheSameProcedureKeepsBothApart) {
    run({
        {"f(f(x))", "R = Box.Twice(Box.Twice(3))", "12"},
        {"f(g(x)) where g calls f", "R = Box.Twice(Box.Around(3)) & \",\" & Box.Around(Box.Twice(3))", "14,13"},
        {"the same again, in a loop",
         "Dim i As Long\nFor i = 1 To 3\n  F = F + Box.Twice(Box.Around(i))\nNext i\nR = F", "30"},
    });
}

TEST_F(ActivationPrograms, ALaterCallSeesNoneOfAnEarlierCallsLocalsOrShadowing) {
    run({
        {"locals not assigned read 0 and \"\"", "R = Box.Fresh(1) & \",\" & Box.Fresh(0) & \",\" & Box.Fresh(1)",
         "7x,0,7x"},
        // G is Box's field outside the If and the block's own local inside:
        // the block is run in one call only.
        {"a name that a block's local shadows in one call only",
         "R = Box.Look(0) & \",\" & Box.Look(1) & \",\" & Box.Look(0)", "2,102,2"},
    });
}

TEST_F(ActivationPrograms, TheSameMethodOnAnotherObjectChangesThatObject) {
    run({
        {"two counters at the same depth",
         "First.Count = 0\nFirst.Total = 0\nSecond.Count = 0\nSecond.Total = 0\n"
         "First.Add 1\nSecond.Add 10\nFirst.Add 2\nSecond.Add 20\nFirst.Add 3\n"
         "R = First.Count & \",\" & First.Total & \",\" & Second.Count & \",\" & Second.Total",
         "3,6,2,30"},
    });
}

TEST_F(ActivationPrograms, AFailureDeepInARecursionLeavesTheNextCallsSound) {
    // Deep divides by G at the bottom: G = 0 fails there, ten levels down,
    // and the run goes on through the Catch.
    run({
        {"fail, then succeed at the same depths",
         "Try\n  Box.G = 0\n  F = Box.Deep(10)\nCatch\n  F = -1\nEnd Try\nBox.G = 1\nR = F & \",\" & Box.Deep(10)",
         "-1,11"},
    });
}

// The pool's side: which later take finds the slots as they were left.
TEST(LookupCacheLeftovers, OnlyATakeOfTheSameSlotsWithTheSameKeyFindsWhatWasLeft) {
    LookupCachePool::Leftover key;
    key.procedure = &key;
    key.meId = 7;
    key.argsId = 9;
    key.epoch = Context::cacheEpoch();
    key.revision = FieldLookupRevision::current();
    const auto leave = [&](uint32_t n) {
        key.length = n;
        bool reused = false;
        uint32_t argsId = 0;
        MemberPtr* slots = LookupCachePool::Take(n, key, reused, argsId);
        slots[0] = ValuePtr(new LongValue(5));
        LookupCachePool::GiveBack(slots, n, key);
    };
    // What a take finds: whether it reused the slots, and its first one.
    const auto take = [&](uint32_t n, const LookupCachePool::Leftover& want) {
        bool reused = false;
        uint32_t argsId = 0;
        LookupCachePool::Leftover w = want;
        w.length = n;
        MemberPtr* slots = LookupCachePool::Take(n, w, reused, argsId);
        const std::string seen = std::string(reused ? "reused" : "fresh") + (slots[0] ? " filled" : " empty") +
                                 (reused ? " args " + std::to_string(argsId) : "");
        LookupCachePool::Release(slots, n);
        return seen;
    };
    leave(3);
    EXPECT_EQ(take(3, key), "reused filled args 9");
    leave(3);
    LookupCachePool::Leftover otherMe = key;
    otherMe.meId = 8;
    EXPECT_EQ(take(3, otherMe), "fresh empty");
    EXPECT_EQ(take(3, key), "fresh empty") << "a take that does not match empties the slots";
    leave(3);
    EXPECT_EQ(take(2, key), "fresh empty") << "another length";
    EXPECT_EQ(take(3, key), "fresh empty");
    leave(3);
    Context::dumpCache();
    key.epoch = Context::cacheEpoch();
    EXPECT_EQ(take(3, key), "fresh empty") << "dumping the cache empties what was left";
    leave(3);
    LookupCachePool::DropLeftovers();
    EXPECT_EQ(take(3, key), "fresh empty") << "the end of a run empties what was left";
    EXPECT_EQ(LookupCachePool::Used(), 0u);
}

}  // namespace
}  // namespace tq
