#include "platform/util/cnumber.h"

#include <locale.h>
#include <stdlib.h>

namespace tq {

namespace {

// The "C" locale object, made once; it lives as long as the process.
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

bool HexPrefixAt(const char* p) {
    return p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16;
}

}  // namespace

double CStrToD(const char* text, const char** end) {
    char* stop = nullptr;
    const locale_t c = CLocale();
    const double value = c ? strtod_l(text, &stop, c) : strtod(text, &stop);
    *end = stop;
    return value;
}

uint32_t CStrToUL32(const char* text, int radix, const char** end) {
    const char* p = text;
    while (IsCSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (radix == 0) {
        if (HexPrefixAt(p)) {
            radix = 16;
            p += 2;
        } else {
            radix = *p == '0' ? 8 : 10;
        }
    } else if (radix == 16 && HexPrefixAt(p)) {
        p += 2;
    }
    const char* digits = p;
    uint64_t value = 0;
    bool overflow = false;
    for (int d; (d = DigitValue(*p)) < radix; ++p) {
        value = value * radix + d;
        if (value > 0xFFFFFFFFu) {
            overflow = true;
            value = 0xFFFFFFFFu;
        }
    }
    if (p == digits) {
        *end = text;
        return 0;
    }
    *end = p;
    if (overflow) return 0xFFFFFFFFu;
    const uint32_t magnitude = static_cast<uint32_t>(value);
    return negative ? 0u - magnitude : magnitude;
}

}  // namespace tq
