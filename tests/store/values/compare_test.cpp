// Comparison and logic of values: text against numeric comparison, the
// truth values -1 and 0, and the six logic operations.
#include <gtest/gtest.h>

#include <cmath>

#include "valtest.h"

namespace tq {
namespace {

using namespace tq::test;

struct Relations {
    int32_t gt, lt, eq, ne, ge, le;
};

Relations Compare(const Value& a, const Value& b) {
    return {a > b, a < b, a == b, a != b, a >= b, a <= b};
}

void ExpectRelations(const Value& a, const Value& b, Relations want) {
    const Relations got = Compare(a, b);
    EXPECT_EQ(got.gt, want.gt) << ">";
    EXPECT_EQ(got.lt, want.lt) << "<";
    EXPECT_EQ(got.eq, want.eq) << "=";
    EXPECT_EQ(got.ne, want.ne) << "<>";
    EXPECT_EQ(got.ge, want.ge) << ">=";
    EXPECT_EQ(got.le, want.le) << "<=";
}

constexpr Relations kLess{0, -1, 0, -1, 0, -1};
constexpr Relations kEqual{0, 0, -1, 0, -1, -1};
constexpr Relations kGreater{-1, 0, 0, -1, -1, 0};

TEST(ValueComparison, TwoStringsCompareAsText) {
    EXPECT_EQ(*Str("10") < *Str("9"), -1);
    ExpectRelations(*Str("abc"), *Str("abd"), kLess);
    ExpectRelations(*Str("abc"), *Str("abc"), kEqual);
    ExpectRelations(*Str("b"), *Str("a"), kGreater);
    ExpectRelations(*Str("B"), *Str("a"), kLess);  // case counts
    ExpectRelations(*Str(""), *Str("a"), kLess);
    ExpectRelations(*Str("1.0"), *Str("1"), kGreater);
}

TEST(ValueComparison, AnythingElseComparesAsNumbers) {
    EXPECT_EQ(*Str("10") < *Int(9), 0);
    EXPECT_EQ(*Int(9) < *Str("10"), -1);
    ExpectRelations(*Int(3), *Dbl(3.0), kEqual);
    ExpectRelations(*Cur(1.25), *Dbl(1.25), kEqual);
    ExpectRelations(*Str("1.0"), *Lng(1), kEqual);
    ExpectRelations(*Lng(-1), *Sgl(0.5f), kLess);
    ExpectRelations(*Cur(2), *Int(1), kGreater);
    EXPECT_STORE_FAILURE_TEXT((void)(*Str("abc") == *Int(3)), ConvertFailed,
                              "Conversion to type Double failed");
}

TEST(ValueComparison, NaNIsUnequalToEverything) {
    ValuePtr nan = Dbl(std::nan(""));
    ExpectRelations(*nan, *nan, Relations{0, 0, 0, -1, 0, 0});
}

TEST(ValueLogic, WorksBitByBitOnLongs) {
    EXPECT_EQ(~*Int(0), -1);
    EXPECT_EQ(~*Lng(-1), 0);
    EXPECT_EQ(Int(-1)->imp(*Int(0)), 0);
    EXPECT_EQ(Int(0)->imp(*Int(0)), -1);
    EXPECT_EQ(Int(-1)->imp(*Int(-1)), -1);
    EXPECT_EQ(*Int(5) & *Int(3), 1);
    EXPECT_EQ(*Int(5) | *Int(3), 7);
    EXPECT_EQ(*Int(5) ^ *Int(3), 6);
    EXPECT_EQ(Int(-1)->eqv(*Int(0)), 0);
    EXPECT_EQ(Int(0)->eqv(*Int(0)), -1);
    EXPECT_EQ(Lng(5)->eqv(*Lng(3)), ~6);
    // Operands are read as Longs: 3.9 is 3, "6" is 6, Currency 2.5 is 2.
    EXPECT_EQ(*Dbl(3.9) & *Int(1), 1);
    EXPECT_EQ(*Str("6") & *Int(3), 2);
    EXPECT_EQ(*Cur(2.5) | *Int(1), 3);
    EXPECT_EQ(*Lng(0x7FFF0000) & *Lng(-65536), 0x7FFF0000);
    EXPECT_THROW((void)(*Str("yes") & *Int(1)), ConvertFailed);
}

}  // namespace
}  // namespace tq
