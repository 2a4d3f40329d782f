// RWLocale: money amounts as the user's locale writes them.
//
// A Currency value of the language holds its amount in hundredths. Turned
// into text it reads as money in the process's locale (its LC_MONETARY part,
// as the host set it with setlocale), and money text turns back into the
// amount. What is formatted must parse back to the same amount, whatever the
// locale.
//
// Where the locale has no monetary data (the "C" and "POSIX" locales, which
// say so with CHAR_MAX fraction digits), the text is the plain amount with two
// decimals and no symbol: "1.25", "-1.25", "0.05". Parsing takes that form
// back, with a sign before or after, also without decimals ("3") or with more
// ("1.255" is 125.5).
//
// Elsewhere the locale's own form is used, built from its localeconv() data
// by the rules of the C standard:
//   - the currency symbol (LOCAL) or international symbol (INTL), or none;
//   - the monetary decimal point and digit grouping;
//   - the sign strings and their position (before or after the quantity and
//     symbol, next to the symbol, or parentheses), with the spacing the
//     locale asks for; a negative amount in a locale with no negative sign
//     string uses "-", so that no amount loses its sign;
//   - the locale's number of fraction digits, but never fewer than the amount
//     needs: in a locale without minor units (frac_digits 0) 100 hundredths
//     are "¥1" and 125 are "¥1.25", so no amount is rounded away.
// Parsing accepts what formatting gives: the quantity, with the locale's
// grouping (groups of the locale's sizes, or none at all) and decimal point;
// optionally the local or international symbol before or after it; one sign
// string before or after quantity and symbol, or parentheses around them.
// Blanks around the parts are ignored.
//
// An amount that is not a whole number of hundredths is rounded to the
// nearest, halves away from zero. An infinite or NaN amount gives "inf",
// "-inf" or "nan", which no money parse accepts back (the plain number
// parser of the caller does).
//
// Like the rest of the store this runs on one thread: the process's locale is
// read through localeconv(), whose result the next call overwrites.
#pragma once

#include <locale.h>

#include <climits>
#include <optional>
#include <string>

namespace tq {

// The monetary part of a locale, as localeconv() describes it; CHAR_MAX in a
// number field means "not given", and a default MoneyFormat is the plain one.
struct MoneyFormat {
    static constexpr char kNotGiven = CHAR_MAX;

    std::string currencySymbol;
    std::string intCurrSymbol;  // e.g. "USD ": three letters and a separator
    std::string decimalPoint;
    std::string thousandsSep;
    std::string grouping;  // group sizes from the decimal point leftwards
    std::string positiveSign;
    std::string negativeSign;
    char fracDigits = kNotGiven;
    char intFracDigits = kNotGiven;
    char pCsPrecedes = kNotGiven, pSepBySpace = kNotGiven, pSignPosn = kNotGiven;
    char nCsPrecedes = kNotGiven, nSepBySpace = kNotGiven, nSignPosn = kNotGiven;
    char intPCsPrecedes = kNotGiven, intPSepBySpace = kNotGiven, intPSignPosn = kNotGiven;
    char intNCsPrecedes = kNotGiven, intNSepBySpace = kNotGiven, intNSignPosn = kNotGiven;

    static MoneyFormat FromLconv(const lconv& lc);
    // The locale without monetary data ("C").
    static MoneyFormat Plain();
};

class RWLocale {
public:
    enum CurrSymbol { NONE = 0, LOCAL = 1, INTL = 2 };

    // The process's locale, read afresh at every call, so that a host that
    // calls setlocale at any time is followed.
    static const RWLocale& global();

    // A locale with fixed monetary data.
    explicit RWLocale(const MoneyFormat& format) : fixed_(format) {}

    // The installed locale of that name ("de_DE.UTF-8"), or nothing when it is
    // not installed.
    static std::optional<RWLocale> Named(const char* name);

    // The money text of an amount given in hundredths.
    std::string moneyAsString(double hundredths, CurrSymbol symbol = LOCAL) const;

    // Parses money text into hundredths. False, leaving *hundredths as it
    // was, when text (null included) is not money text of this locale.
    bool stringToMoney(double* hundredths, const char* text, CurrSymbol symbol = LOCAL) const;

private:
    RWLocale() = default;
    MoneyFormat format() const;

    std::optional<MoneyFormat> fixed_;  // empty: the process's locale
};

}  // namespace tq
