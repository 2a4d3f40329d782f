#include "platform/util/money.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <string>

namespace tq {
namespace {

const RWLocale plain{MoneyFormat::Plain()};

double Parsed(const RWLocale& loc, const char* text, RWLocale::CurrSymbol sym = RWLocale::LOCAL) {
    double v = -12345.0;
    EXPECT_TRUE(loc.stringToMoney(&v, text, sym)) << "'" << text << "' did not parse";
    return v;
}

bool Rejects(const RWLocale& loc, const char* text) {
    double v = -12345.0;
    const bool ok = loc.stringToMoney(&v, text);
    return !ok && v == -12345.0;  // a failed parse leaves the result alone
}

void ExpectRoundTrips(const RWLocale& loc, RWLocale::CurrSymbol sym, const std::string& what) {
    for (double h : {0.0, 1.0, 5.0, 10.0, 99.0, 100.0, 125.0, 1000.0, 99999.0, 100000.0, 123456789.0,
                     1e15, 4503599627370495.0}) {
        for (double v : {h, -h}) {
            const std::string text = loc.moneyAsString(v, sym);
            double back = -1;
            ASSERT_TRUE(loc.stringToMoney(&back, text.c_str(), sym)) << what << ": '" << text << "'";
            EXPECT_EQ(back, v) << what << ": '" << text << "'";
        }
    }
}

// ---- a locale without monetary data ------------------------------------------------

TEST(MoneyPlain, AmountsHaveTwoDecimalsAndNoSymbol) {
    EXPECT_EQ(plain.moneyAsString(125), "1.25");
    EXPECT_EQ(plain.moneyAsString(-125), "-1.25");
    EXPECT_EQ(plain.moneyAsString(0), "0.00");
    EXPECT_EQ(plain.moneyAsString(5), "0.05");
    EXPECT_EQ(plain.moneyAsString(-5), "-0.05");
    EXPECT_EQ(plain.moneyAsString(123456789), "1234567.89");
    EXPECT_EQ(plain.moneyAsString(300, RWLocale::INTL), "3.00");
}

TEST(MoneyPlain, PartsOfAHundredthRoundHalfAwayFromZero) {
    EXPECT_EQ(plain.moneyAsString(12.5), "0.13");
    EXPECT_EQ(plain.moneyAsString(-12.5), "-0.13");
    EXPECT_EQ(plain.moneyAsString(12.49), "0.12");
    EXPECT_EQ(plain.moneyAsString(-0.4), "0.00");  // no "-0.00"
}

TEST(MoneyPlain, NonFiniteAmountsAreNamedAndDoNotParseBack) {
    EXPECT_EQ(plain.moneyAsString(INFINITY), "inf");
    EXPECT_EQ(plain.moneyAsString(-INFINITY), "-inf");
    EXPECT_EQ(plain.moneyAsString(NAN), "nan");
    EXPECT_TRUE(Rejects(plain, "inf"));
    EXPECT_TRUE(Rejects(plain, "nan"));
}

TEST(MoneyPlain, ParsesItsOwnFormAndPlainNumbers) {
    EXPECT_EQ(Parsed(plain, "1.25"), 125);
    EXPECT_EQ(Parsed(plain, "-1.25"), -125);
    EXPECT_EQ(Parsed(plain, "3"), 300);
    EXPECT_EQ(Parsed(plain, "+3"), 300);
    EXPECT_EQ(Parsed(plain, "  7.5 "), 750);
    EXPECT_EQ(Parsed(plain, ".5"), 50);
    EXPECT_EQ(Parsed(plain, "1.255"), 125.5);
    EXPECT_EQ(Parsed(plain, "0.1"), 10);  // exact, not 10.000000000000002
    EXPECT_EQ(Parsed(plain, "-0"), 0);
    EXPECT_FALSE(std::signbit(Parsed(plain, "-0.00")));
}

TEST(MoneyPlain, RejectsWhatIsNotMoney) {
    for (const char* bad : {"", " ", "abc", "1.2.3", "1,000", "--1", "1e3", "$1", "-", ".", "1 2",
                            "0x10", "(1.25)", "1.25abc"}) {
        EXPECT_TRUE(Rejects(plain, bad)) << "'" << bad << "'";
    }
    EXPECT_TRUE(Rejects(plain, nullptr));
    EXPECT_FALSE(plain.stringToMoney(nullptr, "1"));
}

TEST(MoneyPlain, EveryAmountRoundTrips) {
    ExpectRoundTrips(plain, RWLocale::LOCAL, "C");
    for (int h = -2000; h <= 2000; h += 7) {
        double back = 0;
        ASSERT_TRUE(plain.stringToMoney(&back, plain.moneyAsString(h).c_str()));
        EXPECT_EQ(back, h);
    }
}

// ---- locales with monetary data, described by hand --------------------------------------
//
// The machine may have no locale but "C" installed, so the rules are checked
// on descriptions shaped like real locales.

MoneyFormat Format(const char* symbol, const char* point, const char* sep, const char* grouping,
                   int frac, int csPrecedes, int sepBySpace, int signPosn) {
    MoneyFormat f = MoneyFormat::Plain();
    f.currencySymbol = symbol;
    f.intCurrSymbol = "XTS ";
    f.decimalPoint = point;
    f.thousandsSep = sep;
    f.grouping = grouping;
    f.negativeSign = "-";
    f.fracDigits = f.intFracDigits = static_cast<char>(frac);
    f.pCsPrecedes = f.nCsPrecedes = static_cast<char>(csPrecedes);
    f.pSepBySpace = f.nSepBySpace = static_cast<char>(sepBySpace);
    f.pSignPosn = f.nSignPosn = static_cast<char>(signPosn);
    return f;
}

const RWLocale us{Format("$", ".", ",", "\3\3", 2, 1, 0, 1)};
const RWLocale de{Format("\xE2\x82\xAC", ",", ".", "\3\3", 2, 0, 1, 1)};

TEST(MoneyLocale, UsesTheLocalesSymbolGroupingAndSign) {
    EXPECT_EQ(us.moneyAsString(123456789), "$1,234,567.89");
    EXPECT_EQ(us.moneyAsString(-125), "-$1.25");
    EXPECT_EQ(us.moneyAsString(100000), "$1,000.00");
    EXPECT_EQ(us.moneyAsString(99999), "$999.99");
    EXPECT_EQ(us.moneyAsString(123456789, RWLocale::NONE), "1,234,567.89");
    EXPECT_EQ(de.moneyAsString(123456), "1.234,56 \xE2\x82\xAC");
    EXPECT_EQ(de.moneyAsString(-125), "-1,25 \xE2\x82\xAC");
}

TEST(MoneyLocale, ParsingAcceptsTheSymbolAndGroupingOrNeither) {
    EXPECT_EQ(Parsed(us, "$1,234,567.89"), 123456789);
    EXPECT_EQ(Parsed(us, "1234567.89"), 123456789);
    EXPECT_EQ(Parsed(us, "-$1.25"), -125);
    EXPECT_EQ(Parsed(us, "$-1.25"), -125);
    EXPECT_EQ(Parsed(us, "1,234"), 123400);
    EXPECT_EQ(Parsed(de, "1.234,56 \xE2\x82\xAC"), 123456);
    EXPECT_EQ(Parsed(de, "1,25"), 125);
}

TEST(MoneyLocale, MisplacedGroupSeparatorsAreNotMoney) {
    for (const char* bad : {"1,23", "12,34,567.89", ",123", "1,,234", "1234,567", "1,234.5,6",
                            "$$1", "1.25$-$"}) {
        EXPECT_TRUE(Rejects(us, bad)) << "'" << bad << "'";
    }
    // The decimal point of another locale must not read as grouping: "1.25"
    // in German money is no amount at all, not 125.
    EXPECT_TRUE(Rejects(de, "1.25"));
    EXPECT_EQ(Parsed(de, "1.250"), 125000);
}

TEST(MoneyLocale, IndianGroupingUsesItsOwnGroupSizes) {
    const RWLocale in{Format("\xE2\x82\xB9", ".", ",", "\3\2", 2, 1, 0, 1)};
    EXPECT_EQ(in.moneyAsString(1234567890), "\xE2\x82\xB9" "1,23,45,678.90");
    EXPECT_EQ(Parsed(in, "1,23,45,678.90"), 1234567890);
    EXPECT_TRUE(Rejects(in, "12,345,678.90"));
}

TEST(MoneyLocale, NegativeAmountsInParentheses) {
    const RWLocale acct{Format("$", ".", ",", "\3", 2, 1, 0, 0)};
    EXPECT_EQ(acct.moneyAsString(-123456), "($1,234.56)");
    EXPECT_EQ(acct.moneyAsString(123456), "$1,234.56");
    EXPECT_EQ(Parsed(acct, "($1,234.56)"), -123456);
    EXPECT_TRUE(Rejects(acct, "(-1.00)"));
}

TEST(MoneyLocale, ALocaleWithoutANegativeSignStillShowsOne) {
    MoneyFormat f = Format("kr", ",", ".", "\3", 2, 0, 1, 1);
    f.negativeSign = "";
    const RWLocale loc(f);
    EXPECT_EQ(loc.moneyAsString(-125), "-1,25 kr");
    EXPECT_EQ(Parsed(loc, "-1,25 kr"), -125);
}

TEST(MoneyLocale, FewerFractionDigitsNeverRoundAnAmountAway) {
    const RWLocale yen{Format("\xC2\xA5", ".", ",", "\3", 0, 1, 0, 1)};
    EXPECT_EQ(yen.moneyAsString(123400), "\xC2\xA5" "1,234");
    EXPECT_EQ(yen.moneyAsString(125), "\xC2\xA5" "1.25");
    EXPECT_EQ(yen.moneyAsString(150), "\xC2\xA5" "1.5");
    EXPECT_EQ(Parsed(yen, "\xC2\xA5" "1.25"), 125);
    const RWLocale dinar{Format("KD", ".", ",", "\3", 3, 1, 1, 1)};
    EXPECT_EQ(dinar.moneyAsString(125), "KD 1.250");
    EXPECT_EQ(Parsed(dinar, "KD 1.250"), 125);
}

TEST(MoneyLocale, EverySignPositionAndSpacingRoundTrips) {
    for (int cs = 0; cs <= 1; ++cs) {
        for (int sep = 0; sep <= 2; ++sep) {
            for (int posn = 0; posn <= 4; ++posn) {
                MoneyFormat f = Format("EUR", ",", " ", "\3", 2, cs, sep, posn);
                f.positiveSign = posn == 0 ? "" : "+";
                const RWLocale loc(f);
                const std::string what = "cs " + std::to_string(cs) + " sep " + std::to_string(sep) +
                                         " posn " + std::to_string(posn);
                ExpectRoundTrips(loc, RWLocale::LOCAL, what);
                ExpectRoundTrips(loc, RWLocale::INTL, what + " intl");
                ExpectRoundTrips(loc, RWLocale::NONE, what + " none");
                const std::string neg = loc.moneyAsString(-125);
                EXPECT_EQ(neg.front() == ' ' || neg.back() == ' ', false) << what << ": '" << neg << "'";
                EXPECT_EQ(neg.find("  "), std::string::npos) << what << ": '" << neg << "'";
            }
        }
    }
}

TEST(MoneyLocale, SpacingFollowsTheStandardsRules) {
    // symbol first, sign before both: 0 no space, 1 space before the value, 2
    // space between sign and symbol.
    EXPECT_EQ(RWLocale(Format("$", ".", "", "", 2, 1, 0, 1)).moneyAsString(-125), "-$1.25");
    EXPECT_EQ(RWLocale(Format("$", ".", "", "", 2, 1, 1, 1)).moneyAsString(-125), "-$ 1.25");
    EXPECT_EQ(RWLocale(Format("$", ".", "", "", 2, 1, 2, 1)).moneyAsString(-125), "- $1.25");
    // symbol after, sign after the value: not adjacent to the symbol.
    EXPECT_EQ(RWLocale(Format("$", ".", "", "", 2, 0, 1, 3)).moneyAsString(-125), "1.25 -$");
    EXPECT_EQ(RWLocale(Format("$", ".", "", "", 2, 0, 2, 1)).moneyAsString(-125), "- 1.25$");
    EXPECT_EQ(RWLocale(Format("$", ".", "", "", 2, 1, 1, 4)).moneyAsString(-125), "$- 1.25");
}

// ---- the process's locale ---------------------------------------------------------------

class ProcessLocale : public ::testing::Test {
protected:
    std::string saved = std::setlocale(LC_ALL, nullptr);
    void TearDown() override { std::setlocale(LC_ALL, saved.c_str()); }
};

TEST_F(ProcessLocale, TheCLocaleIsPlain) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(RWLocale::global().moneyAsString(-125), "-1.25");
    EXPECT_EQ(Parsed(RWLocale::global(), "3"), 300);
}

TEST_F(ProcessLocale, AnInstalledLocaleRoundTripsAndIsFollowedBySetlocale) {
    const char* found = nullptr;
    for (const char* name : {"en_US.UTF-8", "en_US.utf8", "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8",
                             "fr_FR.utf8", "en_GB.UTF-8", "en_GB.utf8", "ja_JP.UTF-8", "ja_JP.utf8"}) {
        if (RWLocale::Named(name) && RWLocale::Named(name)->moneyAsString(1) != "0.01") {
            found = name;
            break;
        }
    }
    if (!found) GTEST_SKIP() << "no locale with monetary data is installed";
    ExpectRoundTrips(*RWLocale::Named(found), RWLocale::LOCAL, found);
    ExpectRoundTrips(*RWLocale::Named(found), RWLocale::INTL, found);

    ASSERT_NE(std::setlocale(LC_ALL, found), nullptr);
    EXPECT_EQ(RWLocale::global().moneyAsString(123456), RWLocale::Named(found)->moneyAsString(123456));
    ExpectRoundTrips(RWLocale::global(), RWLocale::LOCAL, found);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(RWLocale::global().moneyAsString(123456), "1234.56");
}

TEST(MoneyNamed, AMissingLocaleIsNothing) {
    EXPECT_FALSE(RWLocale::Named("xx_NOWHERE.UTF-8").has_value());
    EXPECT_FALSE(RWLocale::Named(nullptr).has_value());
    ASSERT_TRUE(RWLocale::Named("C").has_value());
    EXPECT_EQ(RWLocale::Named("C")->moneyAsString(-125), "-1.25");
}

}  // namespace
}  // namespace tq
