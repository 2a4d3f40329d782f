#include "sys/numfmt.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "sys/sysexcep.h"

namespace tq::sys {

namespace {

// One parsed section. Items keep the order of the pattern: a literal, a
// digit placeholder of the integer part, the point, one of the fraction,
// the exponent.
struct Item {
    enum Kind { Literal, IntDigit, Point, FracDigit, Exponent } kind;
    std::string text;  // Literal: the text; digits: "0" or "#"
};

struct Section {
    std::vector<Item> items;
    int intPlaces = 0;     // digit placeholders before the point
    int minInt = 0;        // from the first '0' of the integer part to the point
    int fracPlaces = 0;    // digit placeholders after the point
    int minFrac = 0;       // up to the last '0' of the fraction
    bool grouping = false;
    int scale = 0;         // commas dividing by 1000
    bool percent = false;
    bool scientific = false;
    bool expPlus = false;  // E+ (else E-)
    int expDigits = 0;     // least digits of the exponent
    bool empty = true;     // nothing at all was written for it
};

Section ParseSection(std::string_view text, const std::string& pattern) {
    Section s;
    s.empty = text.empty();
    bool afterPoint = false;
    int pendingCommas = 0;  // commas after the latest integer placeholder
    bool firstZeroSeen = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (s.scientific && (c == '0' || c == '#')) {
            if (c == '0') ++s.expDigits;
            continue;
        }
        switch (c) {
            case '0':
            case '#':
                if (afterPoint) {
                    ++s.fracPlaces;
                    if (c == '0') s.minFrac = s.fracPlaces;
                    s.items.push_back({Item::FracDigit, std::string(1, c)});
                } else {
                    if (pendingCommas) s.grouping = true;
                    pendingCommas = 0;
                    ++s.intPlaces;
                    if (c == '0') firstZeroSeen = true;
                    if (firstZeroSeen) ++s.minInt;
                    s.items.push_back({Item::IntDigit, std::string(1, c)});
                }
                break;
            case '.':
                if (afterPoint) ThrowFormatError(pattern, "more than one decimal point");
                if (s.scientific) ThrowFormatError(pattern, "a decimal point in the exponent");
                afterPoint = true;
                s.items.push_back({Item::Point, {}});
                break;
            case ',':
                if (!afterPoint && s.intPlaces > 0) ++pendingCommas;
                break;
            case '%':
                s.percent = true;
                s.items.push_back({Item::Literal, "%"});
                break;
            case 'E':
            case 'e':
                if (i + 1 < text.size() && (text[i + 1] == '+' || text[i + 1] == '-')) {
                    if (s.scientific) ThrowFormatError(pattern, "more than one exponent");
                    s.scientific = true;
                    s.expPlus = text[i + 1] == '+';
                    ++i;
                    s.items.push_back({Item::Exponent, std::string(1, c)});
                    if (i + 1 >= text.size() || (text[i + 1] != '0' && text[i + 1] != '#'))
                        ThrowFormatError(pattern, "no digits after the exponent");
                } else {
                    s.items.push_back({Item::Literal, std::string(1, c)});
                }
                break;
            case '"': {
                const size_t close = text.find('"', i + 1);
                if (close == std::string_view::npos) ThrowFormatError(pattern, "a quote is not closed");
                s.items.push_back({Item::Literal, std::string(text.substr(i + 1, close - i - 1))});
                i = close;
                break;
            }
            case '\\':
                if (i + 1 >= text.size()) ThrowFormatError(pattern, "'\\' at the end");
                s.items.push_back({Item::Literal, std::string(1, text[++i])});
                break;
            default: s.items.push_back({Item::Literal, std::string(1, c)});
        }
    }
    // Commas after the last integer placeholder scale instead of grouping.
    s.scale = pendingCommas;
    return s;
}

std::vector<Section> ParsePattern(const std::string& pattern) {
    std::vector<std::string_view> parts;
    std::string_view rest = pattern;
    // Split at ';' outside quotes and escapes.
    size_t start = 0;
    bool quoted = false;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '\\' && !quoted) {
            ++i;
        } else if (rest[i] == '"') {
            quoted = !quoted;
        } else if (rest[i] == ';' && !quoted) {
            parts.push_back(rest.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(rest.substr(start));
    if (parts.size() > 3) ThrowFormatError(pattern, "more than three sections");
    std::vector<Section> sections;
    for (std::string_view p : parts) sections.push_back(ParseSection(p, pattern));
    // The first section shows the number; the others may be text alone
    // ("0;(0);nil").
    if (sections[0].intPlaces + sections[0].fracPlaces == 0)
        ThrowFormatError(pattern, "no digit placeholder (0 or #)");
    return sections;
}

// The digits of v (not negative) with `decimals` digits after the point,
// split at the point. Rounding works on the number's decimal form to 15
// significant digits, half away from zero, so that 2.675 (held as
// 2.67499999...) rounds as it was written, to 2.68.
void Digits(double v, int decimals, std::string& whole, std::string& fraction) {
    char text[64];
    std::snprintf(text, sizeof text, "%.14e", v);
    // "d.dddddddddddddde+XX": 15 digits and the exponent of the first.
    std::string digits;
    const char* p = text;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;
    int point = (*p == 'e' ? std::atoi(p + 1) : 0) + 1;  // digits before the point
    if (v == 0) point = 1;
    // Leading zeros so that the point falls inside the digits.
    if (point < 1) {
        digits.insert(0, static_cast<size_t>(1 - point), '0');
        point = 1;
    }
    const size_t keep = static_cast<size_t>(point + decimals);
    if (digits.size() < keep) digits.append(keep - digits.size(), '0');
    if (digits.size() > keep) {
        const bool up = digits[keep] >= '5';
        digits.resize(keep);
        for (size_t i = keep; up; ) {
            if (i == 0) {
                digits.insert(0, 1, '1');
                ++point;
                break;
            }
            --i;
            if (digits[i] == '9') {
                digits[i] = '0';
            } else {
                ++digits[i];
                break;
            }
        }
    }
    whole = digits.substr(0, static_cast<size_t>(point));
    fraction = digits.substr(static_cast<size_t>(point));
}

std::string Grouped(const std::string& digits) {
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// Lays the section out for v, which is not negative; true in zero when
// every digit shown is 0.
std::string Lay(const Section& s, double v, bool& zero) {
    if (s.percent) v *= 100;
    for (int i = 0; i < s.scale; ++i) v /= 1000;
    // A percentage of the largest numbers overflows: shown as the number is.
    if (!std::isfinite(v)) {
        zero = false;
        return std::string(static_cast<const char*>(ValString(v)));
    }
    int exponent = 0;
    if (s.scientific && v != 0) {
        const int intDigits = std::max(1, s.intPlaces);
        exponent = static_cast<int>(std::floor(std::log10(v))) - (intDigits - 1);
        double mantissa = v / std::pow(10.0, exponent);
        std::string w, f;
        Digits(mantissa, s.fracPlaces, w, f);
        if (static_cast<int>(w.size()) > intDigits) ++exponent;  // 9.99 rounded up to 10.0
        v = v / std::pow(10.0, exponent);
    }
    std::string whole, fraction;
    Digits(v, s.fracPlaces, whole, fraction);
    zero = whole.find_first_not_of('0') == std::string::npos && fraction.find_first_not_of('0') == std::string::npos;
    while (static_cast<int>(fraction.size()) > s.minFrac && !fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    if (static_cast<int>(whole.size()) < s.minInt) whole.insert(0, s.minInt - whole.size(), '0');
    if (s.grouping) whole = Grouped(whole);

    // The integer digits fill their placeholders from the right; digits
    // beyond them all go to the leftmost one. With grouping the whole
    // number stands at the leftmost placeholder.
    std::vector<std::string> intFill(static_cast<size_t>(s.intPlaces));
    if (s.intPlaces > 0) {
        if (s.grouping) {
            intFill[0] = whole;
        } else {
            size_t left = whole.size();
            for (int p = s.intPlaces - 1; p >= 0; --p) {
                if (p == 0) {
                    intFill[0] = whole.substr(0, left);
                } else if (left > 0) {
                    intFill[static_cast<size_t>(p)] = whole.substr(left - 1, 1);
                    --left;
                }
            }
        }
    }
    std::string out;
    int intAt = 0, fracAt = 0;
    for (const Item& item : s.items) {
        switch (item.kind) {
            case Item::Literal: out += item.text; break;
            case Item::IntDigit: out += intFill[static_cast<size_t>(intAt++)]; break;
            case Item::Point:
                if (!fraction.empty()) out += '.';
                break;
            case Item::FracDigit:
                if (fracAt < static_cast<int>(fraction.size())) out += fraction[static_cast<size_t>(fracAt)];
                ++fracAt;
                break;
            case Item::Exponent: {
                out += item.text;
                if (exponent < 0)
                    out += '-';
                else if (s.expPlus)
                    out += '+';
                std::string e = std::to_string(std::abs(exponent));
                if (static_cast<int>(e.size()) < s.expDigits) e.insert(0, s.expDigits - e.size(), '0');
                out += e;
                break;
            }
        }
    }
    return out;
}

}  // namespace

std::string FormatNumber(double value, const std::string& pattern) {
    if (pattern.empty()) return std::string(static_cast<const char*>(ValString(value)));
    const std::vector<Section> sections = ParsePattern(pattern);
    if (!std::isfinite(value)) return std::string(static_cast<const char*>(ValString(value)));
    const bool negative = value < 0;
    const double magnitude = std::fabs(value);
    if (value == 0 && sections.size() == 3 && !sections[2].empty) {
        bool zero = false;
        return Lay(sections[2], 0, zero);
    }
    if (negative && sections.size() >= 2 && !sections[1].empty) {
        bool zero = false;
        return Lay(sections[1], magnitude, zero);
    }
    bool zero = false;
    std::string text = Lay(sections[0], magnitude, zero);
    // A number that rounds to zero shows no minus sign.
    return negative && !zero ? "-" + text : text;
}

}  // namespace tq::sys
