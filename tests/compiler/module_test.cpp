#include <gtest/gtest.h>

#include <string>

#include "parsehelp.h"

namespace tq::compiler::testing {
namespace {

TEST(TextModules, ReadTheLanguageGuidesExample) {
    const char* text =
        "' Shapes\n"
        "Enum Color\n  Red = 1\n  Green\nEnd Enum\n\n"
        "Begin Object Shape\n"
        "  Dim Name As String\n"
        "  Event Changed(Sides As Integer)\n"
        "  .Name = \"shape\"\n"
        "  Sub Describe()\n    Print Name\n  End Sub\n"
        "End Object\n"
        "Begin Object Square From Shape\n"
        "  .Sides := 4\n"
        "  Type Label From Shape   ' embedded\n    .Name = \"label\"\n  End Type\n"
        "End Object\n";
    EXPECT_EQ(ModuleOf(text),
              "2:1 Enum Color {end 5}\n"
              "  3:3 Red = 1\n"
              "  4:3 Green = 2 (next)\n"
              "7:1 Object Shape {end 14}\n"
              "  8:3 Dim Name:String text=\"Dim Name As String\"\n"
              "  9:3 Event Changed(Sides:Integer) args=\"(Sides As Integer)\"\n"
              "  10:3 .Name = \"shape\"\n"
              "  11:3 Sub Describe() header=\"Sub Describe()\" {to 13}\n"
              "    12:5 Print Name\n"
              "15:1 Object Square From Shape {end 20}\n"
              "  16:3 .Sides := 4\n"
              "  17:3 Type Label From Shape {end 19}\n"
              "    18:5 .Name = \"label\"\n"
              "    17:27 '\" embedded\"\n"
              "1:1 '\" Shapes\"\n");
}

TEST(TextModules, ReadFieldsInEveryFormTheyDeclareThemselves) {
    EXPECT_EQ(ModuleOf("Begin Object O\n"
                       "  Dim x As Long\n"
                       "  Protected y As String\n"
                       "  Const Limit% = 10\n"
                       "  Dim c(1 To 3, 4) As String\n"
                       "  Dim f As Form\n"
                       "  Dim e As New Shape\n"
                       "  Type Inner From Shape\n  End Type\n"
                       "  Type Plain\n  End Type\n"
                       "End Object\n"),
              "1:1 Object O {end 12}\n"
              "  2:3 Dim x:Long text=\"Dim x As Long\"\n"
              "  3:3 Protected y:String text=\"Protected y As String\"\n"
              "  4:3 Const Limit% = 10 text=\"Const Limit% = 10\"\n"
              "  5:3 Dim c(1 To 3, 4):String text=\"Dim c(1 To 3, 4) As String\"\n"
              "  6:3 Dim f:Form text=\"Dim f As Form\"\n"
              "  7:3 Dim e:New Shape text=\"Dim e As New Shape\"\n"
              "  8:3 Type Inner From Shape {end 9}\n"
              "  10:3 Type Plain {end 11}\n");
}

TEST(TextModules, KeepDeclareLinesAsTextWithTheirParts) {
    EXPECT_EQ(ModuleOf("Begin Object O\n"
                       "  Declare Function StrLen& Lib \"libc.so.6\" Alias \"strlen\" (ByVal s As String)\n"
                       "  Declare Sub Beep Lib \"k\"\n"
                       "End Object\n"),
              "1:1 Object O {end 4}\n"
              "  2:3 Declare Function StrLen& Lib \"libc.so.6\" Alias \"strlen\"(ByVal s:String) "
              "text=\"Declare Function StrLen& Lib \"\"libc.so.6\"\" Alias \"\"strlen\"\" (ByVal s As String)\"\n"
              "  3:3 Declare Sub Beep Lib \"k\"() text=\"Declare Sub Beep Lib \"\"k\"\"\"\n");
}

TEST(TextModules, ReadParametersInEveryForm) {
    EXPECT_EQ(ModuleOf("Begin Object O\n"
                       "  Function F(ByVal a As Long, ByRef b$, c() As Integer, d Strictly As Form, "
                       "e As Strictly Form, ByRef) As Object\n"
                       "  End Function\n"
                       "End Object\n"),
              "1:1 Object O {end 4}\n"
              "  2:3 Function F(ByVal a:Long, ByRef b$, c():Integer, d:Strictly Form, e:Strictly Form, "
              "ByRef):Object header=\"Function F(ByVal a As Long, ByRef b$, c() As Integer, d Strictly As "
              "Form, e As Strictly Form, ByRef) As Object\" {to 3}\n");
}

TEST(TextModules, NumberEnumerationEntriesOnFromTheLastValue) {
    EXPECT_EQ(ModuleOf("Enum E\n  A\n  B = 10\n  C\n  D = -&H1\n  F = &O7\nEnd Enum"),
              "1:1 Enum E {end 7}\n"
              "  2:3 A = 0 (next)\n  3:3 B = 10\n  4:3 C = 11 (next)\n  5:3 D = -1\n  6:3 F = 7\n");
}

TEST(TextModules, AllowEnumAndByRefAsNamesElsewhere) {
    EXPECT_EQ(StmtsOf("Enum = 1\nByRef 2"), "1:1 assign Enum 1\n2:1 call (bare ByRef 2)\n");
}

TEST(TextModuleErrors, NameTheConstructAndPosition) {
    struct Case {
        const char* text;
        const char* errors;
    } cases[] = {
        {"Sub F()\nEnd Sub", "t.tqs:1:1: 'Sub' belongs inside an object: 'Begin Object Name' ... 'End Object'\n"
                             "t.tqs:2:1: 'End Sub' without 'Sub'\n"},
        {"x = 1", "t.tqs:1:1: expected 'Begin Object' or 'Enum' at the top level of a module, found 'x'\n"},
        {"Begin Thing A\nEnd Object", "t.tqs:1:7: expected 'Object' after 'Begin'\n"},
        {"Begin Object A\n  x = 1\nEnd Object",
         "t.tqs:2:3: expected a declaration ('Dim', 'Protected', 'Const', 'Type', 'Event', 'Declare'), an "
         "initial value '.Field = value' or a procedure, found 'x'\n"},
        {"Begin Object A\n  Begin Object B\n  End Object\nEnd Object",
         "t.tqs:2:3: objects do not nest: an object inside another is written 'Type Name [From Proto]' ... "
         "'End Type'\n"
         "t.tqs:4:1: 'End Object' without 'Begin Object'\n"},
        {"Begin Object A\n  Enum E\n  End Enum\nEnd Object",
         "t.tqs:2:3: an enumeration is declared at the top level of the module, outside 'Begin Object'\n"
         "t.tqs:3:3: 'End Enum' without 'Enum'\n"},
        {"Begin Object A\n  Sub F()\n  End Function\nEnd Object",
         "t.tqs:3:3: expected 'End Sub' to close the 'Sub' of line 2, found 'End Function'\n"},
        {"Begin Object A\n  Sub F()\nEnd Object",
         "t.tqs:3:1: expected 'End Sub' to close the 'Sub' of line 2 before 'End Object'\n"},
        {"Begin Object A\n  Type T\nEnd Object",
         "t.tqs:3:1: expected 'End Type' to close the 'Type' of line 2 before 'End Object'\n"},
        {"Begin Object A\n", "t.tqs:2:1: expected 'End Object' to close the 'Begin Object' of line 1 before "
                             "the end of the file\n"},
        {"Enum E\n  A\n", "t.tqs:3:1: expected 'End Enum' to close the 'Enum' of line 1 before the end of the file\n"},
        {"Enum E\n  A = x\nEnd Enum", "t.tqs:2:7: expected a whole number as the value of 'A', found 'x'\n"},
        {"Enum E\n  A\n  a\n  B = 0\nEnd Enum",
         "t.tqs:3:3: the enumeration 'E' already has an entry 'A' (line 2)\n"
         "t.tqs:4:3: 'B' has the value 0 of 'A' (line 2): entries need values of their own\n"},
        {"Begin Object A\n  Dim x% As Long\nEnd Object",
         "t.tqs:2:10: 'x' has a type suffix and an 'As' type: give one of them\n"},
        {"Begin Object A\n  Sub F(ByVal a() As Long)\n  End Sub\nEnd Object",
         "t.tqs:2:9: an array parameter cannot be 'ByVal': arrays are passed by reference\n"},
        {"Begin Object A\n  Sub F() As Long\n  End Sub\nEnd Object",
         "t.tqs:2:11: a Sub returns no value: only a Function has 'As' and a type\n"},
        {"Begin Object A\n  Dim Loop As Long\nEnd Object",
         "t.tqs:2:7: 'Loop' is a keyword and cannot be used as a name\n"},
        {"Begin Object A\n  Dim x As 5\nEnd Object",
         "t.tqs:2:12: expected a type after 'As' (Integer, Long, Single, Double, Currency, String, Object or "
         "the name of a prototype or enumeration), found the number 5\n"},
        {"Begin Object A\n  Declare Sub F\nEnd Object",
         "t.tqs:2:16: expected 'Lib' and the library's name in quotes\n"},
        {"Begin Object A\n  .x 5\nEnd Object", "t.tqs:2:6: expected '=' and a value after the field's name, found the number 5\n"},
        {"Begin Object A\n  Static x As Long\nEnd Object",
         "t.tqs:2:3: expected 'Sub' or 'Function' after 'Static': an object's fields are declared with 'Dim'\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorsOf(c.text, ParseGoal::Module), c.errors) << c.text;
}

}  // namespace
}  // namespace tq::compiler::testing
