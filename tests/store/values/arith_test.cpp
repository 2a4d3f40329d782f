// Arithmetic of values: result types, promotion in both directions, the
// integer division family, and the floating-point faults.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "store/valops.h"
#include "valtest.h"

namespace tq {
namespace {

using namespace tq::test;

TEST(ValueArithmetic, ResultTakesTheLargerTypeCode) {
    EXPECT_VALUE(*Int(2) + *Dbl(0.5), IDT_DOUBLE, double, 2.5);
    EXPECT_VALUE(*Dbl(0.5) + *Int(2), IDT_DOUBLE, double, 2.5);
    EXPECT_VALUE(*Int(2) * *Lng(3), IDT_LONG, int32_t, 6);
    EXPECT_VALUE(*Lng(3) - *Sgl(0.5f), IDT_FLOAT, float, 2.5f);
    EXPECT_VALUE(*Cur(1.25) + *Int(2), IDT_CURRENCY, Currency, Currency(3.25));
    EXPECT_VALUE(*Dbl(1.5) * *Cur(2.0), IDT_CURRENCY, Currency, Currency(3.0));
}

TEST(ValueArithmetic, IntegerDivisionOfIntegersTruncatesToAnInteger) {
    EXPECT_VALUE(*Int(7) / *Int(2), IDT_SHORT, int16_t, 3);
    EXPECT_VALUE(*Int(-7) / *Int(2), IDT_SHORT, int16_t, -3);
    EXPECT_VALUE(*Lng(7) / *Lng(2), IDT_LONG, int32_t, 3);
    EXPECT_VALUE(*Dbl(7) / *Int(2), IDT_DOUBLE, double, 3.5);
}

TEST(ValueArithmetic, PositiveOverflowPromotesToTheNextTypeThatHoldsIt) {
    EXPECT_VALUE(*Int(30000) + *Int(30000), IDT_LONG, int32_t, 60000);
    EXPECT_VALUE(*Int(32767) * *Int(32767), IDT_LONG, int32_t, 1073676289);
    EXPECT_VALUE(*Lng(2147483647) + *Lng(1), IDT_FLOAT, float, 2147483648.0f);
    EXPECT_VALUE(*Sgl(3e38f) + *Sgl(3e38f), IDT_DOUBLE, double, double(3e38f) * 2);
    // The bounds themselves stay in their type.
    EXPECT_VALUE(*Int(32766) + *Int(1), IDT_SHORT, int16_t, 32767);
    EXPECT_VALUE(*Lng(2147483646) + *Lng(1), IDT_LONG, int32_t, 2147483647);
}

TEST(ValueArithmetic, NegativeOverflowPromotesAsPositiveOverflowDoes) {
    EXPECT_VALUE(*Int(-30000) - *Int(30000), IDT_LONG, int32_t, -60000);
    EXPECT_VALUE(*Int(-32767) - *Int(1), IDT_SHORT, int16_t, -32768);
    EXPECT_VALUE(*Int(-32768) - *Int(1), IDT_LONG, int32_t, -32769);
    EXPECT_VALUE(*Lng(-2147483647 - 1) - *Lng(1), IDT_FLOAT, float, -2147483649.0f);
    EXPECT_VALUE(*Sgl(-3e38f) - *Sgl(3e38f), IDT_DOUBLE, double, double(-3e38f) * 2);
    // Negating the smallest Integer, as the unary minus does, needs a Long.
    EXPECT_VALUE(*Int(-1) * *Int(-32768), IDT_LONG, int32_t, 32768);
}

TEST(ValueArithmetic, StringsAreReadAsNumbersAndGiveAString) {
    ValuePtr sum = *Str("2") + *Str("3");
    EXPECT_EQ(sum->type(), IDT_STRING);
    EXPECT_EQ(TextOf(*sum), "5");
    EXPECT_EQ(TextOf(*(*Str("2") + *Int(3))), "5");
    EXPECT_EQ(TextOf(*(*Str("1.5") * *Cur(2))), "3");
    EXPECT_STORE_FAILURE_TEXT(*Str("abc") + *Int(1), ConvertFailed,
                              "Conversion to type Double failed");
    EXPECT_STORE_FAILURE_TEXT(*Int(1) - *Str("abc"), ConvertFailed,
                              "Conversion to type Double failed");
}

TEST(ValueArithmetic, ConcatenationJoinsTheTextForms) {
    EXPECT_EQ(TextOf(*ValueConcat(*Str("a"), *Lng(1))), "a1");
    EXPECT_EQ(TextOf(*ValueConcat(*Dbl(0.5), *Str(""))), "0.5");
    EXPECT_EQ(ValueConcat(*Int(1), *Int(2))->type(), IDT_STRING);
}

TEST(ValueArithmetic, IntDivModAndPowerHaveFixedResultTypes) {
    EXPECT_VALUE(Int(7)->intDiv(*Int(2)), IDT_LONG, int32_t, 3);
    EXPECT_VALUE(*Int(7) % *Int(2), IDT_LONG, int32_t, 1);
    EXPECT_VALUE(Int(2)->exp(*Int(3)), IDT_DOUBLE, double, 8.0);
    EXPECT_VALUE(Lng(-7)->intDiv(*Lng(2)), IDT_LONG, int32_t, -3);
    EXPECT_VALUE(*Lng(-7) % *Lng(2), IDT_LONG, int32_t, -1);
    EXPECT_VALUE(*Lng(7) % *Lng(-2), IDT_LONG, int32_t, 1);
    // Both operands are read as Longs first: 7.9 \ 2 is 7 \ 2.
    EXPECT_VALUE(Dbl(7.9)->intDiv(*Int(2)), IDT_LONG, int32_t, 3);
    EXPECT_VALUE(*Cur(7.5) % *Cur(2), IDT_LONG, int32_t, 1);
    EXPECT_VALUE(Str("9")->exp(*Dbl(0.5)), IDT_DOUBLE, double, 3.0);
}

TEST(ValueArithmetic, ZeroDivisorOfIntDivAndModIsADivisionFailure) {
    EXPECT_STORE_FAILURE(Lng(7)->intDiv(*Lng(0)), MathError, 32715u);
    EXPECT_STORE_FAILURE(*Lng(7) % *Int(0), MathError, 32715u);
    // 0.4 reads as the Long 0.
    EXPECT_STORE_FAILURE(Lng(7)->intDiv(*Dbl(0.4)), MathError, 32715u);
    EXPECT_EQ(std::string(Message(32715)), "Division by zero.");
}

TEST(ValueArithmetic, SmallestLongByMinusOneIsDefined) {
    EXPECT_STORE_FAILURE(Lng(INT32_MIN)->intDiv(*Lng(-1)), FPException, 32707u);
    EXPECT_VALUE(*Lng(INT32_MIN) % *Lng(-1), IDT_LONG, int32_t, 0);
    EXPECT_VALUE(*Lng(INT32_MIN) % *Lng(1), IDT_LONG, int32_t, 0);
    EXPECT_VALUE(Lng(INT32_MIN)->intDiv(*Lng(1)), IDT_LONG, int32_t, INT32_MIN);
}

TEST(ValueArithmetic, FloatingDivisionByZeroIsAnFPException) {
    EXPECT_STORE_FAILURE(*Dbl(1) / *Dbl(0), FPException, 32704u);
    EXPECT_STORE_FAILURE(*Int(0) / *Int(0), FPException, 32704u);
    EXPECT_STORE_FAILURE(*Dbl(1) / *Dbl(-0.0), FPException, 32704u);
    EXPECT_STORE_FAILURE(Dbl(0)->exp(*Int(-1)), FPException, 32704u);
    try {
        (void)(*Dbl(1) / *Dbl(0));
    } catch (const FPException& e) {
        EXPECT_STREQ(e.what(), "FPE: Floating Point Divide by Zero.");
        EXPECT_STREQ(e.name(), "FPException");
    }
}

TEST(ValueArithmetic, FiniteOperationsThatOverflowOrGiveNaNAreFPExceptions) {
    EXPECT_STORE_FAILURE(*Dbl(1e308) * *Dbl(10), FPException, 32703u);
    EXPECT_STORE_FAILURE(*Dbl(-1e308) - *Dbl(1e308), FPException, 32703u);
    EXPECT_STORE_FAILURE(*Dbl(1e300) / *Dbl(1e-300), FPException, 32703u);
    EXPECT_STORE_FAILURE(Dbl(10)->exp(*Dbl(400)), FPException, 32703u);
    EXPECT_STORE_FAILURE(Dbl(-8)->exp(*Dbl(0.5)), FPException, 32705u);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_STORE_FAILURE(*Dbl(inf) - *Dbl(inf), FPException, 32705u);
    EXPECT_STORE_FAILURE(*Dbl(std::nan("")) + *Dbl(1), FPException, 32705u);
    // An infinity that was already there is not a new overflow.
    EXPECT_VALUE(*Dbl(inf) + *Dbl(1), IDT_DOUBLE, double, inf);
    // Nor is a Single result too large for a Single: it becomes a Double.
    EXPECT_VALUE(*Sgl(3e38f) * *Sgl(3e38f), IDT_DOUBLE, double, double(3e38f) * double(3e38f));
}

TEST(ValueArithmetic, OperandsStayAsTheyWereAndResultsAreNewValues) {
    ValuePtr a = Int(30000);
    ValuePtr b = Int(30000);
    ValuePtr sum = *a + *b;
    EXPECT_NE(sum.get(), a.get());
    EXPECT_EQ(a->as<int16_t>(), 30000);
    EXPECT_EQ(b->as<int16_t>(), 30000);
    EXPECT_EQ(a->refCount(), 1);
    EXPECT_EQ(sum->refCount(), 1);
}

TEST(ValueArithmetic, AFailedOperationLeavesOperandsAndLeaksNothing) {
    ValuePtr a = Str("12");
    ValuePtr bad = Str("twelve");
    ValuePtr zero = Lng(0);
    const size_t before = Value::LiveCount();
    EXPECT_THROW((void)(*a + *bad), ConvertFailed);
    EXPECT_THROW((void)(*bad * *a), ConvertFailed);
    EXPECT_THROW((void)(*a / *zero), FPException);
    EXPECT_THROW((void)(a->intDiv(*zero)), MathError);
    EXPECT_THROW((void)(*a % *zero), MathError);
    EXPECT_THROW((void)(*zero < *bad), ConvertFailed);
    EXPECT_EQ(Value::LiveCount(), before);
    EXPECT_EQ(TextOf(*a), "12");
    EXPECT_EQ(TextOf(*bad), "twelve");
    EXPECT_EQ(a->refCount(), 1);
}

}  // namespace
}  // namespace tq
