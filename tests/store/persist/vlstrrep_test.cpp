#include "store/persist/vlstrrep.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/util/regexp.h"
#include "store/errors/extexcep.h"
#include "tests/store/persist/persisttest.h"
#include "tests/support/asserts.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

using test::Strings;
using test::TestModule;

int32_t AsLong(const char* text) { return static_cast<int32_t>(ValString(text)); }

TEST(ValStringText, NullTextGivesAHandleToTheEmptyString) {
    ValString s(static_cast<const char*>(nullptr));
    EXPECT_FALSE(s.isNull());
    EXPECT_STREQ(s, "");
    EXPECT_EQ(s->refCount(), 1);
    EXPECT_TRUE(s.isDetached());
}

TEST(ValStringText, NullHandleConvertsToZeroAndNullText) {
    ValString s;
    EXPECT_EQ(static_cast<int32_t>(s), 0);
    EXPECT_EQ(static_cast<double>(s), 0.0);
    EXPECT_EQ(static_cast<Currency>(s), Currency());
    EXPECT_EQ(static_cast<const char*>(s), nullptr);
}

TEST(ValStringToInteger, DecimalComesFirstThenHexAndCRules) {
    EXPECT_EQ(AsLong("&hFF"), 255);
    EXPECT_EQ(AsLong("&HffFF"), 65535);
    EXPECT_EQ(AsLong("0x1F"), 31);
    EXPECT_EQ(AsLong("017"), 17);
    EXPECT_EQ(AsLong("1e3"), 1000);
    EXPECT_EQ(AsLong(" 12"), 12);
    EXPECT_EQ(AsLong(""), 0);
    EXPECT_EQ(AsLong("-3.9"), -3);
    EXPECT_EQ(AsLong("&HFFFFFFFF"), -1);
    EXPECT_EQ(AsLong("4294967295"), -1) << "low 32 bits, as for the hexadecimal form";
    EXPECT_EQ(static_cast<int16_t>(ValString("70000")), int16_t(70000 & 0xFFFF));
}

TEST(ValStringToInteger, TextThatIsNoNumberFailsWithItsType) {
    try {
        AsLong("12 ");
        FAIL() << "trailing blank accepted";
    } catch (const ConvertFailed& e) {
        EXPECT_EQ(e.type(), IDT_LONG);
        EXPECT_STREQ(e.what(), "Conversion to type Long failed");
    }
    try {
        static_cast<void>(static_cast<int16_t>(ValString("&HZZ")));
        FAIL() << "bad hexadecimal accepted";
    } catch (const ConvertFailed& e) {
        EXPECT_EQ(e.type(), IDT_SHORT);
    }
}

TEST(ValStringToFloat, AcceptsOnlyWhatStrtodReadsWhole) {
    EXPECT_EQ(static_cast<float>(ValString("2.5")), 2.5f);
    EXPECT_EQ(static_cast<float>(ValString("1e300")), HUGE_VALF);
    try {
        static_cast<void>(static_cast<float>(ValString("abc")));
        FAIL();
    } catch (const ConvertFailed& e) {
        EXPECT_EQ(e.type(), IDT_FLOAT);
        EXPECT_STREQ(e.what(), "Conversion to type Single failed");
    }
    EXPECT_THROW(static_cast<void>(static_cast<float>(ValString("&H10"))), ConvertFailed);
}

TEST(ValStringToDouble, FallsBackToMoneyTextAndFailsWithDouble) {
    EXPECT_EQ(static_cast<double>(ValString("0.5")), 0.5);
    EXPECT_THROW(static_cast<void>(static_cast<double>(ValString("five"))), ConvertFailed);
    try {
        static_cast<void>(static_cast<Currency>(ValString("five")));
        FAIL();
    } catch (const ConvertFailed& e) {
        EXPECT_EQ(e.type(), IDT_CURRENCY);
    }
}

TEST(ValStringFromNumber, DigitsAreTheShortestThatReadBackInPercentGLayout) {
    EXPECT_STREQ(ValString(0.5), "0.5");
    EXPECT_STREQ(ValString(0.1), "0.1");
    EXPECT_STREQ(ValString(1e20), "100000000000000000000");
    EXPECT_STREQ(ValString(1e64), "1e+64");
    EXPECT_STREQ(ValString(1.5e-5), "1.5e-05");
    EXPECT_STREQ(ValString(0.0001), "0.0001");
    EXPECT_STREQ(ValString(-0.0), "-0");
    EXPECT_STREQ(ValString(123.25), "123.25");
    EXPECT_STREQ(ValString(-2.5e-300), "-2.5e-300");
    EXPECT_STREQ(ValString(1.0 / 0.0), "inf");
    EXPECT_STREQ(ValString(int16_t(-32768)), "-32768");
    EXPECT_STREQ(ValString(int32_t(-2147483647 - 1)), "-2147483648");
}

TEST(ValStringFromNumber, ASingleShowsTheShortestDigitsThatReadBackAsTheSameSingle) {
    const float cases[] = {0.1f, 3.14159f, 16777217.0f, 3.4028235e38f, 1e-45f, -2.5f, 1e20f, 0.0001f};
    const char* texts[] = {"0.1", "3.14159", "16777216", "340282350000000000000000000000000000000", "1e-45", "-2.5",
                           "100000000000000000000", "0.0001"};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const ValString text(cases[i]);
        EXPECT_STREQ(text, texts[i]);
        EXPECT_EQ(std::strtof(text, nullptr), cases[i]) << texts[i] << " reads back as another Single";
    }
}

// Digits between the first and the last non-zero digit of the mantissa.
size_t SignificantDigits(const char* text) {
    std::string digits;
    for (const char* p = text; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;
    const size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return 1;
    return digits.find_last_not_of('0') - first + 1;
}

TEST(ValStringFromNumber, EveryDoubleReadsBackExactly) {
    std::mt19937_64 rng(42);
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d)) continue;
        ValString text(d);
        ASSERT_EQ(static_cast<double>(text), d) << static_cast<const char*>(text);
        ASSERT_LE(SignificantDigits(text), 17u) << static_cast<const char*>(text);
    }
}

TEST(ValStringFromNumber, TextDoesNotDependOnTheNumericLocale) {
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    ValString half(0.5);
    const std::string text = static_cast<const char*>(half);
    const double back = static_cast<double>(half);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(text, "0.5");
    EXPECT_EQ(back, 0.5);
}

TEST(ValStringCurrency, AmountTextInTheCLocaleHasTwoDecimalsAndReadsBack) {
    ValString price(Currency(1.25));
    EXPECT_STREQ(price, "1.25");
    EXPECT_EQ(static_cast<Currency>(price).hundredths(), 125.0);
    EXPECT_STREQ(ValString(Currency(-0.05)), "-0.05");
    EXPECT_EQ(static_cast<Currency>(ValString("3")).hundredths(), 300.0);
    EXPECT_EQ(static_cast<Currency>(ValString("1e3")).hundredths(), 100000.0);
}

TEST(ValStringSharing, AChangeThroughOneHandleIsSeenThroughAll) {
    ValString a("abc");
    ValString b = a;
    EXPECT_EQ(a->refCount(), 2);
    a += ValString("def");
    EXPECT_STREQ(b, "abcdef");
    b += b;
    EXPECT_STREQ(a, "abcdefabcdef");
    b.copy("new");
    EXPECT_STREQ(a, "new");
    ValString empty;
    empty.copy(b);
    EXPECT_STREQ(empty, "new");
    EXPECT_NE(empty.get(), b.get());
    ScopedThrowingAsserts asserts;
    ValString null;
    EXPECT_ASSERTION(null += a, "!isNull()");
}

TEST(ValStringLifetime, DetachedStringDiesWithItsLastCount) {
    Faultp<ValStringRep> weak(UncountedIndirectReference, nullptr);
    {
        ValString s("short-lived");
        weak = Faultp<ValStringRep>(UncountedIndirectReference, s.get());
        EXPECT_FALSE(weak.isNull());
    }
    EXPECT_TRUE(weak.isNull());
    EXPECT_EQ(weak.get(), nullptr);
}

TEST(ValStringLifetime, PrimaryReferencePinsItsStringForCountedHolders) {
    auto prim = std::make_unique<PrimValString>("owned");
    EXPECT_EQ(prim->flags(), 0);
    ValString shared(prim->get());
    prim.reset();
    EXPECT_STREQ(shared, "owned");
}

TEST(ValStringRegExp, CountsNonOverlappingMatchesAndStepsPastEmptyOnes) {
    ValString banana("banana");
    EXPECT_EQ(banana->countRegExp(RWCRegexp("a")), 3u);
    EXPECT_EQ(banana->countRegExp(RWCRegexp("ana")), 1u);
    EXPECT_EQ(banana->countRegExp(RWCRegexp("x*")), 6u);
    EXPECT_EQ(banana->countRegExp(RWCRegexp("q")), 0u);
    EXPECT_EQ(ValString("")->countRegExp(RWCRegexp("a")), 0u);
}

TEST(ValStringFile, ReadsTheWholeFileAndKeepsTheTextWhenItCannot) {
    ScratchDir dir;
    const std::string path = dir.file("data.bin");
    const std::string content("line\0with nul\n", 14);
    std::ofstream(path, std::ios::binary) << content;
    ValString s("before");
    s->readFile(path.c_str());
    EXPECT_EQ(s->text(), content);

    const std::string missing = dir.file("missing.txt");
    try {
        s->readFile(missing.c_str());
        FAIL();
    } catch (const StoreException& e) {
        EXPECT_EQ(std::string(e.what()), "File '" + missing + "' could not be opened.");
    }
    EXPECT_EQ(s->text(), content);
    EXPECT_THROW(s->readFile(dir.path().c_str()), StoreException) << "a folder is no file";
}

// ---- strings of a module -----------------------------------------------------

class StringsModule : public ::testing::Test {
protected:
    ScratchDir dir;
    TestModule mod{dir.file("strings.qbo")};
    tModuleIndex m = mod.m;
};

TEST_F(StringsModule, AModuleStringAtZeroSurvivesUntilTheModuleGoes) {
    Faultp<ValStringRep> weak(UncountedIndirectReference, nullptr);
    {
        ValString s("persistent");
        s->attach(m);
        weak = Faultp<ValStringRep>(UncountedIndirectReference, s.get());
    }
    ASSERT_FALSE(weak.isNull());
    EXPECT_EQ(weak->refCount(), 0);
    // A stored count that was too small: releasing again keeps it at 0.
    weak->deref();
    EXPECT_EQ(weak->refCount(), 0);
    mod.close();
    EXPECT_TRUE(weak.isNull());
}

TEST_F(StringsModule, CopyIntoANullHandleJoinsTheSourcesModule) {
    ValString src("value");
    src->attach(m);
    ValString dst;
    dst.copy(src);
    EXPECT_EQ(dst.moduleIndex(), m);
    EXPECT_NE(dst.descriptor(), src.descriptor());
}

TEST_F(StringsModule, ChangesMarkTheTableDirty) {
    ValString s("v");
    s->attach(m);
    mod.save();
    EXPECT_FALSE(Strings::isDirty(m));
    s += ValString("w");
    EXPECT_TRUE(Strings::isDirty(m));
}

std::string Record(uint16_t count, uint32_t n, const std::string& bytes) {
    return test::U16(count) + test::U32(n) + bytes;
}

TEST_F(StringsModule, RecordsAreReadWithTheirCountsAndCheckedAgainstTheStream) {
    OCLStream s(mod.storage(), "Records", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    const std::string image = Record(4, 1, std::string(1, '\0')) + Record(1, 3, std::string("hi\0", 3)) +
                              Record(0, 0, "") + Record(0, 100, "short");
    s.write(image.data(), image.size());
    s.seek(0);
    std::unique_ptr<ValStringRep> empty(ValStringRep::readFromStream(s, 1, m, 0));
    EXPECT_EQ(empty->text(), "");
    EXPECT_EQ(empty->refCount(), 4);
    EXPECT_EQ(empty->descriptor(), tDescriptor::Make(m, 0));
    std::unique_ptr<ValStringRep> hi(ValStringRep::readFromStream(s, 1, m, 1));
    EXPECT_EQ(hi->text(), "hi");
    EXPECT_THROW(ValStringRep::readFromStream(s, 1, m, 2), ObjectLoadFailed);
    try {
        ValStringRep::readFromStream(s, 1, m, 3);
        FAIL();
    } catch (const ObjectLoadFailed& e) {
        EXPECT_NE(std::string(e.what()).find("runs past the end"), std::string::npos) << e.what();
    }
    // Releasing a read string at its stored count of 0 is no assertion.
    empty->setRefCount(0);
    empty->deref();
    empty.reset();
    hi.reset();
}

TEST_F(StringsModule, RecordImageIsCountLengthTextAndNul) {
    ValString s("abc");
    OCLStream out(mod.storage(), "Image", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s->write(out);
    std::string bytes(out.size(), '\0');
    out.seek(0);
    out.read(bytes.data(), bytes.size());
    EXPECT_EQ(bytes, Record(1, 4, std::string("abc\0", 4)));
}

TEST(StringsStream, StringsRoundTripThroughAFreshProcess) {
    if (IsFreshProcess()) {
        TestModule mod(FreshProcessArg("TQ_STRINGS_FILE"), 0);
        ValString a(tDescriptor::Make(mod.m, 0));
        ValString b(tDescriptor::Make(mod.m, 1));
        EXPECT_STREQ(a, "first string");
        EXPECT_EQ(a->refCount(), 2);
        EXPECT_EQ(b->text(), std::string("with\0nul", 8));
        EXPECT_EQ(b->refCount(), 1);
        EXPECT_TRUE(ValString(tDescriptor::Make(mod.m, 2)).isNull()) << "deleted before the save";
        return;
    }
    ScratchDir dir;
    const std::string path = dir.file("strings.qbo");
    {
        TestModule mod(path);
        ValString a("first string");
        a->attach(mod.m);
        ValString holder = a;
        ValString b(std::string("with\0nul", 8));
        b->attach(mod.m);
        auto gone = std::make_unique<ValString>("deleted");
        (*gone)->attach(mod.m);
        ValStringRep* rep = gone->get();
        gone.reset();
        delete rep;
        mod.save();
    }
    EXPECT_EQ(RunInFreshProcess({{"TQ_STRINGS_FILE", path}}), 0);
}

}  // namespace
}  // namespace tq
