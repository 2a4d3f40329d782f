// The built-in functions: what each computes and its result type, the
// floating-point faults of the mathematical ones, rnd's state, texts with
// bytes above 127 and NULs, the colour and bound functions, IIf's one
// branch, the check of their nodes in blocks from files, and the API error
// stash.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/util/syserror.h"
#include "store/arrayfld.h"
#include "store/interp/intfuncs.h"
#include "store/interp/mathfunc.h"
#include "store/interp/nodechk.h"
#include "store/interp/strfunc.h"
#include "store/persist/vlstrrep.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using Intrinsics = InterpTest;

std::string TextOf(const ValuePtr& v) {
    ValString s = v->as<ValString>();
    return s.isNull() ? std::string() : s->text();
}

ValuePtr Eval(const std::string& text) {
    Context none(nullptr, 0);
    return EvalImmediate(none, text);
}

TEST_F(Intrinsics, MathFunctionsGiveDoublesOfTheirArgument) {
    const struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"Abs(-2.5)", 2.5},  {"Abs(3)", 3},      {"Fix(-2.5)", -2},       {"Fix(2.5)", 2},
        {"Int(-2.5)", -3},   {"Int(2.5)", 2},    {"Sgn(0)", 0},           {"Sgn(-0.5)", -1},
        {"Sgn(7)", 1},       {"Exp(0)", 1},      {"Log(Exp(2))", 2},      {"Sqr(16)", 4},
        {"Cos(0)", 1},       {"Sin(0)", 0},      {"Tan(0)", 0},           {"Atn(1) * 4", M_PI},
        {"Sqr()", 1},        {"Abs(\"-4\")", 4}, {"Exp(-1000)", 0},
    };
    for (const Case& c : cases) {
        ValuePtr v = Eval(c.text);
        EXPECT_EQ(v->type(), IDT_DOUBLE) << c.text;
        EXPECT_NEAR(v->as<double>(), c.value, 1e-12) << c.text;
    }
}

TEST_F(Intrinsics, FloatingPointFaultsRaiseTheFloatingPointExceptionsNeverANaN) {
    const struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"Sqr(-1)", "FPE: Invalid Floating point operation."},
        {"Log(-1)", "FPE: Invalid Floating point operation."},
        {"Log(0)", "FPE: Floating Point Divide by Zero."},
        {"Exp(1000)", "FPE: Floating Point Overflow."},
        // A text that reads as "not a number" does not slip through either.
        {"Abs(\"nan\")", "FPE: Invalid Floating point operation."},
    };
    for (const Case& c : cases) {
        try {
            Eval(c.text);
            ADD_FAILURE() << c.text << " raised nothing";
        } catch (const FPException& e) {
            EXPECT_STREQ(e.what(), c.message) << c.text;
        }
    }
}

TEST_F(Intrinsics, RndDrawsRepeatsAndTakesANegativeArgumentAsItsNumber) {
    SetLastRandom(0);
    EXPECT_EQ(Eval("Rnd(0)")->as<double>(), 0.0) << "before any draw";
    RandomSeed(7);
    const double first = Eval("Rnd")->as<double>();
    EXPECT_GE(first, 0.0);
    EXPECT_LE(first, 1.0);
    EXPECT_EQ(Eval("Rnd(0)")->as<double>(), first);
    const double second = Eval("Rnd(1)")->as<double>();
    EXPECT_NE(second, first);
    EXPECT_DOUBLE_EQ(Eval("Rnd(-3.7)")->as<double>(), -3 * 3.0518509475997192e-05);
    EXPECT_DOUBLE_EQ(Eval("Rnd(0)")->as<double>(), -3 * 3.0518509475997192e-05);
    // The same seed gives the same series; results are multiples of 1/32767.
    RandomSeed(7);
    EXPECT_EQ(Eval("Rnd()")->as<double>(), first);
    EXPECT_EQ(Eval("Rnd()")->as<double>(), second);
    const double k = std::round(second * 32767);
    EXPECT_DOUBLE_EQ(second, k / 32767);
    SetLastRandom(0);
}

struct StringCase {
    const char* text;
    const char* result;
};

TEST_F(Intrinsics, StringFunctionsMakeTheTextsOfTheirArguments) {
    const StringCase cases[] = {
        {"LCase(\"AbC1\")", "abc1"},
        {"UCase$(\"AbC1\")", "ABC1"},
        {"Left(\"abc\", 2)", "ab"},
        {"Left(\"abc\", 5)", "abc"},
        {"Left(\"abc\", -1)", ""},
        {"Right(\"abc\", 2)", "bc"},
        {"Right(\"abc\", 9)", "abc"},
        {"Right(\"abc\", -2)", ""},
        {"Mid(\"abcdef\", 2, 3)", "bcd"},
        {"Mid(\"abcdef\", 5, 10)", "ef"},
        {"Mid(\"abcdef\", 3)", "cdef"},
        {"Mid(\"abcdef\", 0, 2)", "ab"},
        {"Mid(\"abc\", 4)", ""},
        {"Mid(\"abc\", 2, -1)", ""},
        {"LTrim(\"  a b  \")", "a b  "},
        {"RTrim(\"  a b  \")", "  a b"},
        {"Trim(\"  a b  \")", "a b"},
        {"Trim(Chr(9) & \"a \")", "\ta"},
        {"String(3, \"xy\")", "xxx"},
        {"String(3, 65)", "AAA"},  // a number is a character code, as for Chr
        {"String(-1, \"x\")", ""},
        {"String(2, \"\")", ""},
        {"Space(3)", "   "},
        {"Chr(65)", "A"},
        {"Chr(321)", "A"},
        {"Hex(255)", "FF"},
        {"Hex$(-1)", "FFFFFFFF"},
        {"Oct(8)", "10"},
        {"Str(12)", "12"},
        {"Str(2.5)", "2.5"},
    };
    for (const StringCase& c : cases) {
        ValuePtr v = Eval(c.text);
        EXPECT_EQ(v->type(), IDT_STRING) << c.text;
        EXPECT_EQ(TextOf(v), c.result) << c.text;
    }
}

struct NumberCase {
    const char* text;
    IdType type;
    double value;
};

void ExpectNumbers(const std::vector<NumberCase>& cases) {
    for (const NumberCase& c : cases) {
        ValuePtr v = Eval(c.text);
        EXPECT_EQ(v->type(), c.type) << c.text;
        EXPECT_DOUBLE_EQ(v->as<double>(), c.value) << c.text;
    }
}

TEST_F(Intrinsics, InstrFindsATextFromItsStartAndAnEmptyTextAtTheStart) {
    ExpectNumbers({
        {"Instr(\"abcabc\", \"ca\")", IDT_LONG, 3},
        {"Instr(\"abc\", \"\")", IDT_LONG, 1},
        {"Instr(3, \"abcabc\", \"\")", IDT_LONG, 3},
        {"Instr(4, \"abcabc\", \"b\")", IDT_LONG, 5},
        {"Instr(0, \"abc\", \"a\")", IDT_LONG, 1},
        {"Instr(-5, \"abc\", \"c\")", IDT_LONG, 3},
        {"Instr(10, \"abc\", \"a\")", IDT_LONG, 0},
        {"Instr(\"abc\", \"abcd\")", IDT_LONG, 0},
        {"Instr(1, \"ABC\", \"b\", 1)", IDT_LONG, 2},
        {"Instr(1, \"ABC\", \"b\", 0)", IDT_LONG, 0},
    });
}

TEST_F(Intrinsics, NumbersFromTextsLengthsCodesAndComparisons) {
    ExpectNumbers({
        {"Len(\"abc\")", IDT_LONG, 3},
        {"Len(\"\")", IDT_LONG, 0},
        {"Asc(\"A\")", IDT_LONG, 65},
        {"Asc(\"\")", IDT_LONG, 0},
        {"Val(\" 1 2 . 5 \")", IDT_DOUBLE, 12.5},
        {"Val(\"&HFF\")", IDT_DOUBLE, 255},
        {"Val(\"&hff\")", IDT_DOUBLE, 255},
        {"Val(\"&O17\")", IDT_DOUBLE, 15},
        {"Val(\"&HFFFFFFFF\")", IDT_DOUBLE, -1},
        {"Val(\"&12\")", IDT_DOUBLE, 12},
        {"Val(\"1e3x\")", IDT_DOUBLE, 1000},
        {"Val(\"-.5\")", IDT_DOUBLE, -0.5},
        {"Val(\"abc\")", IDT_DOUBLE, 0},
        {"Val(\"&H\")", IDT_DOUBLE, 0},
        // Neither the C library's words nor its hexadecimal numbers.
        {"Val(\"nan\")", IDT_DOUBLE, 0},
        {"Val(\"inf\")", IDT_DOUBLE, 0},
        {"Val(\"0x1A\")", IDT_DOUBLE, 0},
        // At most 30 characters count, after the white space went.
        {"Val(\"1 2345678901234567890123456789012\")", IDT_DOUBLE, 123456789012345678901234567890.0},
        {"StrComp(\"a\", \"b\")", IDT_LONG, -1},
        {"StrComp(\"b\", \"a\")", IDT_LONG, 1},
        {"StrComp(\"a\", \"a\")", IDT_LONG, 0},
        {"StrComp(\"a\", \"A\")", IDT_LONG, 1},
        {"StrComp(\"a\", \"A\", 1)", IDT_LONG, 0},
        {"StrComp(\"ab\", \"a\", 1)", IDT_LONG, 1},
    });
    EXPECT_EQ(FailureText([] { Eval("Val(\"1e999\")"); }), "FPE: Floating Point Overflow.");
}

TEST_F(Intrinsics, TextsWithHighBytesAndNulsAreWorkedOnByTheirLength) {
    ExpectNumbers({
        {"Len(Chr(0))", IDT_LONG, 1},
        {"Len(\"a\" & Chr(0) & \"b\")", IDT_LONG, 3},
        {"Instr(\"a\" & Chr(0) & \"b\", \"b\")", IDT_LONG, 3},
        {"Instr(\"a\" & Chr(0) & \"b\", Chr(0))", IDT_LONG, 2},
        {"Asc(Mid(\"a\" & Chr(0) & \"b\", 2))", IDT_LONG, 0},
        {"Asc(Chr(200))", IDT_LONG, 200},
        {"Asc(\"\xC3\xA9\")", IDT_LONG, 0xC3},
        {"Len(\"\xC3\xA9\")", IDT_LONG, 2},
        {"StrComp(\"a\" & Chr(0), \"a\")", IDT_LONG, 1},
        {"StrComp(Chr(200), \"z\")", IDT_LONG, 1},
        {"Instr(1, \"\xC3\x89\", \"\xC3\xA9\", 1)", IDT_LONG, 0},
        // Val reads a text as far as its first NUL.
        {"Val(\"12\" & Chr(0) & \"3\")", IDT_DOUBLE, 12},
    });
    const StringCase cases[] = {
        {"Mid(\"a\" & Chr(0) & \"bc\", 3)", "bc"},
        {"UCase(\"\xC3\xA9t\xC3\xA9\")", "\xC3\xA9T\xC3\xA9"},
        {"LCase(Chr(200) & \"A\")", "\xC8" "a"},
    };
    for (const StringCase& c : cases) EXPECT_EQ(TextOf(Eval(c.text)), c.result) << c.text;
    EXPECT_EQ(TextOf(Eval("Right(\"a\" & Chr(0) & \"b\", 2)")), std::string("\0b", 2));
    EXPECT_EQ(TextOf(Eval("Chr(0)")), std::string(1, '\0'));
}

TEST_F(Intrinsics, ColoursComeFromTheirComponentsAndTheSixteenColourTable) {
    ExpectNumbers({
        {"QBColor(9)", IDT_LONG, 0xFF0000},
        {"QBColor(0)", IDT_LONG, 0},
        {"QBColor(7)", IDT_LONG, 0xC0C0C0},
        {"QBColor(15)", IDT_LONG, 0xFFFFFF},
        {"QBColor(25)", IDT_LONG, 0xFF0000},
        {"QBColor(-1)", IDT_LONG, 0xFFFFFF},
        {"RGB(1, 2, 3)", IDT_LONG, 1 + 2 * 256 + 3 * 65536},
        {"RGB(257, 256, 511)", IDT_LONG, 1 + 0 + 255 * 65536},
        {"RGB(-1, 0, 0)", IDT_LONG, -1},
    });
}

TEST_F(Intrinsics, BoundsOfAnArrayByDimensionCountedFromOne) {
    InterObj form(named("Form"));
    InterArrayField* grid = InterArrayField::make("Grid", IDT_LONG, 2);
    grid->defineBounds(0, 1, 5);
    grid->defineBounds(1, -2, 3);
    form->addField(grid);
    addData(form.get(), "n", IDT_LONG);
    Context ctx(form.get(), 0);
    EXPECT_EQ(EvalImmediate(ctx, "LBound(Grid)")->as<int32_t>(), 1);
    EXPECT_EQ(EvalImmediate(ctx, "UBound(Grid)")->as<int32_t>(), 5);
    EXPECT_EQ(EvalImmediate(ctx, "LBound(Grid, 2)")->as<int32_t>(), -2);
    ValuePtr u = EvalImmediate(ctx, "UBound(Grid, 1 + 1)");
    EXPECT_EQ(u->type(), IDT_LONG);
    EXPECT_EQ(u->as<int32_t>(), 3);
    EXPECT_EQ(FailureText([&] { EvalImmediate(ctx, "UBound(Grid, 3)"); }), "Illegal dimension: 3");
    EXPECT_EQ(FailureText([&] { EvalImmediate(ctx, "UBound(Grid, 0)"); }), "Illegal dimension: 0");
    EXPECT_EQ(FailureText([&] { EvalImmediate(ctx, "UBound(n)"); }), "types mismatched for requested operation");
}

TEST_F(Intrinsics, IIfEvaluatesOnlyTheBranchItReturnsAndReturnsAValueOfItsOwn) {
    // Nowhere names nothing: evaluating it would fail.
    EXPECT_EQ(TextOf(Eval("IIf(1, \"yes\", Nowhere)")), "yes");
    EXPECT_EQ(Eval("IIf(0, Nowhere, 2)")->as<int32_t>(), 2);
    EXPECT_EQ(Eval("IIf(\"0\", 1, 2)")->as<int32_t>(), 2);
    EXPECT_EQ(FailureText([] { Eval("IIf(Nowhere, 1, 2)"); }), "Identifier 'Nowhere' was not found");
    InterObj form(named("Form"));
    addData(form.get(), "n", IDT_LONG);
    Context ctx(form.get(), 0);
    RunImmediate(ctx, "n = 4");
    ValuePtr v = EvalImmediate(ctx, "IIf(True, n, 0)");
    v->set(int32_t(9));
    EXPECT_EQ(EvalImmediate(ctx, "n")->as<int32_t>(), 4) << "writing IIf's result wrote the variable";
}

TEST_F(Intrinsics, ArgumentsAreEvaluatedInTheirOrder) {
    InterObj form(named("Form"));
    addData(form.get(), "s", IDT_STRING);
    Context ctx(form.get(), 0);
    // Both operands of Instr name the same text; a failing third argument
    // stops the call after the first two were evaluated.
    RunImmediate(ctx, "s = \"xyz\"");
    EXPECT_EQ(EvalImmediate(ctx, "Instr(2, s, Mid(s, 3))")->as<int32_t>(), 3);
    EXPECT_EQ(FailureText([&] { EvalImmediate(ctx, "Mid(s, 1, Nowhere)"); }), "Identifier 'Nowhere' was not found");
}

// ---- nodes from files ---------------------------------------------------------------------

std::vector<uint8_t> Bytes(const ExprPtr& e) { return std::vector<uint8_t>(e->bytes(), e->bytes() + e->size()); }

// The text with which the check of an expression's bytes fails.
std::string CheckFailure(const std::vector<uint8_t>& bytes) {
    try {
        NodeCheck c(bytes.data(), static_cast<uint32_t>(bytes.size()), "test");
        c.expression(0, static_cast<uint32_t>(bytes.size()), 0);
    } catch (const ObjectLoadFailed& e) {
        return e.objectName() ? e.objectName() : "";
    }
    return "no failure";
}

TEST_F(Intrinsics, NodesFromFilesWithUnknownFunctionsOrMissingOperandsAreRefused) {
    Program p;
    auto built = [&p](const char* text) { return Bytes(p.expression(text)); };
    for (const char* text : {"Abs(1)", "Rnd", "Left$(\"a\", 1)", "Instr(1, \"a\", \"b\", 1)", "UBound(a)",
                             "LBound(a, 2)", "RGB(1, 2, 3)", "QBColor(1)", "IIf(1, 2, 3)"})
        EXPECT_EQ(CheckFailure(built(text)), "no failure") << text;

    std::vector<uint8_t> math13 = built("Abs(1)");
    StoreLE32(&math13[7], 13);
    std::vector<uint8_t> mathFlagged = built("Abs(1)");
    mathFlagged[6] |= IntrMath::kNoArgument;
    std::vector<uint8_t> lcaseUnclassed = built("LCase(\"a\")");
    StoreLE32(&lcaseUnclassed[7], 3);
    // Left with its second argument unflagged and cut away.
    std::vector<uint8_t> leftAlone = built("Left(\"a\", 1)");
    leftAlone[6] &= static_cast<uint8_t>(~IntrString::kArg2);
    leftAlone.resize(leftAlone.size() - 11);
    StoreLE32(&leftAlone[2], static_cast<uint32_t>(leftAlone.size()));
    std::vector<uint8_t> gap = built("Instr(1, \"a\", \"b\", 1)");
    gap[6] &= static_cast<uint8_t>(~IntrString::kArg3);
    std::vector<uint8_t> rgbShort = built("RGB(1, 2, 3)");
    rgbShort.resize(rgbShort.size() - 22);
    StoreLE32(&rgbShort[2], static_cast<uint32_t>(rgbShort.size()));
    std::vector<uint8_t> color3 = built("QBColor(1)");
    StoreLE32(&color3[7], 3);
    std::vector<uint8_t> bound0 = built("UBound(a)");
    bound0[7] = 0;
    std::vector<uint8_t> boundNoDim = built("UBound(a, 1)");
    boundNoDim[6] |= IntrBound::kNoDimension;
    std::vector<uint8_t> iif2 = built("IIf(1, 2, 3)");
    iif2.resize(iif2.size() - 11);
    StoreLE32(&iif2[2], static_cast<uint32_t>(iif2.size()));
    const struct Case {
        std::vector<uint8_t> bytes;
        const char* text;
    } cases[] = {
        {math13, "test: unknown math function 13 at offset 0"},
        {mathFlagged, "test: the size of IntrMath does not match what it holds at offset 11"},
        {lcaseUnclassed, "test: unknown string function 3 at offset 0"},
        {leftAlone, "test: Left takes 2 to 2 arguments, not 1 at offset 0"},
        {gap, "test: the arguments of a string function have a gap at offset 0"},
        {rgbShort, "test: an expression runs past its parent at offset 22"},
        {color3, "test: unknown colour function 3 at offset 0"},
        {bound0, "test: unknown bound function 0 at offset 0"},
        {boundNoDim, "test: the size of IntrBound does not match what it holds at offset 18"},
        {iif2, "test: an expression runs past its parent at offset 29"},
    };
    for (const Case& c : cases) EXPECT_EQ(CheckFailure(c.bytes), c.text);
}

TEST(APIErrorStash, KeepsTheLastSystemErrorUntilTheNextStash) {
    SetLastSystemError(13);
    EXPECT_EQ(StashLastAPIErrorCode(), 13u);
    SetLastSystemError(2);
    EXPECT_EQ(RetrieveStashedAPIErrorCode(), 13u);
    SetStashedAPIErrorCode(5);
    EXPECT_EQ(RetrieveStashedAPIErrorCode(), 5u);
    EXPECT_EQ(LastSystemError(), 5);
    SetStashedAPIErrorCode(0);
}

}  // namespace
}  // namespace tq
