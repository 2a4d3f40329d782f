#include "platform/util/money.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace tq {
namespace {

constexpr char kNotGiven = MoneyFormat::kNotGiven;

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

// The part of a locale's description that one amount is written with.
struct Style {
    std::string symbol;
    std::string sign;
    int csPrecedes;
    int sepBySpace;
    int signPosn;
    int fracDigits;
    bool negative;
};

char Given(char value, char fallback) { return value == kNotGiven ? fallback : value; }

Style StyleFor(const MoneyFormat& f, RWLocale::CurrSymbol symbol, bool negative) {
    Style s;
    if (symbol == RWLocale::INTL) {
        // The fourth character of the international symbol is its separator;
        // the spacing rules below place the space instead.
        s.symbol = f.intCurrSymbol;
        while (!s.symbol.empty() && s.symbol.back() == ' ') s.symbol.pop_back();
        s.csPrecedes = Given(negative ? f.intNCsPrecedes : f.intPCsPrecedes,
                             negative ? f.nCsPrecedes : f.pCsPrecedes);
        s.sepBySpace = Given(negative ? f.intNSepBySpace : f.intPSepBySpace,
                             negative ? f.nSepBySpace : f.pSepBySpace);
        s.signPosn = Given(negative ? f.intNSignPosn : f.intPSignPosn,
                           negative ? f.nSignPosn : f.pSignPosn);
        s.fracDigits = f.intFracDigits == kNotGiven ? f.fracDigits : f.intFracDigits;
    } else {
        if (symbol == RWLocale::LOCAL) s.symbol = f.currencySymbol;
        s.csPrecedes = negative ? f.nCsPrecedes : f.pCsPrecedes;
        s.sepBySpace = negative ? f.nSepBySpace : f.pSepBySpace;
        s.signPosn = negative ? f.nSignPosn : f.pSignPosn;
        s.fracDigits = f.fracDigits;
    }
    if (s.csPrecedes == kNotGiven) s.csPrecedes = 1;
    if (s.sepBySpace == kNotGiven) s.sepBySpace = 0;
    if (s.signPosn == kNotGiven || s.signPosn > 4) s.signPosn = 1;
    if (s.fracDigits == kNotGiven || s.fracDigits < 0) s.fracDigits = 2;
    s.negative = negative;
    s.sign = negative ? f.negativeSign : f.positiveSign;
    if (negative && s.sign.empty()) s.sign = "-";
    return s;
}

// Size of group `index` counted from the decimal point leftwards, or 0 when
// the digits from there on are not grouped.
int GroupSize(const std::string& grouping, size_t index) {
    if (grouping.empty()) return 0;
    const char g = index < grouping.size() ? grouping[index] : grouping.back();
    return (g <= 0 || g == kNotGiven) ? 0 : g;
}

std::string Grouped(const std::string& digits, const MoneyFormat& f) {
    if (f.thousandsSep.empty()) return digits;
    std::vector<std::string_view> groups;
    std::string_view rest = digits;
    for (size_t i = 0;; ++i) {
        const int size = GroupSize(f.grouping, i);
        if (size == 0 || rest.size() <= static_cast<size_t>(size)) break;
        groups.push_back(rest.substr(rest.size() - size));
        rest.remove_suffix(size);
    }
    std::string out(rest);
    for (auto g = groups.rbegin(); g != groups.rend(); ++g) {
        out += f.thousandsSep;
        out += *g;
    }
    return out;
}

// Places quantity, symbol and sign by the C standard's sign_posn and
// sep_by_space rules. Empty parts take no room, and a space is written only
// between two parts that are written.
std::string Compose(const std::string& quantity, const Style& s) {
    enum Part { Q, S, G };
    std::vector<Part> order;
    if (s.csPrecedes) {
        switch (s.signPosn) {
        case 0: order = {S, Q}; break;
        case 2: order = {S, Q, G}; break;
        case 4: order = {S, G, Q}; break;
        default: order = {G, S, Q}; break;  // 1 and 3 coincide here
        }
    } else {
        switch (s.signPosn) {
        case 0: order = {Q, S}; break;
        case 3: order = {Q, G, S}; break;
        case 1: order = {G, Q, S}; break;
        default: order = {Q, S, G}; break;  // 2 and 4 coincide here
        }
    }
    auto at = [&](Part p) -> int {
        for (size_t i = 0; i < order.size(); ++i)
            if (order[i] == p) return static_cast<int>(i);
        return -1;
    };
    const int q = at(Q), sym = at(S), g = at(G);
    const bool pair = g >= 0 && std::abs(sym - g) == 1;
    // spaceAfter[i]: a space between order[i] and order[i + 1].
    std::vector<bool> spaceAfter(order.size(), false);
    auto spaceBetween = [&](int a, int b) {
        if (a >= 0 && b >= 0 && std::abs(a - b) == 1) spaceAfter[std::min(a, b)] = true;
    };
    if (s.sepBySpace == 1) {
        if (pair) spaceBetween(q, std::abs(q - sym) == 1 ? sym : g);
        else spaceBetween(sym, q);
    } else if (s.sepBySpace == 2) {
        if (pair) spaceBetween(sym, g);
        else spaceBetween(g, q);
    }

    std::string out;
    bool pendingSpace = false;
    for (size_t i = 0; i < order.size(); ++i) {
        const std::string& text = order[i] == Q ? quantity : order[i] == S ? s.symbol : s.sign;
        if (!text.empty()) {
            if (pendingSpace && !out.empty()) out += ' ';
            out += text;
            pendingSpace = false;
        }
        if (spaceAfter[i]) pendingSpace = true;
    }
    return s.signPosn == 0 && s.negative ? "(" + out + ")" : out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool StripAffix(std::string_view& s, std::string_view affix) {
    if (affix.empty() || s.size() < affix.size()) return false;
    if (s.substr(0, affix.size()) == affix) {
        s = Trim(s.substr(affix.size()));
        return true;
    }
    if (s.substr(s.size() - affix.size()) == affix) {
        s = Trim(s.substr(0, s.size() - affix.size()));
        return true;
    }
    return false;
}

// Group lengths, leftmost first, must be the locale's sizes counted from the
// decimal point; the leftmost group may be shorter.
bool ValidGroups(const std::vector<size_t>& groups, const std::string& grouping) {
    for (size_t k = 0; k < groups.size(); ++k) {
        const size_t len = groups[k];
        const int size = GroupSize(grouping, groups.size() - 1 - k);
        if (k == 0) {
            // The leftmost group holds what is left: up to its size, or any
            // length where the grouping ends.
            if (len == 0 || (size > 0 && len > static_cast<size_t>(size))) return false;
        } else if (size == 0 || len != static_cast<size_t>(size)) {
            return false;
        }
    }
    return true;
}

// The quantity: digits, optionally grouped, then optionally the decimal point
// and more digits. Gives the integer and fraction digits.
bool ParseQuantity(std::string_view s, const MoneyFormat& f, std::string& whole,
                   std::string& fraction) {
    const std::string point = f.decimalPoint.empty() ? "." : f.decimalPoint;
    std::vector<size_t> groups(1, 0);
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] >= '0' && s[i] <= '9') {
            whole += s[i++];
            ++groups.back();
        } else if (s.substr(i, point.size()) == point) {
            break;
        } else if (!f.thousandsSep.empty() && s.substr(i, f.thousandsSep.size()) == f.thousandsSep) {
            groups.push_back(0);
            i += f.thousandsSep.size();
        } else {
            return false;
        }
    }
    if (groups.size() > 1 && !ValidGroups(groups, f.grouping)) return false;
    if (i < s.size()) {
        for (i += point.size(); i < s.size(); ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            fraction += s[i];
        }
    }
    return !whole.empty() || !fraction.empty();
}

}  // namespace

MoneyFormat MoneyFormat::FromLconv(const lconv& lc) {
    MoneyFormat f;
    f.currencySymbol = Text(lc.currency_symbol);
    f.intCurrSymbol = Text(lc.int_curr_symbol);
    f.decimalPoint = Text(lc.mon_decimal_point);
    f.thousandsSep = Text(lc.mon_thousands_sep);
    f.grouping = Text(lc.mon_grouping);
    f.positiveSign = Text(lc.positive_sign);
    f.negativeSign = Text(lc.negative_sign);
    f.fracDigits = lc.frac_digits;
    f.intFracDigits = lc.int_frac_digits;
    f.pCsPrecedes = lc.p_cs_precedes;
    f.pSepBySpace = lc.p_sep_by_space;
    f.pSignPosn = lc.p_sign_posn;
    f.nCsPrecedes = lc.n_cs_precedes;
    f.nSepBySpace = lc.n_sep_by_space;
    f.nSignPosn = lc.n_sign_posn;
    f.intPCsPrecedes = lc.int_p_cs_precedes;
    f.intPSepBySpace = lc.int_p_sep_by_space;
    f.intPSignPosn = lc.int_p_sign_posn;
    f.intNCsPrecedes = lc.int_n_cs_precedes;
    f.intNSepBySpace = lc.int_n_sep_by_space;
    f.intNSignPosn = lc.int_n_sign_posn;
    return f;
}

MoneyFormat MoneyFormat::Plain() { return MoneyFormat{}; }

const RWLocale& RWLocale::global() {
    // Never destroyed: money may be formatted while the process ends.
    static const RWLocale* const process = new RWLocale;
    return *process;
}

std::optional<RWLocale> RWLocale::Named(const char* name) {
    if (!name) return std::nullopt;
    const locale_t loc = ::newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return std::nullopt;
    // localeconv() reads the calling thread's locale, which uselocale sets.
    const locale_t previous = ::uselocale(loc);
    const MoneyFormat format = MoneyFormat::FromLconv(*::localeconv());
    ::uselocale(previous);
    ::freelocale(loc);
    return RWLocale(format);
}

MoneyFormat RWLocale::format() const {
    return fixed_ ? *fixed_ : MoneyFormat::FromLconv(*::localeconv());
}

std::string RWLocale::moneyAsString(double hundredths, CurrSymbol symbol) const {
    if (std::isnan(hundredths)) return "nan";
    if (std::isinf(hundredths)) return hundredths < 0 ? "-inf" : "inf";

    // Every whole double prints exactly with "%.0f", however large.
    const double rounded = std::round(hundredths);
    const bool negative = rounded < 0;
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.0f", std::fabs(rounded));
    std::string digits = buffer;
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    const std::string whole = digits.substr(0, digits.size() - 2);
    std::string cents = digits.substr(digits.size() - 2);

    const MoneyFormat f = format();
    if (f.fracDigits == kNotGiven) return (negative ? "-" : "") + whole + "." + cents;

    const Style style = StyleFor(f, symbol, negative);
    // Fewer fraction digits than the locale's only where the amount has none
    // there: nothing is ever rounded away.
    while (cents.size() > static_cast<size_t>(style.fracDigits) && cents.back() == '0') cents.pop_back();
    if (style.fracDigits > 2) cents.append(style.fracDigits - 2, '0');
    std::string quantity = Grouped(whole, f);
    if (!cents.empty()) quantity += (f.decimalPoint.empty() ? "." : f.decimalPoint) + cents;
    return Compose(quantity, style);
}

bool RWLocale::stringToMoney(double* hundredths, const char* text, CurrSymbol) const {
    if (!hundredths || !text) return false;
    const MoneyFormat f = format();
    std::string_view s = Trim(text);

    bool negative = false;
    const bool plain = f.fracDigits == kNotGiven;
    if (!plain && s.size() >= 2 && s.front() == '(' && s.back() == ')') {
        negative = true;
        s = Trim(s.substr(1, s.size() - 2));
    }
    // The symbol and the sign may stand on either side, each at most once;
    // any symbol is accepted whatever the caller formats with.
    std::string intl = f.intCurrSymbol;
    while (!intl.empty() && intl.back() == ' ') intl.pop_back();
    bool symbolSeen = false, signSeen = negative;
    for (int round = 0; round < 2; ++round) {
        if (!symbolSeen)
            symbolSeen = StripAffix(s, f.currencySymbol) || StripAffix(s, intl);
        if (!signSeen) {
            if (StripAffix(s, f.negativeSign) || (f.negativeSign != "-" && StripAffix(s, "-"))) {
                negative = signSeen = true;
            } else {
                signSeen = StripAffix(s, f.positiveSign) || (f.positiveSign != "+" && StripAffix(s, "+"));
            }
        }
    }

    std::string whole, fraction;
    if (!ParseQuantity(s, f, whole, fraction)) return false;
    // Hundredths: the decimal point moves two places right.
    fraction.resize(std::max<size_t>(fraction.size(), 2), '0');
    const std::string number = whole + fraction.substr(0, 2) + "." + fraction.substr(2) + "0";
    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc() || end != number.data() + number.size()) return false;
    *hundredths = negative && value != 0 ? -value : value;
    return true;
}

}  // namespace tq
