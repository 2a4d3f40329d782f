// Calls in the register form. A procedure must do the same whether it runs
// in its register form or on the tree walker: every case runs both ways
// and must give the same fields, the same failure (message, line, object,
// procedure) and the expected result, and, with the register form on, the
// procedures named must really have run in it.
#include <sstream>
#include <string>
#include <vector>

#include "store/interp/dbgseam.h"
#include "store/interp/lookcache.h"
#include "store/interp/regform.h"
#include "store/interp/stackfrm.h"
#include "store/methfld.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

class RegisterCalls : public InterpTest {
protected:
    void SetUp() override {
        InterpTest::SetUp();
        box_ = named("Box");
        for (const char* f : {"R1", "R2", "R3", "G"}) addData(box_.get(), f, IDT_LONG);
        addData(box_.get(), "D", IDT_DOUBLE);
        other_ = named("Other");
        addData(other_.get(), "V", IDT_LONG);
        AddProcedure(box_.get(), kFibSource);
        for (const char* text : {
                 "Sub Down(ByVal n As Long, acc As Long)\n  acc = acc + n\n  G = G + 1\n"
                 "  If n > 0 Then Down n - 1, acc\nEnd Sub\n",
                 "Function Fa(ByVal x As Long) As Long\n  If x <= 0 Then\n    Fa = 1\n  Else\n"
                 "    Fa = Ga(x - 1) * 2\n  End If\nEnd Function\n",
                 "Function Ga(ByVal x As Long) As Long\n  Ga = Fa(x) + 1\nEnd Function\n",
                 "Sub Bump(n As Long, ByVal m As Long)\n  n = n + 1\n  m = m + 1\nEnd Sub\n",
                 "Sub Pass(n As Long)\n  Bump n, n\nEnd Sub\n",
                 "Sub Twice2(a As Long, b As Long)\n  a = a * 2\n  b = b * 2\nEnd Sub\n",
                 "Function Twice(n As Long) As Long\n  Twice = n * 2\nEnd Function\n",
                 "Function Nothing1(ByVal x As Long) As Long\n  If x < 0 Then Nothing1 = x\nEnd Function\n",
                 "Function FirstOver(ByVal limit As Long) As Long\n  Dim i As Long\n  For i = 1 To 100\n"
                 "    FirstOver = i\n    If i * i > limit Then Exit Function\n  Next i\n  FirstOver = -1\n"
                 "End Function\n",
                 "Function Inverse(ByVal n As Long) As Long\n  Inverse = 100 \\ n\nEnd Function\n",
                 "Function Outer(ByVal n As Long) As Long\n  Outer = Inverse(n) + 1\nEnd Function\n",
                 "Function Forever(ByVal n As Long) As Long\n  Forever = Forever(n + 1)\nEnd Function\n",
                 "Function AsLong(ByVal n As Long) As Long\n  AsLong = n\nEnd Function\n",
                 "Function Sum(ByVal n As Long) As Long\n  If n > 0 Then Sum = n + Sum(n - 1)\nEnd Function\n",
                 "Function Half(ByVal d As Double) As Double\n  Half = d / 2\nEnd Function\n",
                 "Sub AddTo(k As Long)\n  Other.V = Other.V + k\n  k = 0\nEnd Sub\n",
             })
            AddProcedure(box_.get(), text);
    }
    void TearDown() override {
        RegisterForm::SetEnabled(true);
        for (InterObj* o : {&box_, &other_}) {
            (*o)->Destroy();
            *o = InterObj();
        }
        InterpTest::TearDown();
    }

    InterProcField* procedure(const char* name) { return static_cast<InterProcField*>(box_->findField(name)); }
    bool hasForm(const char* name) {
        bool notTaken = false;
        return procedure(name)->registerForm().current(notTaken) != nullptr;
    }

    // The fields a program leaves, or its failure with the line, object and
    // procedure the failure was given.
    std::string outcome(const std::function<void()>& f) {
        for (const char* n : {"R1", "R2", "R3", "G"}) setLong(box_.get(), n, 0);
        setLong(other_.get(), "V", 0);
        std::string failure = "no failure";
        try {
            f();
        } catch (const StoreException& e) {
            failure = std::string(e.what()) + " at " + std::to_string(e.line) + " in " +
                      StoreException::ObjectName(e.object()) + "." + (e.procedure ? e.procedure->name() : "-");
        }
        std::string fields;
        for (const char* n : {"R1", "R2", "R3", "G"}) fields += std::to_string(getLong(box_.get(), n)) + ",";
        fields += std::to_string(getLong(other_.get(), "V"));
        EXPECT_EQ(ExecutionStack::activeFrames(), 0);
        EXPECT_EQ(LookupCachePool::Used(), 0u);
        return fields + "; " + failure;
    }

    struct Case {
        const char* what;
        const char* body;                  // Main's statements
        const char* expected;              // R1,R2,R3,G,Other.V; failure
        std::vector<const char*> taken;    // procedures that must get a form
    };

    // Each case's Main run on the tree walker, then twice in register form.
    void run(const std::vector<Case>& cases) {
        int n = 0;
        for (const Case& c : cases) {
            const std::string name = "Main" + std::to_string(n++);
            AddProcedure(box_.get(), "Sub " + name + "()\n" + c.body + "\nEnd Sub\n");
            RegisterForm::SetEnabled(false);
            const std::string walked = outcome([&] { Call(box_.get(), name.c_str()); });
            EXPECT_EQ(walked, c.expected) << c.what << " (tree walker)";
            RegisterForm::SetEnabled(true);
            for (int round = 1; round <= 2; ++round)
                EXPECT_EQ(outcome([&] { Call(box_.get(), name.c_str()); }), walked) << c.what << ", round " << round;
            for (const char* p : c.taken) EXPECT_TRUE(hasForm(p)) << c.what << ": " << p << " has no register form";
        }
    }

    InterObj box_;
    InterObj other_;
};

TEST_F(RegisterCalls, RecursionAndNestedCallsGiveTheTreeWalkersResults) {
    run({
        {"recursive Fib", "R1 = Fib(20)", "6765,0,0,0,0; no failure", {"Fib"}},
        {"a by-reference accumulator through 200 levels",
         "Dim a As Long\na = 5\nDown 200, a\nR1 = a", "20105,0,0,201,0; no failure", {"Down"}},
        // Registers come in chunks of a few thousand: these levels take more
        // than one, and each level's registers must survive the next ones.
        {"each of 700 levels reads its parameter after the deeper ones", "R1 = Sum(700)",
         "245350,0,0,0,0; no failure", {"Sum"}},
        {"f(g(x)) where g calls f", "R1 = Fa(5)\nR2 = Ga(Ga(1))", "94,95,0,0,0; no failure", {"Fa", "Ga"}},
        {"functions in arguments and expressions",
         "R1 = Twice(Twice(3) + Fib(7)) - Twice(1)", "36,0,0,0,0; no failure", {"Twice", "Fib"}},
    });
}

TEST_F(RegisterCalls, ByReferenceArgumentsWriteBackAndByValueOnesDoNot) {
    run({
        {"to a local; by value unchanged", "Dim a As Long\nDim b As Long\na = 1\nb = 1\nBump a, b\nR1 = a\nR2 = b",
         "2,1,0,0,0; no failure", {"Bump"}},
        {"to a field of Me", "G = 5\nBump G, G\nR1 = G", "6,0,0,6,0; no failure", {"Bump"}},
        {"to another object's field", "Other.V = 7\nBump Other.V, 0\nR1 = Other.V", "8,0,0,0,8; no failure", {"Bump"}},
        {"passed on by reference", "Dim a As Long\na = 1\nPass a\nR1 = a", "2,0,0,0,0; no failure", {"Pass", "Bump"}},
        {"two by-reference parameters, two variables", "Dim a As Long\nDim b As Long\na = 3\nb = 4\nTwice2 a, b\n"
         "R1 = a\nR2 = b", "6,8,0,0,0; no failure", {"Twice2"}},
        {"an expression given by reference is a temporary", "Dim a As Long\na = 4\nBump a + 0, 0\nR1 = a",
         "4,0,0,0,0; no failure", {"Bump"}},
        {"a callee writing another object's field and its parameter", "Dim k As Long\nk = 9\nAddTo k\nAddTo 3\nR1 = k",
         "0,0,0,0,12; no failure", {"AddTo"}},
    });
}

TEST_F(RegisterCalls, FunctionsReturnTheirDefaultAndExitWithTheValueSoFar) {
    run({
        {"never assigned", "R1 = Nothing1(3) + 10\nR2 = Nothing1(-4)", "10,-4,0,0,0; no failure", {"Nothing1"}},
        {"Exit Function inside a loop", "R1 = FirstOver(50)\nR2 = FirstOver(100000)", "8,-1,0,0,0; no failure",
         {"FirstOver"}},
        {"conversions of arguments and results", "D = Half(3)\nR1 = AsLong(2.5)\nR2 = AsLong(Half(7))\nR3 = D * 10",
         "2,3,15,0,0; no failure", {"Half", "AsLong"}},
    });
}

TEST_F(RegisterCalls, AFailureInANestedCallIsReportedAsOnTheTreeWalker) {
    run({
        {"division by zero two calls down", "R1 = 1\nR2 = Outer(0)\nR3 = 1",
         "1,0,0,0,0; Division by zero. at 2 in Box.Inverse", {"Outer", "Inverse"}},
        {"a failure in the caller after a call", "G = 0\nR1 = Twice(2) \\ G",
         "0,0,0,0,0; Division by zero. at 3 in Box.Main1", {"Main1", "Twice"}},
    });
}

TEST_F(RegisterCalls, RunawayRecursionEndsInStackOverflowAndTheNextCallWorks) {
    run({
        {"stack overflow", "R1 = Forever(0)", "0,0,0,0,0; Stack overflow. at 2 in Box.Forever", {"Forever"}},
    });
    EXPECT_EQ(Call(box_.get(), "Twice", {ValuePtr(new LongValue(21))})->as<int32_t>(), 42);
}

TEST_F(RegisterCalls, TheHostsArgumentsBindAsOnTheTreeWalker) {
    std::string walked;
    for (bool registerForm : {false, true}) {
        RegisterForm::SetEnabled(registerForm);
        const char* form = registerForm ? "register form" : "tree walker";
        EXPECT_EQ(Call(box_.get(), "Fib", {ValuePtr(new LongValue(15))})->as<int32_t>(), 610) << form;
        ValuePtr v(new LongValue(5));
        Call(box_.get(), "Bump", {v, ValuePtr(new LongValue(1))});
        EXPECT_EQ(v->as<int32_t>(), 6) << form << ": a by-reference Long value is written back";
        ValuePtr d(new DoubleValue(2.5));
        Call(box_.get(), "Bump", {d, ValuePtr(new LongValue(1))});
        EXPECT_EQ(d->as<double>(), 2.5) << form << ": a Double given for a Long is a converted temporary";
        EXPECT_EQ(FailureText([&] { Call(box_.get(), "Bump", {ValuePtr(new LongValue(1))}); }), "Not enough arguments")
            << form;
        EXPECT_EQ(FailureText([&] {
                      Call(box_.get(), "Twice", {ValuePtr(new LongValue(1)), ValuePtr(new LongValue(2))});
                  }),
                  "Too many arguments")
            << form;
        const std::string text =
            FailureText([&] { Call(box_.get(), "Twice", {ValuePtr(new StringValue("x"))}); });
        if (!registerForm) walked = text;
        EXPECT_EQ(text, walked) << form << ": a String given for a Long";
    }
    EXPECT_TRUE(hasForm("Bump"));
}

TEST_F(RegisterCalls, AnEditBetweenCallsDropsTheForm) {
    AddProcedure(box_.get(), "Sub Main()\n  R1 = Twice(4)\nEnd Sub\n");
    Call(box_.get(), "Main");
    EXPECT_EQ(getLong(box_.get(), "R1"), 8);
    ASSERT_TRUE(hasForm("Main"));
    // Main's call site names the old Twice, which is gone with its field.
    box_->removeField("Twice");
    AddProcedure(box_.get(), "Function Twice(n As Long) As Long\n  Twice = n * 3\nEnd Function\n");
    Call(box_.get(), "Main");
    EXPECT_EQ(getLong(box_.get(), "R1"), 12);
    // A field added before the one Main writes moves its datum.
    box_->removeField("R1");
    addData(box_.get(), "R0", IDT_DOUBLE);
    addData(box_.get(), "R1", IDT_LONG);
    Call(box_.get(), "Main");
    EXPECT_EQ(getLong(box_.get(), "R1"), 12);
    EXPECT_TRUE(hasForm("Main"));
}

TEST_F(RegisterCalls, AnObjectNamedInTheCodeIsThatObjectWhicheverObjectRunsIt) {
    AddProcedure(box_.get(), "Sub Mark()\n  Dim k As Long\n  Box.G = Box.G + 5\n  G = G + 1\n  k = Box.R1\n"
                                "  Box.Bump k, 0\n  Box.R1 = k\nEnd Sub\n");
    // A clone shares the procedure, so the form made on Box runs on it.
    InterObj copy(InterObjRep::NewNamed("Copy", box_.get(), DETACHED_MODULE, IOT_ORDINARY));
    for (bool registerForm : {false, true}) {
        RegisterForm::SetEnabled(registerForm);
        for (InterObjRep* o : {box_.get(), copy.get()})
            for (const char* f : {"G", "R1"}) setLong(o, f, 0);
        Call(box_.get(), "Mark");
        Call(copy.get(), "Mark");
        EXPECT_EQ(getLong(box_.get(), "G"), 11) << registerForm;
        EXPECT_EQ(getLong(copy.get(), "G"), 1) << registerForm;
        EXPECT_EQ(getLong(box_.get(), "R1"), 2) << registerForm;
        EXPECT_EQ(getLong(copy.get(), "R1"), 0) << registerForm;
    }
    EXPECT_TRUE(hasForm("Mark"));
    copy->Destroy();
}

// A hook that only records failures, as a command-line runner's does: the
// procedures on the stack when a failure is offered, innermost first.
class RecordingHook : public DebugHook {
public:
    RecordingHook() : DebugHook(false) { DebugHook::Install(this); }
    ~RecordingHook() override { DebugHook::Install(nullptr); }
    void eval(Context&, int32_t) override {}
    int error(Context&, StoreException&) override {
        frames.clear();
        for (StackFrame* f = ExecutionStack::top(); f; f = f->below()) {
            if (f->type() != SubFrame && f->type() != FunctionFrame) continue;
            std::ostringstream line;
            f->lineWithArgs(line);
            frames.push_back(line.str().c_str());
        }
        return 0;
    }
    void functionCalled() override {}
    void functionReturned() override {}
    std::vector<std::string> frames;
};

TEST_F(RegisterCalls, AHookThatRecordsFailuresSeesEveryProcedureRunning) {
    AddProcedure(box_.get(), "Sub Main()\n  R1 = 1\n  R2 = Outer(0)\nEnd Sub\n");
    std::vector<std::string> walked;
    for (bool registerForm : {false, true}) {
        RegisterForm::SetEnabled(registerForm);
        RecordingHook hook;
        EXPECT_EQ(FailureText([&] { Call(box_.get(), "Main"); }), "Division by zero.");
        if (!registerForm) walked = hook.frames;
        EXPECT_EQ(hook.frames, walked);
        EXPECT_EQ(hook.frames.size(), 3u);
        // A runaway recursion shows its innermost calls as well, and leaves
        // nothing behind.
        EXPECT_EQ(FailureText([&] { Call(box_.get(), "Forever", {ValuePtr(new LongValue(0))}); }), "Stack overflow.");
        ASSERT_GT(hook.frames.size(), 100u) << registerForm;
        EXPECT_EQ(hook.frames.back(), "Forever(0) at line 2");
        EXPECT_EQ(ExecutionStack::activeFrames(), 0);
    }
    EXPECT_TRUE(hasForm("Outer"));
}

// Runs what it is given at the nth offer of a user break.
class EditingApp : public DefaultStoreApplication {
public:
    int left = 0;
    std::function<void()> edit;
    void checkForBreak() override {
        if (--left == 0) edit();
    }
};

TEST_F(RegisterCalls, AnEditWhileACallerRunsReachesItsNextCall) {
    AddProcedure(box_.get(), "Sub Main()\n  R1 = Twice(4)\n  R2 = Twice(4)\nEnd Sub\n");
    for (bool registerForm : {false, true}) {
        RegisterForm::SetEnabled(registerForm);
        Call(box_.get(), "Main");
        // The first call's first statement (or entry) replaces the function
        // it runs: it finishes as it began, and Main's second call finds
        // the new one.
        EditingApp app;
        app.left = 2;
        app.edit = [&] {
            box_->removeField("Twice");
            AddProcedure(box_.get(), "Function Twice(n As Long) As Long\n  Twice = n * 3\nEnd Function\n");
        };
        Call(box_.get(), "Main");
        EXPECT_EQ(getLong(box_.get(), "R1"), 8) << registerForm;
        EXPECT_EQ(getLong(box_.get(), "R2"), 12) << registerForm;
        box_->removeField("Twice");
        AddProcedure(box_.get(), "Function Twice(n As Long) As Long\n  Twice = n * 2\nEnd Function\n");
    }
}

// Ends a run at the nth offer of a user break.
class BreakingApp : public DefaultStoreApplication {
public:
    int left = 0;
    void checkForBreak() override {
        if (--left < 0) throw TerminateExecution();
    }
};

TEST_F(RegisterCalls, AUserBreakStopsARecursionWithoutLoops) {
    for (bool registerForm : {false, true}) {
        RegisterForm::SetEnabled(registerForm);
        BreakingApp app;
        app.left = 20;
        ValuePtr acc(new LongValue(0));
        bool stopped = false;
        try {
            Call(box_.get(), "Down", {ValuePtr(new LongValue(100)), acc});
        } catch (const TerminateExecution&) {
            stopped = true;
        }
        EXPECT_TRUE(stopped) << (registerForm ? "register form" : "tree walker");
        EXPECT_EQ(ExecutionStack::activeFrames(), 0);
    }
}

}  // namespace
}  // namespace tq
