// A call's arguments as the body sees them: bound without the conversion
// machinery when their types already match, and read and written in place
// through the argument object's block once the lookup cache holds them. Each
// case runs twice, so that the second call finds the parameters in the warm
// argument slots: what the shortcuts may get wrong is which storage a
// parameter reaches on which call.
#include <sstream>
#include <string>
#include <vector>

#include "store/arrayfld.h"
#include "store/interp/dbgseam.h"
#include "store/interp/stackfrm.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using Arguments = InterpTest;

// Box's procedures take their parameters in every way a call binds them.
void AddBoxProcedures(InterObjRep* box) {
    AddProcedure(box, "Sub Bump(x As Long)\n  x = x + 1\n  x = x * 10\nEnd Sub\n");
    AddProcedure(box, "Sub Keep(ByVal x As Long)\n  x = x + 1\n  G = x\nEnd Sub\n");
    AddProcedure(box, "Sub Pass(y As Long)\n  Bump y\nEnd Sub\n");
    AddProcedure(box, "Sub PassValue(ByVal y As Long)\n  Bump y\n  G = y\nEnd Sub\n");
    AddProcedure(box, "Sub Half(x As Double)\n  x = x / 2\nEnd Sub\n");
    AddProcedure(box, "Sub Shout(s As String)\n  s = s & \"!\"\nEnd Sub\n");
    AddProcedure(box, "Sub Small(i As Integer)\n  i = i + 1\nEnd Sub\n");
    AddProcedure(box, "Function Id(x As Long) As Long\n  Id = x\nEnd Function\n");
    AddProcedure(box, "Function IdValue(ByVal x As Long) As Long\n  IdValue = x\nEnd Function\n");
    AddProcedure(box, "Sub Down(n As Long, acc As Long)\n  acc = acc + n\n  If n > 0 Then Down n - 1, acc\nEnd Sub\n");
    AddProcedure(box, "Function Both(a As Long, ByVal b As Long) As Long\n  Both = a * 10 + b\nEnd Function\n");
}

struct Case {
    const char* what;
    const char* body;      // Main's statements; they leave their result in R
    const char* expected;  // R's text, or a part of the failure's text
    bool fails = false;
};

class ArgumentPrograms : public Arguments {
protected:
    void SetUp() override {
        Arguments::SetUp();
        box_ = named("Box");
        addData(box_.get(), "G", IDT_LONG);
        AddBoxProcedures(box_.get());
    }
    void TearDown() override {
        box_->Destroy();
        box_ = InterObj();
        Arguments::TearDown();
    }

    // Runs each case's Main twice in a program of its own; both runs must
    // give the expected result (or failure) and leave nothing behind. Main
    // first calls each of Box's procedures once with arguments of their
    // parameters' own types, so that the case's calls find a spare argument
    // object and warm argument slots, as every call but a run's first does.
    void run(const std::vector<Case>& cases) {
        const std::string warmUp =
            "Dim z As Integer\nBox.Bump 0\nBox.Keep 0\nBox.Pass 0\nBox.PassValue 0\nBox.Half 0.5\n"
            "Box.Shout \"\"\nBox.Small z\nF = Box.Id(0) + Box.IdValue(0) + Box.Both(0, 0)\nBox.Down 1, F\n";
        int n = 0;
        for (const Case& c : cases) {
            const std::string name = "Prog" + std::to_string(n++);
            InterObj prog(named(name.c_str()));
            addData(prog.get(), "F", IDT_LONG);
            addData(prog.get(), "D", IDT_DOUBLE);
            addData(prog.get(), "T", IDT_STRING);
            addData(prog.get(), "R", IDT_STRING);
            InterArrayField* arr = InterArrayField::make("Arr", IDT_LONG, 1);
            arr->defineBounds(0, 1, 2);
            prog->addField(arr);
            AddProcedure(prog.get(), "Sub Main()\n" + warmUp + c.body + "\nEnd Sub\n");
            for (int round = 1; round <= 2; ++round) {
                setText(prog.get(), "R", "");
                const std::string failure = FailureText([&] { Call(prog.get(), "Main"); });
                if (c.fails) {
                    EXPECT_NE(failure.find(c.expected), std::string::npos)
                        << c.what << ", call " << round << ": " << failure;
                } else {
                    EXPECT_EQ(failure, "no failure") << c.what << ", call " << round;
                    EXPECT_EQ(getText(prog.get(), "R"), c.expected) << c.what << ", call " << round;
                }
                EXPECT_EQ(ExecutionStack::activeFrames(), 0) << c.what;
                EXPECT_EQ(Context::GetLookupCacheLength(), 0) << c.what;
            }
            prog->Destroy();
        }
    }

    InterObj box_;
};

TEST_F(ArgumentPrograms, ByReferenceArgumentsWriteBackAndByValueOnesDoNot) {
    run({
        {"a field", "F = 4\nBox.Bump F\nR = F", "50"},
        {"a local", "Dim L As Long\nL = 4\nBox.Bump L\nR = L", "50"},
        {"an array element", "Arr(1) = 3\nArr(2) = 4\nBox.Bump Arr(2)\nR = Arr(1) * 1000 + Arr(2)", "3050"},
        {"another object's field", "Box.G = 4\nBox.Bump Box.G\nR = Box.G", "50"},
        {"an expression: nothing written back", "F = 4\nBox.Bump F + 0\nR = F", "4"},
        {"a constant: nothing written back", "Box.Bump 4\nR = 4", "4"},
        {"by value", "F = 4\nBox.Keep F\nR = F * 100 + Box.G", "405"},
        {"a by-reference parameter passed on by reference", "F = 4\nBox.Pass F\nR = F", "50"},
        {"a by-value parameter passed on by reference", "F = 4\nBox.PassValue F\nR = F * 100 + Box.G", "450"},
        {"a Double", "D = 5\nBox.Half D\nBox.Half D\nR = D", "1.25"},
        {"a String", "T = \"hi\"\nBox.Shout T\nBox.Shout T\nR = T", "hi!!"},
        {"a String expression: nothing written back", "T = \"hi\"\nBox.Shout T & \"\"\nR = T", "hi"},
        {"the same variable twice", "F = 3\nR = Box.Both(F, F)", "33"},
        {"calls alternating between storages",
         "Dim L As Long\nF = 1\nL = 2\nBox.Bump F\nBox.Bump L\nBox.Bump F\nR = F * 1000 + L", "210030"},
    });
}

TEST_F(ArgumentPrograms, ArgumentsOfAnotherTypeAreConvertedOrRefused) {
    run({
        {"an Integer expression into a Long", "Dim s As Integer\ns = 7\nR = Box.Id(s + 1)", "8"},
        {"an Integer variable by value", "Dim s As Integer\ns = 7\nR = Box.IdValue(s)", "7"},
        {"a Double into a Long is truncated", "R = Box.Id(2.5) * 10 + Box.IdValue(-3.5)", "17"},
        {"a Double variable into a Long by value", "D = 6.75\nR = Box.IdValue(D)", "6"},
        {"a Long into an Integer", "F = 41\nBox.Small F + 0\nR = F", "41"},
        {"a Double beyond the Long range is an overflow", "R = Box.Id(3000000000.0)", "Integer Overflow", true},
        {"a String that is no number", "R = Box.IdValue(\"ten\")", "onver", true},
        {"an Integer variable by reference into a Long", "Dim s As Integer\ns = 7\nR = Box.Id(s)",
         "types mismatched", true},
        {"a Long variable by reference into an Integer", "F = 1\nBox.Small F", "types mismatched", true},
    });
}

TEST_F(ArgumentPrograms, WrongArgumentCountsAreRefusedWithTheirMessages) {
    const auto Long = [](int32_t v) { return ValuePtr(new LongValue(v)); };
    const std::string tooMany = FailureText([&] { Call(box_.get(), "Id", {Long(1), Long(2)}); });
    const std::string tooFew = FailureText([&] { Call(box_.get(), "Both", {Long(1)}); });
    EXPECT_NE(tooMany, "no failure");
    EXPECT_NE(tooFew, "no failure");
    EXPECT_NE(tooMany, tooFew);
    run({
        {"too many in a program", "R = Box.Id(1, 2)", tooMany.c_str(), true},
        {"too few in a program", "R = Box.Both(1)", tooFew.c_str(), true},
        {"the right count after both", "R = Box.Both(1, 2)", "12"},
    });
}

TEST_F(ArgumentPrograms, RecursionBindsEachLevelAndWritesBackThroughEveryLevel) {
    run({
        {"an accumulator through twelve levels",
         "F = 0\nBox.Down 12, F\nR = F", "78"},
        {"two accumulators at once",
         "Dim L As Long\nF = 0\nBox.Down 3, F\nBox.Down 4, L\nBox.Down 5, F\nR = F * 100 + L", "2110"},
    });
}

TEST_F(ArgumentPrograms, ACallFailingHalfWayLeavesNothingBehindAndTheNextCallWorks) {
    AddProcedure(box_.get(), "Sub Spoil(x As Long, ByVal d As Long)\n  x = 5\n  x = x \\ d\nEnd Sub\n");
    InterObj prog(named("Program"));
    addData(prog.get(), "F", IDT_LONG);
    addData(prog.get(), "R", IDT_LONG);
    AddProcedure(prog.get(), "Sub Main(d As Long)\n  F = 1\n  Box.Spoil F, d\n  R = Box.Id(F)\nEnd Sub\n");
    AddProcedure(prog.get(), "Sub Convert()\n  R = Box.IdValue(\"ten\")\nEnd Sub\n");
    const auto Long = [](int32_t v) { return ValuePtr(new LongValue(v)); };
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "Main", {Long(0)}); }).find("Division by zero."), 0u);
    // The first statement's write reached the caller; the failing one
    // changed nothing.
    EXPECT_EQ(getLong(prog.get(), "F"), 5);
    EXPECT_EQ(getLong(prog.get(), "R"), 0);
    EXPECT_NE(FailureText([&] { Call(prog.get(), "Convert"); }), "no failure");
    EXPECT_EQ(ExecutionStack::activeFrames(), 0);
    EXPECT_EQ(Context::GetLookupCacheLength(), 0);
    Call(prog.get(), "Main", {Long(2)});
    EXPECT_EQ(getLong(prog.get(), "F"), 2);
    EXPECT_EQ(getLong(prog.get(), "R"), 2);
    prog->Destroy();
}

// A debugger that only watches the innermost frame's line of the call-stack
// list before each statement.
class Watcher : public DebugHook {
public:
    std::vector<std::string> seen;
    void eval(Context&, int32_t) override {
        std::ostringstream os;
        ExecutionStack::top()->lineWithArgs(os);
        std::string line = os.str();
        if (!line.empty() && line.back() == '\0') line.pop_back();
        seen.push_back(line);
    }
    int error(Context&, StoreException&) override { return 0; }
    void functionCalled() override {}
    void functionReturned() override {}
};

TEST_F(Arguments, TheCallStackListShowsTheArgumentsAsTheBodyChangesThem) {
    InterObj prog(named("Program"));
    addData(prog.get(), "F", IDT_LONG);
    AddProcedure(prog.get(), "Sub Show(ByVal a As Long, b As Long, c As Double)\n  a = a + 1\n  b = b * 2\nEnd Sub\n");
    AddProcedure(prog.get(), "Sub Main()\n  F = 2\n  Show 1, F, 0.5\n  Show 7, F, 1\nEnd Sub\n");
    Watcher w;
    DebugHook::Install(&w);
    DebugHook::modes = 1;
    const std::string failure = FailureText([&] { Call(prog.get(), "Main"); });
    DebugHook::Install(nullptr);
    DebugHook::modes = 0;
    EXPECT_EQ(failure, "no failure");
    std::vector<std::string> shown;
    for (const std::string& s : w.seen)
        if (s.rfind("Show(", 0) == 0) shown.push_back(s.substr(0, s.find(')') + 1));
    const std::vector<std::string> expected = {"Show(1, 2, 0.5)", "Show(2, 2, 0.5)", "Show(2, 4, 0.5)",
                                               "Show(7, 4, 1)",   "Show(8, 4, 1)",   "Show(8, 8, 1)"};
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(getLong(prog.get(), "F"), 8);
    prog->Destroy();
}

}  // namespace
}  // namespace tq
