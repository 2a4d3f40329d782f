#include "store/currency.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "store/errors/extexcep.h"

namespace tq {
namespace {

TEST(Currency, HoldsTheAmountInHundredths) {
    EXPECT_EQ(Currency().hundredths(), 0.0);
    EXPECT_EQ(Currency(1.25).hundredths(), 125.0);
    EXPECT_EQ(Currency(1.25f).hundredths(), 125.0);
    EXPECT_EQ(Currency(int16_t(-7)).hundredths(), -700.0);
    EXPECT_EQ(Currency(int32_t(2147483647)).hundredths(), 214748364700.0) << "no 32-bit overflow";
    EXPECT_EQ(Currency(0.125).hundredths(), 12.5) << "no rounding to whole hundredths";
}

TEST(Currency, ReadsBackAsNumbersTruncatingTowardZero) {
    const Currency c(1.25);
    EXPECT_EQ(static_cast<double>(c), 1.25);
    EXPECT_EQ(static_cast<float>(c), 1.25f);
    EXPECT_EQ(static_cast<int32_t>(c), 1);
    EXPECT_EQ(static_cast<int32_t>(Currency(-3.99)), -3);
    EXPECT_EQ(static_cast<int16_t>(Currency(int32_t(70000))), int16_t(70000 & 0xFFFF));
}

TEST(Currency, ArithmeticWorksOnAmounts) {
    EXPECT_EQ((Currency(2.5) + Currency(0.25)).hundredths(), 275.0);
    EXPECT_EQ((Currency(2.5) - Currency(3.0)).hundredths(), -50.0);
    EXPECT_EQ((Currency(2.5) * Currency(4.0)).hundredths(), 1000.0);
    EXPECT_EQ((Currency(7.5) / Currency(2.5)).hundredths(), 300.0);
    EXPECT_TRUE(Currency(1.0) < Currency(1.01));
    EXPECT_TRUE(Currency(2.0) == Currency(int32_t(2)));
    EXPECT_TRUE(Currency(2.0) >= Currency(2.0));
}

TEST(Currency, WholeNumberDivisionAndRemainderWorkInHundredths) {
    EXPECT_EQ(Currency(7.5).intDiv(Currency(2.0)), 3);
    EXPECT_EQ(Currency(-7.5).intDiv(Currency(2.0)), -3);
    EXPECT_EQ((Currency(7.5) % Currency(2.0)).hundredths(), 150.0);
    EXPECT_EQ((Currency(-7.5) % Currency(2.0)).hundredths(), -150.0);
    const Currency lowest = Currency::FromHundredths(-2147483648.0);
    EXPECT_EQ(lowest.intDiv(Currency::FromHundredths(-1)), -2147483647 - 1) << "wraps, no trap";
    try {
        Currency(1.0).intDiv(Currency(0.001));
        FAIL() << "a divisor that truncates to 0 hundredths was used";
    } catch (const MathError& e) {
        EXPECT_STREQ(e.what(), "Division by zero.");
    }
    EXPECT_THROW(Currency(1.0) % Currency(), MathError);
}

TEST(Currency, BitOperatorsCombineTheTruncatedHundredths) {
    EXPECT_EQ(Currency(0.05) & Currency(0.03), 1);
    EXPECT_EQ(Currency(0.05) | Currency(0.03), 7);
    EXPECT_EQ(Currency(0.05) ^ Currency(0.03), 6);
    EXPECT_EQ(~Currency(), -1);
}

TEST(TruncateToLong, IsDefinedForEveryDouble) {
    EXPECT_EQ(TruncateToLong(2.9), 2);
    EXPECT_EQ(TruncateToLong(-2.9), -2);
    EXPECT_EQ(TruncateToLong(4294967295.0), -1);
    EXPECT_EQ(TruncateToLong(2147483648.0), -2147483647 - 1);
    EXPECT_EQ(TruncateToLong(-2147483649.0), 2147483647);
    EXPECT_EQ(TruncateToLong(std::nan("")), 0);
    EXPECT_EQ(TruncateToLong(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(TruncateToLong(1e300), TruncateToLong(1e300)) << "a defined value";
}

}  // namespace
}  // namespace tq
