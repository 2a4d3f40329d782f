// String locals and number parameters read and written in place: what a
// program sees must be what the general path through the field gives, for
// every way a procedure can reach the variable besides its own name (by
// reference from a callee, as an operand of its own assignment, in each
// frame of a recursion, in a block's own locals). A String local whose
// frame's arrays are resized is a program of tests/programs,
// stringlocals.tqs: the test compiler here declares no arrays.
#include <string>

#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

// Helpers a case's Run may call on the same object.
constexpr const char* kHelpers[] = {
    R"(
        Sub AddB(x As String)
          x = x & "b"
        End Sub
    )",
    R"(
        Function Grow(x As String) As String
          x = x & "!"
          Grow = "?"
        End Function
    )",
    R"(
        Function Peek(x As String) As String
          Peek = x & "."
        End Function
    )",
    R"(
        Function Nest(n As Long) As String
          Dim s As String
          s = "<" & n
          If n > 0 Then s = s & Nest(n - 1)
          s = s & ">"
          Nest = s
        End Function
    )",
    R"(
        Function Twice(ByVal n As Long) As Long
          n = n * 2
          Twice = n + 1
        End Function
    )",
    R"(
        Function Half(ByVal x As Double, ByVal k As Long) As Double
          Half = x / 2 + x * k
        End Function
    )",
    R"(
        Sub Bump(k As Long)
          k = k + 1
          R = R & k * 10 & ","
          k = k + 1
        End Sub
    )",
    R"(
        Sub Keep(ByVal k As Long)
          k = k + 5
          R = R & k & ","
        End Sub
    )",
};

class InPlace : public InterpTest {
protected:
    // Runs body as Sub Run on a fresh object that has the helpers and a
    // String field R: the failure text, if any, then what R holds.
    std::string run(const std::string& body) {
        InterObj o(named(("InPlace" + std::to_string(objects_++)).c_str()));
        addData(o.get(), "R", IDT_STRING);
        for (const char* helper : kHelpers) AddProcedure(o.get(), helper);
        AddProcedure(o.get(), "Sub Run()\n" + body + "\nEnd Sub\n");
        std::string failure = FailureText([&] { Call(o.get(), "Run"); });
        const ValString r = o->eval("R")->as<ValString>();
        return (failure == "no failure" ? std::string() : failure + "|") + (r.isNull() ? "" : r->text());
    }

    struct Case {
        const char* body;
        const char* result;
    };
    void check(std::initializer_list<Case> cases) {
        for (const Case& c : cases) {
            std::string body = c.body;
            for (size_t at = body.find(" : "); at != std::string::npos; at = body.find(" : ")) body.replace(at, 3, "\n");
            EXPECT_EQ(run(body), c.result) << c.body;
        }
    }

private:
    int objects_ = 0;
};

TEST_F(InPlace, StringLocalsAppendedAndAssignedGiveWhatTheFieldGives) {
    check({
        {"Dim s As String : Dim i As Long : For i = 1 To 12 : s = s & i : Next : R = s", "123456789101112"},
        {"Dim s As String : s = \"ab\" : s = s & s : s = (s) & s : R = s", "abababab"},
        {"Dim s As String : Dim t As String : t = \"x\" : s = \"a\" : s = t & s : s = t & s : R = s", "xxa"},
        {"Dim s As String : Dim t As String : s = \"ab\" : t = s : s = s & \"c\" : R = t & \"|\" & s", "ab|abc"},
        // A Long local goes in as its digits, into an unset text or a
        // text of its own; a Double as its conversion.
        {"Dim s As String : Dim n As Long : n = -2147483647 - 1 : s = s & n : s = s & \"|\" : s = s & n : R = s",
         "-2147483648|-2147483648"},
        {"Dim s As String : Dim d As Double : d = 2.5 : s = \"v\" : s = s & d : R = s", "v2.5"},
        {"Dim s As String : s = \"a\" : s = s & Chr(0) & \"z\" : s = s & \"b\" : R = s & Len(s)", "ab2"},
        // A local that was never set reads as the empty text.
        {"Dim s As String : R = \"[\" & s & \"]\" & Len(s)", "[]0"},
    });
}

TEST_F(InPlace, AStringLocalIsTheVariableItsCalleesReachByReference) {
    check({
        {"Dim s As String : s = \"a\" : AddB s : s = s & \"c\" : AddB s : R = s", "abcb"},
        // The callee changes s before the append reads it, as the general
        // form reads its variable after the right operand.
        {"Dim s As String : s = \"a\" : s = s & Grow(s) : R = s", "a!?"},
        {"Dim s As String : s = \"ab\" : s = s & Peek(s) : R = s", "abab."},
        {"Dim s As String : AddB s : AddB s : R = s", "bb"},
    });
}

TEST_F(InPlace, EachFrameAndEachBlockHasItsOwnStringLocals) {
    check({
        {"R = Nest(3)", "<3<2<1<0>>>>"},
        {"R = Nest(0) & Nest(1)", "<0><1<0>>"},
        // A block's own Dim is new each time the block runs.
        {"Dim s As String : Dim i As Long : For i = 1 To 3 : If i > 1 Then : Dim u As String : u = u & i : "
         "s = s & u & \";\" : End If : Next : R = s",
         "2;3;"},
    });
}

TEST_F(InPlace, NumberParametersReadInPlaceAreEachCallsOwn) {
    check({
        // A by-value parameter is the callee's own: changing it changes
        // what it reads, and nothing of the caller's.
        {"Dim k As Long : k = 20 : R = Twice(k) & \",\" & k & \",\" & Twice(k + 1)", "41,20,43"},
        {"R = Half(3, 2) & \",\" & Half(-5, 1)", "7.5,-7.5"},
        {"Dim k As Long : k = 1 : Keep k : Keep k : R = R & k", "6,6,1"},
        // By reference a parameter is the caller's variable.
        {"Dim k As Long : k = 1 : Bump k : Bump k : R = R & k", "20,40,5"},
    });
}

TEST_F(InPlace, RecursionReadsEachCallsOwnParameter) {
    InterObj o(named("Fibs"));
    AddProcedure(o.get(), kFibSource);
    AddProcedure(o.get(), R"(
        Function FibD(ByVal n As Double) As Double
          If n < 2 Then
            FibD = n
          Else
            FibD = FibD(n - 1) + FibD(n - 2)
          End If
        End Function
    )");
    EXPECT_EQ(Call(o.get(), "Fib", {ValuePtr(new LongValue(20))})->as<int32_t>(), 6765);
    EXPECT_EQ(Call(o.get(), "FibD", {ValuePtr(new DoubleValue(15))})->as<double>(), 610.0);
}

}  // namespace
}  // namespace tq
