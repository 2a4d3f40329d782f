// Currency: the language's money number.
//
// One double that holds the amount multiplied by 100 (the amount in
// hundredths). There is no integer mantissa and no rounding to whole
// hundredths: Currency(0.125) holds 12.5. Module records and the argument
// blocks of foreign calls carry that double as it stands.
//
// Inside the language Currency arithmetic goes through the Value operators,
// which compute in double and build the result with Currency(double); the
// operators here serve compiled code and the library itself.
//
// Conversions to 32-bit integers never reach undefined behaviour: the value is
// truncated toward zero and, when it lies outside the 32-bit range, reduced
// modulo 2^32 (the low 32 bits), as narrowing to 16 bits keeps the low 16
// bits; NaN and infinities give 0.
#pragma once

#include <cmath>
#include <cstdint>

namespace tq {

// The double truncated toward zero to a 32-bit integer: the low 32 bits of
// the whole part, 0 for NaN and infinities.
inline int32_t TruncateToLong(double d) {
    if (!std::isfinite(d)) return 0;
    double whole = std::fmod(std::trunc(d), 4294967296.0);
    if (whole < 0) whole += 4294967296.0;
    return static_cast<int32_t>(static_cast<uint32_t>(whole));
}

class Currency {
public:
    Currency() = default;
    Currency(double amount) : hundredths_(amount * 100.0) {}
    Currency(float amount) : hundredths_(static_cast<double>(amount) * 100.0) {}
    // Multiplied as an integer, wide enough that no 32-bit amount overflows.
    Currency(int16_t amount) : hundredths_(static_cast<double>(int64_t(amount) * 100)) {}
    Currency(int32_t amount) : hundredths_(static_cast<double>(int64_t(amount) * 100)) {}

    // The stored number itself, for records and money text.
    static Currency FromHundredths(double h) {
        Currency c;
        c.hundredths_ = h;
        return c;
    }
    double hundredths() const { return hundredths_; }

    explicit operator double() const { return hundredths_ * 0.01; }
    explicit operator float() const { return static_cast<float>(hundredths_ * 0.01); }
    explicit operator int32_t() const { return TruncateToLong(hundredths_ * 0.01); }
    explicit operator int16_t() const {
        return static_cast<int16_t>(static_cast<uint16_t>(TruncateToLong(hundredths_ * 0.01)));
    }

    friend bool operator==(Currency a, Currency b) { return a.hundredths_ == b.hundredths_; }
    friend bool operator!=(Currency a, Currency b) { return a.hundredths_ != b.hundredths_; }
    friend bool operator<(Currency a, Currency b) { return a.hundredths_ < b.hundredths_; }
    friend bool operator>(Currency a, Currency b) { return a.hundredths_ > b.hundredths_; }
    friend bool operator<=(Currency a, Currency b) { return a.hundredths_ <= b.hundredths_; }
    friend bool operator>=(Currency a, Currency b) { return a.hundredths_ >= b.hundredths_; }

    // The Currency whose amount is the sum, difference, product or quotient
    // of the two amounts.
    friend Currency operator+(Currency a, Currency b) {
        return FromHundredths(a.hundredths_ + b.hundredths_);
    }
    friend Currency operator-(Currency a, Currency b) {
        return FromHundredths(a.hundredths_ - b.hundredths_);
    }
    friend Currency operator*(Currency a, Currency b) {
        return FromHundredths(a.hundredths_ * b.hundredths_ * 0.01);
    }
    friend Currency operator/(Currency a, Currency b) {
        return FromHundredths(a.hundredths_ / b.hundredths_ * 100.0);
    }

    // Whole-number quotient of the two amounts taken in hundredths (each
    // truncated to 32 bits), truncated toward zero. A zero divisor raises
    // MathError "Division by zero.".
    int32_t intDiv(Currency b) const;
    // Remainder of the same division, in hundredths: 7.50 Mod 2.00 is 1.50.
    // A zero divisor raises MathError "Division by zero.".
    friend Currency operator%(Currency a, Currency b);

    // Both stored numbers truncated to 32 bits and combined bit by bit.
    friend int32_t operator&(Currency a, Currency b) {
        return TruncateToLong(a.hundredths_) & TruncateToLong(b.hundredths_);
    }
    friend int32_t operator|(Currency a, Currency b) {
        return TruncateToLong(a.hundredths_) | TruncateToLong(b.hundredths_);
    }
    friend int32_t operator^(Currency a, Currency b) {
        return TruncateToLong(a.hundredths_) ^ TruncateToLong(b.hundredths_);
    }
    int32_t operator~() const { return ~TruncateToLong(hundredths_); }

private:
    double hundredths_ = 0.0;
};

static_assert(sizeof(Currency) == 8, "a Currency is stored as one double");

}  // namespace tq
