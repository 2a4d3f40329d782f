#include "platform/util/regexp.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/util/xexcept.h"

namespace tq {
namespace {

using namespace std::string_literals;

TEST(RWCRegexp, ABadPatternRaisesWithThePatternAndTheReason) {
    for (const char* bad : {"a(", "[z-a]", "*a{", "a{2,1}"}) {
        try {
            RWCRegexp re(bad);
            ADD_FAILURE() << "'" << bad << "' compiled";
        } catch (const XException& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find("'"s + bad + "'"), std::string::npos) << text;
            EXPECT_GT(text.size(), std::string(bad).size() + 30) << "no reason given: " << text;
        }
    }
}

TEST(RWCRegexp, FindsTheFirstMatchAtOrAfterThePosition) {
    const RWCRegexp re("[0-9]+");
    const std::string text = "ab12cd345";
    size_t len = 0;
    EXPECT_EQ(re.index(text, &len), 2u);
    EXPECT_EQ(len, 2u);
    EXPECT_EQ(re.index(text, &len, 3), 3u);  // inside a run: the rest of it
    EXPECT_EQ(len, 1u);
    EXPECT_EQ(re.index(text, &len, 4), 6u);
    EXPECT_EQ(len, 3u);
    EXPECT_EQ(re.index(text, &len, 9), RWCRegexp::npos);
    EXPECT_EQ(re.index(text, &len, 100), RWCRegexp::npos);
    EXPECT_EQ(re.index("", &len), RWCRegexp::npos);
}

TEST(RWCRegexp, TheTextBeforeTheStartIsContext) {
    const RWCRegexp anchored("^a");
    size_t len = 0;
    EXPECT_EQ(anchored.index("aaa", &len, 0), 0u);
    EXPECT_EQ(anchored.index("aaa", &len, 1), RWCRegexp::npos);
    const RWCRegexp end("a$");
    EXPECT_EQ(end.index("aXa", &len, 1), 2u);
}

TEST(RWCRegexp, TheSearchGoesOnPastNulBytes) {
    const std::string text("a\0b\0c"s);
    size_t len = 0;
    EXPECT_EQ(RWCRegexp("b").index(text, &len), 2u);
    EXPECT_EQ(RWCRegexp("c$").index(text, &len, 3), 4u);
    EXPECT_EQ(RWCRegexp("[a-c]").countMatches(text), 3u);
}

TEST(RWCRegexp, CountsNonOverlappingMatches) {
    EXPECT_EQ(RWCRegexp("a").countMatches("banana"), 3u);
    EXPECT_EQ(RWCRegexp("ana").countMatches("banana"), 1u);
    EXPECT_EQ(RWCRegexp("an|na").countMatches("banana"), 2u);
    EXPECT_EQ(RWCRegexp("x").countMatches("banana"), 0u);
    EXPECT_EQ(RWCRegexp("a").countMatches(""), 0u);
}

TEST(RWCRegexp, CountingStepsPastEmptyMatches) {
    // Empty at 0, "aaa" at 1, empty at 4; the end of the text stops the count.
    EXPECT_EQ(RWCRegexp("a*").countMatches("baaac"), 3u);
    EXPECT_EQ(RWCRegexp("").countMatches("abc"), 3u);
    EXPECT_EQ(RWCRegexp(nullptr).countMatches("abc"), 3u);
    EXPECT_EQ(RWCRegexp("^").countMatches("abc"), 1u);
    // A match found from a position inside the text counts even where it
    // lies at the very end.
    EXPECT_EQ(RWCRegexp("$").countMatches("abc"), 1u);
}

TEST(RWCRegexp, CopiesAreIndependentAndAMovedFromOneMatchesNothing) {
    RWCRegexp a("x+");
    RWCRegexp b(a);
    RWCRegexp c("y");
    c = a;
    { RWCRegexp gone(std::move(a)); }
    size_t len = 0;
    EXPECT_EQ(b.index("zzxx", &len), 2u);
    EXPECT_EQ(c.index("zzxx", &len), 2u);
    EXPECT_EQ(c.pattern(), "x+");
    EXPECT_EQ(a.index("xx", &len), RWCRegexp::npos);  // NOLINT(bugprone-use-after-move)
    a = b;
    EXPECT_EQ(a.index("xx", &len), 0u);
}

}  // namespace
}  // namespace tq
