#include <gtest/gtest.h>

#include <string>

#include "parsehelp.h"
#include "textform.h"

namespace tq::compiler::testing {
namespace {

TEST(Assignments, TakeLetSetAndDeepSet) {
    EXPECT_EQ(StmtsOf("x = 1\nLet x = 2\nSet o = Nothing\na.b := 3\nLet .c := 4\nf(1) = 5"),
              "1:1 assign x 1\n"
              "2:1 assign Let x 2\n"
              "3:1 assign Set o Nothing\n"
              "4:1 assign := (. a b) 3\n"
              "5:1 assign Let := .c 4\n"
              "6:1 assign (call f 1) 5\n");
}

TEST(Calls, ReadEveryWayACallIsWritten) {
    EXPECT_EQ(StmtsOf("Foo\nFoo()\nFoo 1, 2\nFoo(1, 2)\nFoo (1), 2\nFoo (1, 2)\nobj.M 1\n"
                      "Call Foo\nCall Foo(1)\nCall Foo 1\nSendEvent Changed\nSendEvent Changed 4\n"
                      "SendEvent Me.Changed(4)\n.M 1\nMe.M"),
              "1:1 call Foo\n"
              "2:1 call Foo()\n"
              "3:1 call (bare Foo 1 2)\n"
              "4:1 call (call Foo 1 2)\n"
              "5:1 call (bare Foo [1] 2)\n"
              "6:1 call (call Foo 1 2)\n"
              "7:1 call (. obj (bare M 1))\n"
              "8:1 Call Foo\n"
              "9:1 Call (call Foo 1)\n"
              "10:1 Call (bare Foo 1)\n"
              "11:1 SendEvent Changed\n"
              "12:1 SendEvent (bare Changed 4)\n"
              "13:1 SendEvent (. Me (call Changed 4))\n"
              "14:1 call (bare .M 1)\n"
              "15:1 call (. Me M)\n");
}

// "Foo (a)" is a call with a parenthesized argument, as the printer writes
// it; a parenthesis after white space still indexes when an assignment or a
// member follows.
TEST(Calls, TellAnArgumentInParenthesesFromAnIndex) {
    EXPECT_EQ(StmtsOf("Foo (a) + 1\na (1) = 2\na (1).b = 3\nFoo (a)"),
              "1:1 call (bare Foo (+ [a] 1))\n"
              "2:1 assign (call a 1) 2\n"
              "3:1 assign (. (call a 1) b) 3\n"
              "4:1 call (bare Foo [a])\n");
}

TEST(SimpleStatements, ReadExitStopRandomizeRedimAndThrow) {
    EXPECT_EQ(StmtsOf("Exit\nExit Sub\nExit Function\nExit For\nExit Do\nStop\nRandomize\nRandomize 7\n"
                      "ReDim a(5)\nReDim Preserve b$(1 To 2, 3)\nThrow\nThrow Oops\nThrow Oops(1, 2)\n"
                      "Throw Oops 1"),
              "1:1 Exit\n2:1 Exit Sub\n3:1 Exit Function\n4:1 Exit For\n5:1 Exit Do\n6:1 Stop\n"
              "7:1 Randomize\n8:1 Randomize 7\n9:1 ReDim a(5)\n10:1 ReDim Preserve b$(1 To 2, 3)\n"
              "11:1 Throw\n12:1 Throw Oops\n13:1 Throw (call Oops 1 2)\n14:1 Throw (bare Oops 1)\n");
}

TEST(Print, ReadsSeparatorsSpcTabAndTargets) {
    EXPECT_EQ(StmtsOf("Print\nPrint a; b, c\nPrint a;\nPrint , a,\nPrint Spc(2); Tab(9); x\n"
                      "obj.Print 1\nMe.a.Print 2\nPrint #obj, 3;\n? 4\nPrint a,,b"),
              "1:1 Print\n"
              "2:1 Print a ; b , c\n"
              "3:1 Print a ;\n"
              "4:1 Print , a ,\n"
              "5:1 Print (Spc 2) ; (Tab 9) ; x\n"
              "6:1 Print to obj: 1\n"
              "7:1 Print to (. Me a): 2\n"
              "8:1 Print #obj: 3 ;\n"
              "9:1 Print 4\n"
              "10:1 Print a , \"\" , b\n");
}

TEST(Declarations, ReadDimStaticAndConstWithTheirText) {
    EXPECT_EQ(StmtsOf("Dim a As Integer, b%, c(1 To 3, 4) As String, d() As Long\n"
                      "Static n As Long\nConst Limit% = 10, Name = \"x\"\nDim f As New Form, g As Strictly Form"),
              "1:1 Dim a:Integer b% c(1 To 3, 4):String d():Long "
              "text=\"Dim a As Integer, b%, c(1 To 3, 4) As String, d() As Long\"\n"
              "2:1 Static n:Long text=\"Static n As Long\"\n"
              "3:1 Const Limit% = 10 Name = \"x\" text=\"Const Limit% = 10, Name = \"\"x\"\"\"\n"
              "4:1 Dim f:New Form g:Strictly Form text=\"Dim f As New Form, g As Strictly Form\"\n");
}

TEST(If, ReadsTheBlockFormWithItsClosingLines) {
    EXPECT_EQ(StmtsOf("If a Then\n  x = 1\nElseIf b Then\n  x = 2\nElseIf c Then y = 3\nElse\n  x = 4\nEnd If"),
              "1:1 If a {to 3}\n"
              "  2:3 assign x 1\n"
              "3:1 ElseIf b {to 5}\n"
              "  4:3 assign x 2\n"
              "5:1 ElseIf c {to 6}\n"
              "  5:15 assign y 3\n"
              "6 Else {to 8}\n"
              "  7:3 assign x 4\n");
}

TEST(If, ReadsTheOneLineFormAndBindsElseToTheNearestIf) {
    EXPECT_EQ(StmtsOf("If a Then x = 1 : y = 2 Else z = 3\nIf a Then Else z\n"
                      "If a Then If b Then x Else y\nIf a Then For i = 1 To 2 : Next : Print"),
              "1:1 If-line a\n"
              "  1:11 assign x 1\n"
              "  1:19 assign y 2\n"
              "1 Else\n"
              "  1:30 assign z 3\n"
              "2:1 If-line a\n"
              "2 Else\n"
              "  2:16 call z\n"
              "3:1 If-line a\n"
              "  3:11 If-line b\n"
              "    3:21 call x\n"
              "  3 Else\n"
              "    3:28 call y\n"
              "4:1 If-line a\n"
              "  4:11 For i 1 2 {to 4}\n"
              "  4:35 Print\n");
}

TEST(If, TakesACommentAfterThenAsTheBlockForm) {
    EXPECT_EQ(StmtsOf("If a Then ' why\n  x\nEnd If"),
              "1:1 If a {to 3}\n  2:3 call x\n1:11 '\" why\"\n");
}

TEST(Select, ReadsEveryTestForm) {
    EXPECT_EQ(StmtsOf("Select Case x\nCase 1, 2 To 3\n  a\nCase Is = 4, Is == 5, Is <> 6, Is < 7, Is > 8, "
                      "Is <= 9, Is >= 10\nCase Else : b\nEnd Select"),
              "1:1 Select x {end 6}\n"
              "2:1 Case 1 (To 2 3) {to 4}\n"
              "  3:3 call a\n"
              "4:1 Case (Is= 4) (Is= 5) (Is<> 6) (Is< 7) (Is> 8) (Is<= 9) (Is>= 10) {to 5}\n"
              "5 Case Else {to 6}\n"
              "  5:13 call b\n");
}

TEST(Loops, ReadAllSixFormsOfDoAndWhile) {
    EXPECT_EQ(StmtsOf("Do While a\nLoop\nDo Until a\nLoop\nDo\nLoop While a\nDo\nLoop Until a\nDo\nLoop\n"
                      "While a\nWend"),
              "1:1 Do While a {to 2}\n3:1 Do Until a {to 4}\n5:1 Do ... Loop While a {to 6}\n"
              "7:1 Do ... Loop Until a {to 8}\n9:1 Do {to 10}\n11:1 While a {to 12}\n");
}

TEST(Loops, ReadForWithStepAndForEachOfEveryKind) {
    EXPECT_EQ(StmtsOf("For i = 1 To n Step -1\nNext i\nFor Each v In g\nNext\nFor Each v EmbeddedIn Me\n"
                      "Next v\nFor Each v CopiedFrom Me : Next"),
              "1:1 For i 1 n Step -1 (Next names it) {to 2}\n"
              "3:1 For Each v In g {to 4}\n"
              "5:1 For Each v EmbeddedIn Me (Next names it) {to 6}\n"
              "7:1 For Each v CopiedFrom Me {to 7}\n");
}

TEST(With, ReadsDottedNamesInItsBody) {
    EXPECT_EQ(StmtsOf("With a.b\n  .c = .d + 1\n  .e 2\nEnd With"),
              "1:1 With (. a b) {to 4}\n  2:3 assign .c (+ .d 1)\n  3:3 call (bare .e 2)\n");
}

// " .name" after a space starts an argument; "a.b" and "a . b" stay members.
TEST(With, ReadsADottedNameAfterASpaceAsAnArgumentOfACall) {
    EXPECT_EQ(StmtsOf("With s\n  Show .A, .B\n  .Move .Left\n  Call F .X\n  s.T .U\n  a . b\nEnd With"),
              "1:1 With s {to 7}\n  2:3 call (bare Show .A .B)\n  3:3 call (bare .Move .Left)\n"
              "  4:3 Call (bare F .X)\n  5:3 call (. s (bare T .U))\n  6:3 call (. a b)\n");
}

TEST(Try, KeepsEachCatchLineForTheDeadSource) {
    EXPECT_EQ(StmtsOf("Try\n  Throw E\nCatch RangeError(ByVal a As Long, b)\n  x\nCatch E\nCatch   ' any\nEnd Try"),
              "1:1 Try {to 3}\n"
              "  2:3 Throw E\n"
              "3:1 Catch RangeError(ByVal a:Long, b) text=\"Catch RangeError(ByVal a As Long, b)\" {to 5}\n"
              "  4:3 call x\n"
              "5:1 Catch E text=\"Catch E\" {to 6}\n"
              "6:1 Catch text=\"Catch\" {to 7}\n"
              "7 End Try\n"
              "6:9 '\" any\"\n");
}

TEST(Statements, ShareALineWhenJoinedByColons) {
    EXPECT_EQ(StmtsOf("a = 1 : b = 2::c\nFor i = 1 To 3 : Print i : Next"),
              "1:1 assign a 1\n1:9 assign b 2\n1:16 call c\n"
              "2:1 For i 1 3 {to 2}\n  2:18 Print i\n");
}

TEST(Comments, GoToTheListWithTheirPositionsAndKinds) {
    EXPECT_EQ(StmtsOf("' first\nx = 1 ' second\nRem third\nx : REM fourth\n"),
              "2:1 assign x 1\n4:1 call x\n"
              "1:1 '\" first\"\n2:7 '\" second\"\n3:1 Rem\" third\"\n4:5 Rem\" fourth\"\n");
}

TEST(Keywords, AreReadInAnyCaseInStatements) {
    EXPECT_EQ(StmtsOf("if A then\nDIM x AS long\nend IF\nfor I = 1 to 2 : NEXT i"),
              "1:1 If A {to 3}\n  2:1 Dim x:Long text=\"DIM x AS long\"\n"
              "4:1 For I 1 2 (Next names it) {to 4}\n");
}

TEST(Procedures, KeepTheirHeaderBodyAndComments) {
    EXPECT_EQ(Shown(ParseProcedure("' before\nFunction Area#(ByVal w As Double, h()) ' area\n"
                                   "  Area = w\nEnd Function ' done\n", "p")),
              "2:1 Function Area#(ByVal w:Double, h()) header=\"Function Area#(ByVal w As Double, h())\" "
              "{to 4}\n"
              "  3:3 assign Area w\n"
              "  2:40 '\" area\"\n"
              "  4:14 '\" done\"\n"
              "1:1 '\" before\"\n");
    EXPECT_EQ(Shown(ParseProcedure("Static Sub S\nEnd Sub", "p")),
              "1:1 Static Sub S header=\"Static Sub S\" {to 2}\n");
}

// The printer writes statements in forms that must read back to the same
// tree: joined lines, one-line Ifs with compound statements, Calls whose
// argument is parenthesized.
TEST(PrintedForms, OfStatementsReadBackToTheSameTree) {
    const char* text =
        "Foo (a), b\nFoo (a) + 1\nFoo(a)\nCall Foo (a)\nobj.Print a; b,\nPrint , Spc(1); Tab(2)\n"
        "If a Then For i = 1 To 2 : Print i : Next i Else Do : Loop\n"
        "If a Then If b Then c Else d\nSelect Case x\nCase Is == 1, 2 To 3\nCase Else\nEnd Select\n"
        "Try\nCatch E(a As Long)\nEnd Try\nThrow E 1\nReDim Preserve a(1 To 2)\nLet x := -1\n"
        "With s\nShow .A, .B\n.Move .Left\nEnd With\n";
    const SyntaxTree first = ParseStatements(text, "s");
    ASSERT_TRUE(first.ok()) << FormatDiagnostics(first.errors());
    const std::string printed = PrintTree(first);
    const SyntaxTree second = ParseStatements(printed, "s");
    ASSERT_TRUE(second.ok()) << printed << FormatDiagnostics(second.errors());
    EXPECT_EQ(ShapeOf(second), ShapeOf(first)) << printed;
}

}  // namespace
}  // namespace tq::compiler::testing
