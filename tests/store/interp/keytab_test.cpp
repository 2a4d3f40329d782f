#include "store/interp/keytab.h"

#include <gtest/gtest.h>

#include <string>

namespace tq {
namespace {

TEST(KeywordTable, WordsMapToTheirTokensWithoutRegardToCase) {
    EXPECT_EQ(KeyTabStringToId("Dim"), 277);
    EXPECT_EQ(KeyTabStringToId("DIM"), 277);
    EXPECT_EQ(KeyTabStringToId("embeddedin"), 336);
    EXPECT_EQ(KeyTabStringToId("Is"), 393);
    EXPECT_EQ(KeyTabStringToId("String"), 271);
    EXPECT_EQ(KeyTabStringToId("Caption"), kIdentifierToken);
    EXPECT_EQ(KeyTabStringToId(""), kIdentifierToken);
    EXPECT_EQ(KeyTabStringToId(nullptr), kIdentifierToken);
}

TEST(KeywordTable, OnlyTheFirstSixteenCharactersCount) {
    // A long word whose start is a keyword is still an identifier.
    EXPECT_EQ(KeyTabStringToId("integerintegerinteger"), kIdentifierToken);
}

TEST(KeywordTable, TokenNumbersGiveTheirTextBack) {
    for (int token = 266; token <= 393; ++token) {
        const char* text = KeyTabIdToString(token);
        if (!text) continue;
        EXPECT_EQ(KeyTabStringToId(text), token) << text;
    }
    EXPECT_STREQ(KeyTabIdToString(283), "new");
    EXPECT_EQ(KeyTabIdToString(276), nullptr);
    EXPECT_EQ(KeyTabIdToString(265), nullptr);
}

TEST(IdentifierValidity, AcceptsNamesAndLeftButNoOtherKeyword) {
    EXPECT_TRUE(IsIdentifierValid("Left"));
    EXPECT_TRUE(IsIdentifierValid("LEFT"));
    EXPECT_TRUE(IsIdentifierValid("x_1"));
    EXPECT_TRUE(IsIdentifierValid("Form1"));
    EXPECT_FALSE(IsIdentifierValid("1x"));
    EXPECT_FALSE(IsIdentifierValid("next"));
    EXPECT_FALSE(IsIdentifierValid("Right"));
    EXPECT_FALSE(IsIdentifierValid(""));
    EXPECT_FALSE(IsIdentifierValid(nullptr));
    EXPECT_FALSE(IsIdentifierValid("_x"));
    EXPECT_FALSE(IsIdentifierValid("a b"));
    EXPECT_FALSE(IsIdentifierValid("a.b"));
    EXPECT_FALSE(IsIdentifierValid("na\xE9ve"));
}

}  // namespace
}  // namespace tq
