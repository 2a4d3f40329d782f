#include <gtest/gtest.h>

#include <string>

#include "parsehelp.h"

namespace tq::compiler::testing {
namespace {

struct Case {
    const char* text;
    const char* errors;
};

TEST(StatementErrors, ReportTheLanguagesOwnMistakesWithTheirPositions) {
    const Case cases[] = {
        {"x = 1\nEnd If", "t.tqs:2:1: 'End If' without 'If'\n"},
        {"Next", "t.tqs:1:1: 'Next' without 'For'\n"},
        {"Loop", "t.tqs:1:1: 'Loop' without 'Do'\n"},
        {"  Wend", "t.tqs:1:3: 'Wend' without 'While'\n"},
        {"Else", "t.tqs:1:1: 'Else' without 'If'\n"},
        {"Case 1", "t.tqs:1:1: 'Case' without 'Select Case'\n"},
        {"Catch", "t.tqs:1:1: 'Catch' without 'Try'\n"},
        {"End With", "t.tqs:1:1: 'End With' without 'With'\n"},
        {"End Sub", "t.tqs:1:1: 'End Sub' without 'Sub'\n"},
        {"If a Then x = 1 : End If", "t.tqs:1:19: 'End If' without 'If'\n"},
        {"For i = 1 To 2\n  x\n", "t.tqs:3:1: expected 'Next' to close the 'For' of line 1 before the end of the file\n"},
        {"If a Then\nFor i = 1 To 2\nEnd If",
         "t.tqs:3:1: expected 'Next' to close the 'For' of line 2 before 'End If'\n"},
        {"If a Then For i = 1 To 2",
         "t.tqs:1:25: expected 'Next' to close the 'For' of line 1 before the end of the line\n"},
        {"s = \"abc", "t.tqs:1:5: unterminated string: expected '\"' before the end of the line\n"},
        {"Dim Next As Long", "t.tqs:1:5: 'Next' is a keyword and cannot be used as a name\n"},
        {"Len = 5", "t.tqs:1:1: 'Len' is a keyword and cannot be used as a name\n"},
        {"Long", "t.tqs:1:1: expected a statement, found the keyword 'Long'\n"},
        {"x = 99999999999", "t.tqs:1:5: the number 99999999999 is out of range for a Long (-2147483648 to "
                            "2147483647); write it with a decimal point for a Double\n"},
        {"If a > 1\n  x\nEnd If", "t.tqs:1:9: expected 'Then' after the condition of 'If'\n"},
        {"If a > 1 x", "t.tqs:1:10: expected 'Then' after the condition of 'If'\n"},
        {"If a Then\nElse\nElse\nEnd If", "t.tqs:3:1: 'Else' after the 'Else' of line 2\n"},
        {"Select x\nEnd Select", "t.tqs:1:8: expected 'Case' after 'Select'\n"},
        {"Select Case x\n  y\nCase 1\nEnd Select", "t.tqs:2:3: expected 'Case' before the first statement of 'Select Case'\n"},
        {"Select Case x\nCase Else\nCase 1\nEnd Select", "t.tqs:3:1: 'Case' after 'Case Else'\n"},
        {"Select Case x\nCase Is\nEnd Select",
         "t.tqs:2:8: expected a comparison ('=', '<>', '<', '>', '<=' or '>=') after 'Is', found the end of the line\n"},
        {"Do While a\nLoop Until b", "t.tqs:2:6: a 'Do' loop tests its condition at the top or at the bottom, not both\n"},
        {"For i 1 To 2\nNext", "t.tqs:1:7: expected '=' after the variable of 'For'\n"},
        {"For i = 1 2\nNext", "t.tqs:1:11: expected 'To' after the start value of 'For'\n"},
        {"For Each v Of g\nNext", "t.tqs:1:12: expected 'In', 'EmbeddedIn' or 'CopiedFrom' after the variable of "
                                  "'For Each', found 'Of'\n"},
        {"For i = 1 To 2\nNext j", "t.tqs:2:6: 'Next' names another variable than the 'For' of line 1\n"},
        {"For j = 1 To 2\nFor i = 1 To 2\nNext i, j",
         "t.tqs:3:7: 'Next' closes one loop: write 'Next j : Next i'\n"
         "t.tqs:3:10: expected 'Next' to close the 'For' of line 1 before the end of the file\n"},
        {"Try\nEnd Try", "t.tqs:2:1: expected 'Catch' before 'End Try': a 'Try' without 'Catch' catches nothing\n"},
        {"Try\nCatch E%\nEnd Try", "t.tqs:2:7: an exception's name takes no type suffix\n"},
        {"Throw a.b", "t.tqs:1:7: expected the name of an exception after 'Throw'\n"},
        {"Exit Loop", "t.tqs:1:6: expected 'Sub', 'Function', 'For', 'Do' or the end of the statement after "
                      "'Exit', found 'Loop'\n"},
        {"ReDim a(1), b(2)", "t.tqs:1:11: 'ReDim' resizes one array: write one 'ReDim' per array\n"},
        {"ReDim a(1) As Long", "t.tqs:1:12: 'ReDim' keeps the array's type: leave out 'As'\n"},
        {"Print a b", "t.tqs:1:9: expected ',' or ';' between the items of 'Print', found 'b'\n"},
        {"Print #o 1", "t.tqs:1:10: expected ',' after the target of 'Print #'\n"},
        {".Print 1", "t.tqs:1:1: '.Print' needs the object to print on: 'obj.Print'\n"},
        {"x = 1 Rem no", "t.tqs:1:7: a 'Rem' comment must start a statement: write ': Rem' or use '''\n"},
        {"x = 1 y", "t.tqs:1:7: expected the end of the statement, found 'y'\n"},
        {"Foo(1) 2", "t.tqs:1:8: expected the end of the statement, found the number 2\n"},
        {"End", "t.tqs:1:1: expected 'If', 'Select', 'With', 'Try', 'Sub' or 'Function' after 'End'\n"},
        {"Sub F()\nEnd Sub", "t.tqs:1:1: a procedure cannot be declared inside a procedure or a statement list\n"
                            "t.tqs:2:1: 'End Sub' without 'Sub'\n"},
        {"Let 5 = 1", "t.tqs:1:5: expected a variable after 'Let', found the number 5\n"},
        {"Call 5", "t.tqs:1:6: expected the name of a procedure after 'Call', found the number 5\n"},
        {"x = ", "t.tqs:1:5: expected an expression, found the end of the line\n"},
        {"x 1,", "t.tqs:1:5: expected an expression, found the end of the line\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorsOf(c.text), c.errors) << c.text;
}

TEST(StatementErrors, AreAllReportedInSourceOrderAndReadingGoesOn) {
    EXPECT_EQ(ErrorsOf("For i = 1 To 3\n  x = \n  If a Then\n    y = )\n  End If\nNext\nz = 1 +\n"),
              "t.tqs:2:7: expected an expression, found the end of the line\n"
              "t.tqs:4:9: expected an expression, found ')'\n"
              "t.tqs:7:8: expected an expression, found the end of the line\n");
}

TEST(StatementErrors, AnUnclosedBlockReportsEveryOpenConstruct) {
    EXPECT_EQ(ErrorsOf("Do\n  While a\n    With b\n"),
              "t.tqs:4:1: expected 'End With' to close the 'With' of line 3 before the end of the file\n"
              "t.tqs:4:1: expected 'Wend' to close the 'While' of line 2 before the end of the file\n"
              "t.tqs:4:1: expected 'Loop' to close the 'Do' of line 1 before the end of the file\n");
}

TEST(StatementErrors, StopAtFiftyAndKeepTheFirstFifty) {
    std::string text;
    for (int i = 0; i < 80; ++i) text += "x = )\n";
    const SyntaxTree t = ParseStatements(text, "t.tqs");
    ASSERT_EQ(t.errors().size(), kMaxDiagnostics);
    EXPECT_EQ(t.errors().front().pos, (SourcePos{1, 5}));
    EXPECT_EQ(t.errors().back().pos, (SourcePos{50, 5}));
}

TEST(Diagnostics, PrintLikeACompilersAndSortByPosition) {
    Diagnostics d("shapes.tqs");
    d.add({12, 9}, "second");
    d.add({3, 1}, "first");
    d.add({12, 9}, "third");
    const auto list = d.take();
    EXPECT_EQ(FormatDiagnostics(list), "shapes.tqs:3:1: first\nshapes.tqs:12:9: second\nshapes.tqs:12:9: third\n");
    EXPECT_EQ(list[0].text(), "shapes.tqs:3:1: first");
}

}  // namespace
}  // namespace tq::compiler::testing
