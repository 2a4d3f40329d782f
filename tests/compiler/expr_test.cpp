#include <gtest/gtest.h>

#include <string>

#include "parsehelp.h"
#include "textform.h"

namespace tq::compiler::testing {
namespace {

struct Case {
    const char* text;
    const char* tree;
};

// Each row pairs two operators of neighbouring (or equal) power both ways,
// so a wrong power or associativity anywhere in the table shows.
TEST(Precedence, FollowsTheLanguagesTableFromPowerDownToImp) {
    const Case cases[] = {
        {"-2 ^ 2", "(- (^ 2 2))"},
        {"2 ^ 3 ^ 2", "(^ (^ 2 3) 2)"},
        {"-a * b", "(* (- a) b)"},
        {"a * b / c", "(/ (* a b) c)"},
        {"a / b \\ c", "(\\ (/ a b) c)"},
        {"a \\ b * c", "(\\ a (* b c))"},
        {"a \\ b Mod c", "(Mod (\\ a b) c)"},
        {"a Mod b \\ c", "(Mod a (\\ b c))"},
        {"a Mod b + c", "(+ (Mod a b) c)"},
        {"a + b Mod c", "(+ a (Mod b c))"},
        {"a - b + c", "(+ (- a b) c)"},
        {"a + b & c", "(& (+ a b) c)"},
        {"a & b + c", "(& a (+ b c))"},
        {"a & b = c", "(= (& a b) c)"},
        {"a = b & c", "(= a (& b c))"},
        {"a < b = c", "(= (< a b) c)"},
        {"a Like b <> c", "(<> (Like a b) c)"},
        {"a Is b", "(Is a b)"},
        {"Not a = b", "(Not (= a b))"},
        {"Not a And b", "(And (Not a) b)"},
        {"a And b Or c", "(Or (And a b) c)"},
        {"a Or b And c", "(Or a (And b c))"},
        {"a && b || c", "(|| (&& a b) c)"},
        {"a And b && c", "(&& (And a b) c)"},
        {"a Or b Xor c", "(Xor (Or a b) c)"},
        {"a Xor b Eqv c", "(Eqv (Xor a b) c)"},
        {"a Eqv b Imp c", "(Imp (Eqv a b) c)"},
        {"a Imp b Eqv c", "(Imp a (Eqv b c))"},
        {"a Imp b Imp c", "(Imp (Imp a b) c)"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExprOf(c.text), c.tree) << c.text;
}

TEST(Precedence, LetsAPrefixOperatorStandWhereAnOperandMay) {
    const Case cases[] = {
        {"a * -b", "(* a (- b))"},
        {"2 ^ -x", "(^ 2 (- x))"},
        {"2 ^ -x ^ 3", "(^ 2 (- (^ x 3)))"},
        {"a = Not b", "(= a (Not b))"},
        {"a * Not b + c Or d", "(Or (* a (Not (+ b c))) d)"},
        {"- - a", "(- (- a))"},
        {"Not Not a", "(Not (Not a))"},
        {"TypeOf x Is Form", "(TypeOf x Form)"},
        {"TypeOf a & b Is c = d", "(= (TypeOf (& a b) c) d)"},
        {"Not TypeOf x Is y And z", "(And (Not (TypeOf x y)) z)"},
        {"a = TypeOf x Is y", "(= a (TypeOf x y))"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExprOf(c.text), c.tree) << c.text;
}

TEST(Precedence, KeepsParenthesesTheSourceWrote) {
    EXPECT_EQ(ExprOf("(a + b) * c"), "(* [(+ a b)] c)");
    EXPECT_EQ(ExprOf("((a))"), "[a]");
    EXPECT_EQ(ExprOf("(-2) ^ 2"), "(^ [-2] 2)");
    EXPECT_EQ(ExprOf("-(2)"), "(- [2])");
}

TEST(Literals, AreLongsWithoutAPointAndDoublesWithOne) {
    const Case cases[] = {
        {"7", "7"},
        {"2147483647", "2147483647"},
        {"-2147483648", "-2147483648"},
        {"- 5", "-5"},
        {"2.0", "2.0"},
        {"-0.5", "-0.5"},
        {".5", "0.5"},
        {"1.5E3", "1500.0"},
        {"&H1f", "&H1F"},
        {"&HFFFFFFFF", "&HFFFFFFFF"},
        {"&O777", "&O777"},
        {"-&H10", "(- &H10)"},
        {"\"\"", "\"\""},
        {"\"a\"\"b^^^I\"", "\"a\"\"b^^^I\""},
        {"True", "True"},
        {"false", "False"},
        {"Nothing", "Nothing"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExprOf(c.text), c.tree) << c.text;
}

TEST(Literals, KeepTheirRadixAndValueInTheTree) {
    const SyntaxTree t = ParseExpression("&HFFFFFFFF", "e");
    auto* n = static_cast<const IntegerExpr*>(t.expression());
    EXPECT_EQ(n->value, -1);
    EXPECT_EQ(n->radix, 16);
    const SyntaxTree s = ParseExpression("\"tab^Iend\"", "e");
    EXPECT_EQ(static_cast<const StringExpr*>(s.expression())->text, "tab\tend");
    EXPECT_EQ(static_cast<const StringExpr*>(s.expression())->text.data()[7], '\0');
}

TEST(Literals, OutOfRangeAreErrorsAtTheirPosition) {
    EXPECT_EQ(ExprOf("1 + 2147483648"),
              "e:1:5: the number 2147483648 is out of range for a Long (-2147483648 to 2147483647); "
              "write it with a decimal point for a Double\n");
    EXPECT_EQ(ExprOf("-2147483649"),
              "e:1:2: the number -2147483649 is out of range for a Long (-2147483648 to 2147483647); "
              "write it with a decimal point for a Double\n");
    EXPECT_EQ(ExprOf("99999999999999999999999"),
              "e:1:1: the number 99999999999999999999999 is out of range for a Long (-2147483648 to "
              "2147483647); write it with a decimal point for a Double\n");
    EXPECT_EQ(ExprOf("3000000000.0"), "3e+09");
}

TEST(Names, CarryTheirSuffixesDotsAndParentheses) {
    const Case cases[] = {
        {"x", "x"},
        {"x%", "x%"},
        {"s$ & n@", "(& s$ n@)"},
        {".x", ".x"},
        {"Me", "Me"},
        {"x()", "x()"},
        {"f(1, a)", "(call f 1 a)"},
        {"f (1)", "(call f 1)"},
        {"Me(2)", "(call Me 2)"},
        {"a.b", "(. a b)"},
        {"Me.a.b(1).c", "(. Me a (call b 1) c)"},
        {".a.b", "(. .a b)"},
        {"o.Left", "(. o Left)"},
        {"Left", "Left"},
        {"a.Left(1)", "(. a (call Left 1))"},
        {"DIM_x", "DIM_x"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExprOf(c.text), c.tree) << c.text;
}

TEST(Names, KeepTheCaseTheyWereWrittenIn) {
    const SyntaxTree t = ParseExpression("MyName + myname", "e");
    auto* b = static_cast<const BinaryExpr*>(t.expression());
    EXPECT_EQ(static_cast<const NameExpr*>(b->left)->name, "MyName");
    EXPECT_EQ(static_cast<const NameExpr*>(b->right)->name, "myname");
}

TEST(Keywords, AreReadInAnyCase) {
    EXPECT_EQ(ExprOf("NOT a mod B AND tRuE"), "(And (Not (Mod a B)) True)");
    EXPECT_EQ(ExprOf("typeof x IS y"), "(TypeOf x y)");
    EXPECT_EQ(ExprOf("LEFT$(s, 1) & mid(s, 2)"), "(& (Left$ s 1) (Mid s 2))");
}

TEST(Intrinsics, TakeTheirArgumentForms) {
    const Case cases[] = {
        {"Abs(x)", "(abs x)"},
        {"rnd", "(rnd)"},
        {"Rnd()", "(rnd)"},
        {"Rnd(-1)", "(rnd -1)"},
        {"Instr(s, t)", "(Instr s t)"},
        {"Instr(1, s, t, 1)", "(Instr 1 s t 1)"},
        {"Mid$(s, 2, 3)", "(Mid$ s 2 3)"},
        {"String(3, \"x\")", "(String 3 \"x\")"},
        {"StrComp(a, b, 1)", "(StrComp a b 1)"},
        {"UBound(a) + LBound(a, 2)", "(+ (UBound a) (LBound a 2))"},
        {"RGB(1, 2, 3)", "(RGB 1 2 3)"},
        {"QBColor(9)", "(QBColor 9)"},
        {"IIf(c, a, b)", "(IIf c a b)"},
        {"(Len(s))", "[(Len s)]"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExprOf(c.text), c.tree) << c.text;
}

TEST(Intrinsics, CarryTheNodesCodes) {
    EXPECT_EQ(InfoOf(Builtin::Left).code, 69u);
    EXPECT_EQ(InfoOf(Builtin::Val).code, 77u);
    EXPECT_EQ(InfoOf(Builtin::String).code, 143u);
    EXPECT_EQ(InfoOf(Builtin::Oct).code, 147u);
    EXPECT_EQ(InfoOf(Builtin::Instr).code, 1u);
    EXPECT_EQ(InfoOf(Builtin::Str).code, 2u);
    EXPECT_EQ(InfoOf(Builtin::Tan).code, 12u);
    EXPECT_EQ(InfoOf(Builtin::UBound).code, 2u);
    EXPECT_EQ(InfoOf(Builtin::QBColor).code, 2u);
}

TEST(Intrinsics, RefuseWrongArgumentCountsAndSuffixes) {
    const Case cases[] = {
        {"Len(a, b)", "e:1:1: 'Len' takes 1 argument, not 2\n"},
        {"Mid(s)", "e:1:1: 'Mid' takes 2 to 3 arguments, not 1\n"},
        {"RGB(1, 2)", "e:1:1: 'RGB' takes 3 arguments, not 2\n"},
        {"Rnd(1, 2)", "e:1:1: 'Rnd' takes at most 1 argument, not 2\n"},
        {"Abs", "e:1:4: expected '(' and the arguments of 'Abs'\n"},
        {"Abs$(x)", "e:1:1: 'Abs' takes no type suffix\n"},
        {"IIf(a, b, c", "e:1:12: expected ')' after the arguments of 'IIf', found the end of the line\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExprOf(c.text), c.tree) << c.text;
}

TEST(ExpressionErrors, SayWhatWasExpectedAndWhere) {
    const Case cases[] = {
        {"a +", "e:1:4: expected an expression, found the end of the line\n"},
        {"(a + b", "e:1:7: expected ')' to close the '(' of column 1, found the end of the line\n"},
        {"a == b", "e:1:3: '==' is not an operator: compare with '='\n"},
        {"a b", "e:1:3: expected the end of the expression, found 'b'\n"},
        {"x = Loop", "e:1:5: expected an expression, found the keyword 'Loop'\n"},
        {"Null", "e:1:1: 'Null' is not a value of this language: an empty object reference is 'Nothing'\n"},
        {"New Form", "e:1:1: 'New' makes objects only in declarations: 'Dim x As New Proto'\n"},
        {"a.", "e:1:3: expected a member name after '.', found the end of the line\n"},
        {"a.Next", "e:1:3: 'Next' is a keyword and cannot be used as a member name\n"},
        {"TypeOf x", "e:1:9: expected 'Is' after the object of 'TypeOf'\n"},
        {"f(1,)", "e:1:5: expected an expression, found ')'\n"},
        {"", "e:1:1: expected an expression\n"},
        {"1\n2", "e:2:1: expected one expression, found more on line 2\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExprOf(c.text), c.tree) << c.text;
}

// The printer writes parentheses only where the tree has them: every tree
// the parser makes must read back from its printed text unchanged.
TEST(PrintedForms, ReadBackToTheSameTree) {
    const char* texts[] = {
        "a - (b - c)", "-2 ^ 2", "(-2) ^ 2", "2 ^ -2", "-a * b", "a - -5", "- -5", "--a",
        "Not a = b", "a = Not b", "a * Not b + c Or d", "TypeOf a & b Is c = d",
        "a = TypeOf x Is y", "-&H10", "x - -2147483648", "1.5E300 * -2.5E-300",
        "f(1, g(2)).h.k(3)", "Me(1)", ".a.b(c)", "Left(s, 1) & Left", "rnd & Rnd(1)",
        "\"^A^Z^[^\\^]^^^_^?\"", "IIf(a Is Nothing, True, False)",
    };
    for (const char* text : texts) {
        const SyntaxTree first = ParseExpression(text, "e");
        ASSERT_TRUE(first.ok()) << text << "\n" << FormatDiagnostics(first.errors());
        const std::string printed = PrintExpr(first.expression());
        const SyntaxTree second = ParseExpression(printed, "e");
        ASSERT_TRUE(second.ok()) << printed;
        EXPECT_EQ(DumpExpr(second.expression()), DumpExpr(first.expression())) << text << " -> " << printed;
    }
}

}  // namespace
}  // namespace tq::compiler::testing
