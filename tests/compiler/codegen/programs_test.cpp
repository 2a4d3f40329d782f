// Procedures compiled from text and run: every statement kind, locals,
// parameters by value and by reference, return values, and what they print.
#include "tests/compiler/codegen/cgtest.h"

#include <strings.h>

namespace tq::compiler {
namespace {

using CompiledPrograms = CodegenTest;

TEST_F(CompiledPrograms, ARecursiveFunctionComputesFibonacci) {
    InterObjRep* prog = object("Program", {R"(Function Fib(n As Long) As Long
  If n < 2 Then
    Fib = n
  Else
    Fib = Fib(n - 1) + Fib(n - 2)
  End If
End Function)"});
    EXPECT_EQ(call(prog, "Fib", {Long(20)})->as<int32_t>(), 6765);
    EXPECT_EQ(call(prog, "Fib", {Long(1)})->as<int32_t>(), 1);
}

// Each program is the body of Sub Main; the table gives what it prints.
TEST_F(CompiledPrograms, StatementsRunAsWritten) {
    const struct {
        const char* body;
        const char* out;
    } cases[] = {
        {"Dim i As Long\nFor i = 1 To 3\n  Print i;\nNext i\nPrint \"/\"; i", "123/4\n"},
        {"Dim i As Integer\nFor i = 10 To 1 Step -4: Print i; : Next\nPrint", "1062\n"},
        {"Dim i As Long\nDo While i < 3\n  i = i + 1\nLoop\nPrint i", "3\n"},
        {"Dim i As Long\nDo\n  i = i + 2\nLoop Until i >= 7\nPrint i", "8\n"},
        {"Dim i As Long\nWhile i < 5: i = i + 1: Wend\nPrint i", "5\n"},
        {"Dim i As Long\nDo\n  i = i + 1\n  If i = 4 Then Exit Do\nLoop\nPrint i", "4\n"},
        {"Dim i As Long, j As Long\nFor i = 1 To 3\n  For j = 1 To 3\n    If j = 2 Then Exit For\n    Print i; j; \" \";\n  Next\nNext\nPrint",
         "11 21 31 \n"},
        {"Dim x As Long\nFor x = 1 To 8\n  Select Case x\n    Case 1, 3 To 4\n      Print \"a\";\n    Case Is > 6\n      Print \"b\";\n    Case Else\n      Print \"c\";\n  End Select\nNext\nPrint",
         "acaaccbb\n"},
        {"Dim s As String\ns = \"x\"\nIf s = \"y\" Then\n  Print 1\nElseIf s = \"x\" Then\n  Print 2\nElse\n  Print 3\nEnd If", "2\n"},
        {"If 1 > 2 Then Print \"yes\" Else Print \"no\"", "no\n"},
        {"Print \"a\", \"b\"; 1 + 2 * 3; -2 ^ 2; 7 \\ 2; 7 Mod 4; \"q\" & 5", "a             b7-433q5\n"},
        {"Print (1 + 2) * 3; 2 ^ 3 ^ 2; Not 0; 5 And 3; True Or False", "964-11-1\n"},
        {"Print Len(\"hello\"); UCase$(\"ab\"); Mid(\"abcdef\", 2, 3); Abs(-2); IIf(1, \"t\", \"f\"); RGB(1, 2, 3)",
         "5ABbcd2t197121\n"},
        {"Const Limit = 3\nConst Name$ = \"n\" & \"m\"\nPrint Limit * 2; Name", "6nm\n"},
        {"Dim a(1 To 3) As Long, i As Long\nFor i = 1 To 3: a(i) = i * i: Next\nPrint a(1); a(2); a(3); LBound(a); UBound(a)",
         "14913\n"},
        {"Static a() As Long\nReDim a(2 To 4)\na(4) = 9\nReDim Preserve a(2 To 5)\nPrint a(4); UBound(a)", "95\n"},
        {"Try\n  Throw Oops(7, \"x\")\n  Print \"not here\"\nCatch Oops(n As Long, s As String)\n  Print \"caught\"; n; s\nEnd Try",
         "caught7x\n"},
        {"Try\n  Print 1 \\ 0\nCatch Other\n  Print \"no\"\nCatch\n  Print \"any\"\nEnd Try", "any\n"},
        {"Try\n  Try\n    Throw A\n  Catch A\n    Throw\n  End Try\nCatch A\n  Print \"again\"\nEnd Try", "again\n"},
        {"Print \"x\";\nStop", "x"},
        {"dim COUNT as long\ncount = 2: Count = Count + 1\nPRINT count", "3\n"},
        {"Print 1 && 0; 0 || 3; &H10; &O10; 2.5 * 2", "0-11685\n"},
    };
    for (const auto& c : cases) {
        const std::string text = std::string("Sub Main()\n") + c.body + "\nEnd Sub\n";
        InterObjRep* prog = object("Program", {text.c_str()});
        const std::string out = run(prog, "Main");
        // Stop without a debugger ends the run.
        if (std::string(c.body).find("Stop") != std::string::npos)
            EXPECT_NE(out.find(c.out), std::string::npos) << out;
        else
            EXPECT_EQ(out, c.out) << c.body;
        prog->Destroy();
    }
}

TEST_F(CompiledPrograms, ArgumentsGoByReferenceUnlessByVal) {
    InterObjRep* prog = object("Program", {
                                              R"(Sub Bump(a As Long, ByVal b As Long, ByRef c As Long)
  a = a + 1: b = b + 1: c = c + 1
End Sub)",
                                              R"(Sub Main()
  Dim x As Long, y As Long, z As Long
  Bump x, y, z
  Call Bump(x, y, z)
  Print x; y; z
End Sub)"});
    EXPECT_EQ(run(prog, "Main"), "202\n");
}

TEST_F(CompiledPrograms, FunctionsReturnTheirTypeByAsOrBySuffix) {
    InterObjRep* prog = object("Program", {"Function Half#(x As Double)\n  Half = x / 2\nEnd Function",
                                           "Function Greet(who As String) As String\n  greet = \"hi \" & who\nEnd Function",
                                           "Function Nothing1() As Long\nEnd Function",
                                           "Function Early() As Long\n  Early = 5\n  Exit Function\n  Early = 6\nEnd Function"});
    EXPECT_EQ(call(prog, "Half", {ValuePtr(new DoubleValue(3))})->as<double>(), 1.5);
    EXPECT_EQ(call(prog, "Greet", {ValuePtr(new StringValue(ValString("bo")))})->type(), IDT_STRING);
    EXPECT_EQ(run(prog, "Greet", {ValuePtr(new StringValue(ValString("bo")))}), "");
    EXPECT_EQ(call(prog, "Nothing1")->as<int32_t>(), 0);
    EXPECT_EQ(call(prog, "Early")->as<int32_t>(), 5);
}

TEST_F(CompiledPrograms, WithAndMembersReachTheObjectsFields) {
    InterObjRep* prog = object("Program", {R"(Sub Main()
  With Me
    .Total = 4
    .Total := .Total * 2
  End With
  Me.Total = Me.Total + 1
  Print Total; TypeOf Me Is Program; Me Is Me
End Sub)"});
    addData(prog, "Total");
    EXPECT_EQ(run(prog, "Main"), "9-1-1\n");
}

TEST_F(CompiledPrograms, NamesWrittenInAnyCaseReachTheDeclaredField) {
    InterObjRep* prog = object("Program", {});
    addData(prog, "Total");
    CodegenOptions options;
    options.declaredSpelling = [](std::string_view n) {
        const bool total = n.size() == 5 && strncasecmp(n.data(), "total", 5) == 0;
        return total ? std::string_view("Total") : std::string_view();
    };
    prog->addField(CompileProcedure("Sub Main()\n  TOTAL = 2\n  total = total + 1\n  Print Me.total\nEnd Sub", "t.tqs",
                                    options)
                       .release());
    EXPECT_EQ(run(prog, "Main"), "3\n");
    // Without the module's spellings the name is another one, which the
    // object does not have.
    prog->addField(CompileProcedure("Sub Other()\n  total = 1\nEnd Sub", "t.tqs").release());
    EXPECT_EQ(run(prog, "Other"), "error: Identifier 'total' was not found");
}

TEST_F(CompiledPrograms, StaticLocalsKeepTheirValuesBetweenCalls) {
    InterObjRep* prog = object("Program", {"Sub Tick()\n  Static n As Long\n  Dim m As Long\n  n = n + 1: m = m + 1\n  Print n; m\nEnd Sub",
                                           "Static Sub All()\n  Dim k As Long\n  k = k + 1\n  Print k\nEnd Sub"});
    EXPECT_EQ(run(prog, "Tick"), "11\n");
    EXPECT_EQ(run(prog, "Tick"), "21\n");
    EXPECT_EQ(run(prog, "All"), "1\n");
    EXPECT_EQ(run(prog, "All"), "2\n");
}

TEST_F(CompiledPrograms, FailuresCarryTheLineCountedFromTheHeader) {
    // The procedure starts on line 3 of its file; its failing statement is
    // its third line.
    InterObjRep* prog = object("Program", {"\n\nSub Main()\n  Dim x As Long\n  x = 1 \\ 0\nEnd Sub\n"});
    try {
        call(prog, "Main");
        FAIL() << "no failure";
    } catch (const StoreException& e) {
        EXPECT_EQ(e.line, 3);
    }
}

}  // namespace
}  // namespace tq::compiler
