#include "platform/util/strutil.h"

#include <gtest/gtest.h>

namespace tq {
namespace {

TEST(SmartStrcmp, OrdersBytesCaseSensitivelyAsUnsignedValues) {
    EXPECT_LT(smart_strcmp("abc", "abd"), 0);
    EXPECT_GT(smart_strcmp("abd", "abc"), 0);
    EXPECT_EQ(smart_strcmp("abc", "abc"), 0);
    EXPECT_LT(smart_strcmp("ab", "abc"), 0);
    EXPECT_LT(smart_strcmp("B", "a"), 0);
    EXPECT_NE(smart_strcmp("a", "A"), 0);
    EXPECT_GT(smart_strcmp("\xE9", "z"), 0);  // bytes above 127 sort last
    EXPECT_LT(smart_strcmp("10", "9"), 0);     // text, not numbers
}

TEST(SmartStrcmp, NullIsTheEmptyString) {
    EXPECT_EQ(smart_strcmp(nullptr, nullptr), 0);
    EXPECT_EQ(smart_strcmp(nullptr, ""), 0);
    EXPECT_LT(smart_strcmp(nullptr, "a"), 0);
    EXPECT_GT(smart_strcmp("a", nullptr), 0);
}

TEST(CompareIgnoringCase, FoldsAsciiLettersOnly) {
    EXPECT_EQ(CompareIgnoringCase("Forms.QBO", "forms.qbo"), 0);
    EXPECT_LT(CompareIgnoringCase("abc", "ABD"), 0);
    EXPECT_LT(CompareIgnoringCase("ab", "AB c"), 0);
    EXPECT_NE(CompareIgnoringCase("\xC9", "\xE9"), 0);
    EXPECT_NE(CompareIgnoringCase("[", "{"), 0);  // not letters: no folding
    EXPECT_EQ(CompareIgnoringCase(std::string_view("a\0B", 3), std::string_view("A\0b", 3)), 0);
}

}  // namespace
}  // namespace tq
