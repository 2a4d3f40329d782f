#include "platform/util/utfconv.h"

#include <gtest/gtest.h>

namespace tq {
namespace {

TEST(UtfConversion, RoundTripsEveryEncodingLengthAndTheEdgesOfTheCodeSpace) {
    const struct {
        const char* utf8;
        std::u16string utf16;
    } cases[] = {
        {"", u""},
        {"Objects", u"Objects"},
        {"\x7F", u"\x7F"},                                  // last one-byte form
        {"\xC2\x80", u"\x80"},                              // first two-byte form
        {"caf\xC3\xA9", u"caf\xE9"},
        {"\xDF\xBF", u"\x7FF"},
        {"\xE0\xA0\x80", u"\x800"},                         // first three-byte form
        {"\xED\x9F\xBF", u"\xD7FF"},                        // just below the surrogates
        {"\xEE\x80\x80", u"\xE000"},                        // just above them
        {"\xEF\xBF\xBF", u"\xFFFF"},
        {"\xF0\x90\x80\x80", u"\xD800\xDC00"},              // U+10000: the first pair
        {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},              // U+10FFFF: the last one
        {"\x05SummaryInformation", u"\x05SummaryInformation"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(Utf16ToUtf8(c.utf16), std::string(c.utf8)) << c.utf8;
    }
    // NUL is a character here; the callers decide about it.
    EXPECT_EQ(Utf8ToUtf16(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(UtfConversion, RefusesMalformedUtf8Whole) {
    for (const char* bad : {
             "\x80",              // a continuation byte alone
             "a\xBF",             // ... after a character
             "\xC3",              // a lead byte cut off
             "\xE2\x82",          // a three-byte form cut off
             "\xC3(",             // a lead byte without its continuation
             "\xC0\x80",          // overlong NUL
             "\xC1\xBF",          // overlong two-byte form
             "\xE0\x9F\xBF",      // overlong three-byte form
             "\xF0\x8F\xBF\xBF",  // overlong four-byte form
             "\xED\xA0\x80",      // an encoded high surrogate
             "\xED\xBF\xBF",      // an encoded low surrogate
             "\xF4\x90\x80\x80",  // above U+10FFFF
             "\xF8\x88\x80\x80\x80",
             "\xFF",
         })
        EXPECT_EQ(Utf8ToUtf16(bad), std::nullopt) << ::testing::PrintToString(std::string(bad));
}

TEST(UtfConversion, RefusesUnpairedSurrogatesInUtf16) {
    for (const std::u16string& bad : {
             std::u16string(u"\xD800"),           // a high one at the end
             std::u16string(u"\xD800x"),          // a high one before a character
             std::u16string(u"\xD800\xD800\xDC00"),  // a high one before another pair
             std::u16string(u"\xDC00"),           // a low one alone
             std::u16string(u"a\xDFFF\xD800"),    // a pair in the wrong order
         })
        EXPECT_EQ(Utf16ToUtf8(bad), std::nullopt);
}

}  // namespace
}  // namespace tq
