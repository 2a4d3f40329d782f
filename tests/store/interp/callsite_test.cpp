// What a member chain's call site and a call's argument slots may remember
// between calls must never outlive what they were found on: a method
// replaced, removed or protected, another object reached through the same
// call, by-reference arguments bound to other storage on every call, a call
// that fails half-way.
#include <functional>
#include <string>

#include "store/arrayfld.h"
#include "store/context.h"
#include "store/interp/stackfrm.h"
#include "store/methfld.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using CallSites = InterpTest;

ValuePtr Long(int32_t v) { return ValuePtr(new LongValue(v)); }

// A print sink that runs the host's action when the program prints "host".
struct HostAction : CapturedPrint {
    std::function<void()> action;
    void write(const char* s, size_t n) override {
        if (std::string(s, n) == "host" && action) action();
    }
};

// A call site calls Box.Value(2), the host changes Box (or what the name
// Box reaches), and the same call site calls again: the second call must
// see the change.
TEST_F(CallSites, ACallSiteCallsWhatTheObjectHasNow) {
    const struct {
        const char* change;
        std::function<void(InterObjRep* box)> act;
        int32_t after;           // After's value when the second call runs
        const char* failure;     // or the failure of the second call
    } cases[] = {
        {"the method replaced",
         [](InterObjRep* box) {
             box->removeField("Value");
             AddProcedure(box, "Function Value(k As Long) As Long\n  Value = k * 10\nEnd Function\n");
         },
         20, nullptr},
        {"the method removed", [](InterObjRep* box) { box->removeField("Value"); }, 0, "Value"},
        {"a data field takes the method's name",
         [](InterObjRep* box) {
             box->removeField("Value");
             addData(box, "Value", IDT_LONG);
         },
         0, "any"},
        {"the method protected",
         [](InterObjRep* box) {
             Field* f = box->findField("Value");
             f->setFlags(f->flags() | Field::kProtected);
         },
         0, "Protection violation"},
        {"the object renamed", [](InterObjRep* box) { box->renameObject("Crate"); }, 0, "Box"},
        {"another field added before it",
         [](InterObjRep* box) {
             addData(box, "Extra", IDT_LONG);
             AddProcedure(box, "Function Other(k As Long) As Long\n  Other = k * 100\nEnd Function\n");
         },
         2, nullptr},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "Prog" + std::to_string(n++);
        InterObj box(named("Box"));
        AddProcedure(box.get(), "Function Value(k As Long) As Long\n  Value = k\nEnd Function\n");
        InterObj prog(named(name.c_str()));
        addData(prog.get(), "Before", IDT_LONG);
        addData(prog.get(), "After", IDT_LONG);
        // Both calls run Fetch's one call site.
        AddProcedure(prog.get(), R"(
            Function Fetch() As Long
              Fetch = Box.Value(2)
            End Function
        )");
        AddProcedure(prog.get(), R"(
            Sub Main()
              Before = Fetch()
              Print "host"
              After = Fetch()
            End Sub
        )");
        HostAction sink;
        sink.action = [&] { c.act(box.get()); };
        DefaultStoreApplication app;
        app.setCurrentPrintable(&sink);
        const std::string failure = FailureText([&] { Call(prog.get(), "Main"); });
        EXPECT_EQ(getLong(prog.get(), "Before"), 2) << c.change;
        if (!c.failure) {
            EXPECT_EQ(failure, "no failure") << c.change;
            EXPECT_EQ(getLong(prog.get(), "After"), c.after) << c.change;
        } else {
            EXPECT_NE(failure, "no failure") << c.change;
            if (std::string(c.failure) != "any") {
                EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
            }
            EXPECT_EQ(getLong(prog.get(), "After"), 0) << c.change;
        }
        EXPECT_EQ(ExecutionStack::activeFrames(), 0) << c.change;
        EXPECT_EQ(Context::GetLookupCacheLength(), 0) << c.change;
        box->Destroy();
        prog->Destroy();
    }
}

TEST_F(CallSites, OneCallSiteCallsEachObjectsOwnMethod) {
    // Use's one call site o.Value reaches objects of two signatures and a
    // clone that shares A's method but not its data.
    InterObj a(named("A"));
    addData(a.get(), "Factor", IDT_LONG);
    setLong(a.get(), "Factor", 1);
    AddProcedure(a.get(), "Function Value(k As Long) As Long\n  Value = k * Factor\nEnd Function\n");
    InterObj c(InterObjRep::NewNamed("C", a.get(), DETACHED_MODULE, IOT_ORDINARY));
    setLong(c.get(), "Factor", 1000);
    InterObj b(named("B"));
    AddProcedure(b.get(), "Function Value(k As Long) As Long\n  Value = k + 100\nEnd Function\n");
    InterObj prog(named("Program"));
    addData(prog.get(), "Total", IDT_LONG);
    AddProcedure(prog.get(), R"(
        Sub Use(o As Object)
          Total = Total * 10000 + o.Value(1)
        End Sub
    )");
    AddProcedure(prog.get(), R"(
        Sub Main()
          Use A
          Use B
          Use A
        End Sub
    )");
    Call(prog.get(), "Main");
    EXPECT_EQ(getLong(prog.get(), "Total"), 1 * 100000000 + 101 * 10000 + 1);
    setLong(prog.get(), "Total", 0);
    AddProcedure(prog.get(), R"(
        Sub Again()
          Use C
          Use A
        End Sub
    )");
    Call(prog.get(), "Again");
    EXPECT_EQ(getLong(prog.get(), "Total"), 1000 * 10000 + 1);
}

TEST_F(CallSites, AChainFindsItsObjectWhereverTheObjectValueLies) {
    // The head of a chain is a static object's name or a function's result
    // (values that hold the reference themselves), an Object variable, an
    // Object field, or Nothing.
    InterObj box(named("Box"));
    addData(box.get(), "G", IDT_LONG);
    AddProcedure(box.get(), "Sub Bump(x As Long)\n  G = G + x\nEnd Sub\n");
    InterObj prog(named("Program"));
    addData(prog.get(), "Held", IDT_OBJECT);
    AddProcedure(prog.get(), R"(
        Sub Main()
          Dim o As Object
          Box.Bump 1
          Set o = Box
          o.Bump 10
          Set Held = o
          Held.Bump 100
          Set o = Nothing
          Box.Bump 1000
        End Sub
    )");
    Call(prog.get(), "Main");
    EXPECT_EQ(getLong(box.get(), "G"), 1111);
    AddProcedure(prog.get(), "Sub ThroughNothing()\n  Dim o As Object\n  o.Bump 1\nEnd Sub\n");
    EXPECT_NE(FailureText([&] { Call(prog.get(), "ThroughNothing"); }).find("object is null"), std::string::npos);
    AddProcedure(prog.get(), "Function None() As Object\nEnd Function\n");
    AddProcedure(prog.get(), "Sub ThroughAResult()\n  None.Bump 1\nEnd Sub\n");
    EXPECT_NE(FailureText([&] { Call(prog.get(), "ThroughAResult"); }).find("object is null"), std::string::npos);
    AddProcedure(prog.get(), "Sub ThroughANumber()\n  Dim o As Long\n  o.Bump 1\nEnd Sub\n");
    EXPECT_NE(FailureText([&] { Call(prog.get(), "ThroughANumber"); }).find("Object reference expected"),
              std::string::npos);
    EXPECT_EQ(getLong(box.get(), "G"), 1111);
    EXPECT_EQ(ExecutionStack::activeFrames(), 0);
}

TEST_F(CallSites, ByReferenceArgumentsReachEachCallsOwnStorage) {
    // After the first call the callee's argument slots are warm; every
    // later call binds other storage, which the writes must reach.
    InterObj box(named("Box"));
    addData(box.get(), "G", IDT_LONG);
    AddProcedure(box.get(), "Sub Bump(x As Long)\n  x = x + 1\nEnd Sub\n");
    AddProcedure(box.get(), "Sub Keep(ByVal x As Long)\n  x = x + 1\nEnd Sub\n");
    InterObj prog(named("Program"));
    addData(prog.get(), "F", IDT_LONG);
    addData(prog.get(), "R", IDT_LONG);
    InterArrayField* arr = InterArrayField::make("Arr", IDT_LONG, 1);
    arr->defineBounds(0, 1, 2);
    prog->addField(arr);
    AddProcedure(prog.get(), R"(
        Sub Main()
          Dim L As Long
          Box.Bump F
          Box.Bump F
          Box.Bump Arr(1)
          Box.Bump Arr(2)
          Box.Bump Arr(2)
          Box.Keep F
          Box.Bump L
          Box.Keep L
          Box.Bump L
          Box.Bump L
          Box.Bump Box.G
          Box.Keep Box.G
          R = L
        End Sub
    )");
    Call(prog.get(), "Main");
    EXPECT_EQ(getLong(prog.get(), "F"), 2);
    EXPECT_EQ(Element(prog.get(), "Arr", 1)->as<int32_t>(), 1);
    EXPECT_EQ(Element(prog.get(), "Arr", 2)->as<int32_t>(), 2);
    EXPECT_EQ(getLong(prog.get(), "R"), 3);
    EXPECT_EQ(getLong(box.get(), "G"), 1);
}

TEST_F(CallSites, RecursionPassesEachLevelsArgumentsOn) {
    // Each level binds its own argument object; acc refers through every
    // level to the caller's variable.
    InterObj prog(named("Program"));
    addData(prog.get(), "A", IDT_LONG);
    addData(prog.get(), "B", IDT_LONG);
    AddProcedure(prog.get(), R"(
        Sub Down(n As Long, acc As Long)
          acc = acc + n
          If n > 0 Then Down n - 1, acc
        End Sub
    )");
    AddProcedure(prog.get(), kFibSource);
    AddProcedure(prog.get(), R"(
        Sub Main()
          Down 4, A
          Down 3, B
          Down 4, A
          B = B * 1000 + Fib(15)
        End Sub
    )");
    Call(prog.get(), "Main");
    EXPECT_EQ(getLong(prog.get(), "A"), 20);
    EXPECT_EQ(getLong(prog.get(), "B"), 6 * 1000 + 610);
    EXPECT_EQ(Call(prog.get(), "Fib", {Long(20)})->as<int32_t>(), 6765);
}

TEST_F(CallSites, ACallThatFailsHalfWayLeavesNothingBehindAndTheNextCallRuns) {
    InterObj box(named("Box"));
    addData(box.get(), "Count", IDT_LONG);
    addData(box.get(), "Total", IDT_LONG);
    AddProcedure(box.get(), R"(
        Sub Tally(k As Long)
          Count = Count + 1
          Total = Total + 100 \ k
        End Sub
    )");
    InterObj prog(named("Program"));
    AddProcedure(prog.get(), R"(
        Sub Main(d As Long)
          Box.Tally 1
          Box.Tally d
          Box.Tally 4
        End Sub
    )");
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "Main", {Long(0)}); }).find("Division by zero."), 0u);
    EXPECT_EQ(ExecutionStack::activeFrames(), 0);
    EXPECT_EQ(Context::GetLookupCacheLength(), 0);
    // The failing call had counted itself; its failing statement changed
    // nothing.
    EXPECT_EQ(getLong(box.get(), "Count"), 2);
    EXPECT_EQ(getLong(box.get(), "Total"), 100);
    Call(prog.get(), "Main", {Long(2)});
    EXPECT_EQ(getLong(box.get(), "Count"), 5);
    EXPECT_EQ(getLong(box.get(), "Total"), 100 + 100 + 50 + 25);
}

}  // namespace
}  // namespace tq
