// DatumConv for the datum types of codes 1 to 6: how Integer, Long, Single,
// Double, Currency and String data read as and are written from every value
// type.
//
//   datum \ as   Integer, Long, Single, Double   Currency        String        Object
//   number       C++ numeric conversion, made    Currency(n)     number text   TypeMismatch
//                total (below)
//   Currency     Currency's conversions          copy            money text    TypeMismatch
//   String       the string's numeric reading    its Currency    the handle    TypeMismatch
//                (ConvertFailed when no number)  reading
//
// Numeric conversions never reach undefined behaviour, whatever the value:
//  - to an integer, a floating value is truncated toward zero and its low 32
//    bits kept (0 for NaN and infinities); a 16-bit target keeps the low 16
//    bits of that 32-bit result, without an overflow check;
//  - to Single, a value beyond the float range becomes an infinity of its
//    sign, as IEEE narrowing does.
// Reading or writing a number, Currency or String as an Object raises
// TypeMismatch "DirectValue<>::get(obj)" / "DirectValue<>::set(obj)".
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "store/currency.h"
#include "store/errors/extexcep.h"
#include "store/persist/vlstrrep.h"
#include "store/stkpush.h"
#include "store/vals.h"

namespace tq {

inline int16_t LowShort(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

// A Double as a Single, rounded to nearest as the hardware does: a value
// past the largest Single but nearer to it than to the next power of two
// (the shortest text of the largest Single, "3.4028235e38", is one) is that
// Single; from half a unit beyond it on, the infinity of its sign. The bounds
// are explicit because converting an out-of-range double is undefined.
inline float NarrowToFloat(double d) {
    constexpr double kRoundsToInfinity = 0x1.ffffffp127;  // FLT_MAX + half its ulp
    if (d >= kRoundsToInfinity) return std::numeric_limits<float>::infinity();
    if (d <= -kRoundsToInfinity) return -std::numeric_limits<float>::infinity();
    if (d > FLT_MAX) return FLT_MAX;
    if (d < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(d);  // NaN stays NaN
}

// A number of type From as a number of type To, by the rules above.
template <class To, class From>
To ConvertNumber(From v) {
    if constexpr (std::is_same_v<To, From>) {
        return v;
    } else if constexpr (std::is_integral_v<To>) {
        int32_t whole;
        if constexpr (std::is_integral_v<From>)
            whole = v;
        else
            whole = TruncateToLong(static_cast<double>(v));
        if constexpr (std::is_same_v<To, int16_t>)
            return LowShort(whole);
        else
            return whole;
    } else if constexpr (std::is_same_v<To, float> && std::is_same_v<From, double>) {
        return NarrowToFloat(v);
    } else {
        return static_cast<To>(v);
    }
}

[[noreturn]] inline void ThrowGetObject() { throw TypeMismatch("DirectValue<>::get(obj)", 32765); }
[[noreturn]] inline void ThrowSetObject() { throw TypeMismatch("DirectValue<>::set(obj)", 32765); }

// Integer, Long, Single and Double data.
template <class N>
struct NumberConv {
    static void get(N d, int16_t& out) { out = ConvertNumber<int16_t>(d); }
    static void get(N d, int32_t& out) { out = ConvertNumber<int32_t>(d); }
    static void get(N d, float& out) { out = ConvertNumber<float>(d); }
    static void get(N d, double& out) { out = d; }
    static void get(N d, Currency& out) { out = Currency(d); }
    static void get(N d, ValString& out) { out = ValString(d); }
    [[noreturn]] static void get(N, InterObj&) { ThrowGetObject(); }

    static N from(int16_t v) { return ConvertNumber<N>(v); }
    static N from(int32_t v) { return ConvertNumber<N>(v); }
    static N from(float v) { return ConvertNumber<N>(v); }
    static N from(double v) { return ConvertNumber<N>(v); }
    static N from(const Currency& c) { return ConvertNumber<N>(static_cast<double>(c)); }
    static N from(const ValString& s) { return static_cast<N>(s); }
    [[noreturn]] static N from(const InterObj&) { ThrowSetObject(); }

    static N defaultDatum() { return 0; }
    static void store(N& slot, N d) { slot = d; }
    static void push(N d, GenericStackPusher& pusher) {
        if constexpr (std::is_same_v<N, int16_t>)
            pusher.pushShort(d);
        else if constexpr (std::is_same_v<N, int32_t>)
            pusher.pushLong(d);
        else if constexpr (std::is_same_v<N, float>)
            pusher.pushFloat(d);
        else
            pusher.pushDouble(d);
    }
};

template <>
struct DatumConv<int16_t> : NumberConv<int16_t> {};
template <>
struct DatumConv<int32_t> : NumberConv<int32_t> {};
template <>
struct DatumConv<float> : NumberConv<float> {};
template <>
struct DatumConv<double> : NumberConv<double> {};

// Currency conversions through its own operators, except that to Single the
// amount is narrowed by the total rule above and to Integer its whole 32-bit
// amount is cut to 16 bits.
template <>
struct DatumConv<Currency> {
    static void get(const Currency& d, int16_t& out) { out = static_cast<int16_t>(d); }
    static void get(const Currency& d, int32_t& out) { out = static_cast<int32_t>(d); }
    static void get(const Currency& d, float& out) { out = NarrowToFloat(static_cast<double>(d)); }
    static void get(const Currency& d, double& out) { out = static_cast<double>(d); }
    static void get(const Currency& d, Currency& out) { out = d; }
    static void get(const Currency& d, ValString& out) { out = ValString(d); }
    [[noreturn]] static void get(const Currency&, InterObj&) { ThrowGetObject(); }

    static Currency from(int16_t v) { return Currency(v); }
    static Currency from(int32_t v) { return Currency(v); }
    static Currency from(float v) { return Currency(v); }
    static Currency from(double v) { return Currency(v); }
    static Currency from(const Currency& c) { return c; }
    static Currency from(const ValString& s) { return static_cast<Currency>(s); }
    [[noreturn]] static Currency from(const InterObj&) { ThrowSetObject(); }

    static Currency defaultDatum() { return Currency(); }
    static void store(Currency& slot, const Currency& d) { slot = d; }
    static void push(const Currency& d, GenericStackPusher& pusher) {
        pusher.pushCurrency(d.hundredths());
    }
};

template <>
struct DatumConv<ValString> {
    static void get(const ValString& d, int16_t& out) { out = static_cast<int16_t>(d); }
    static void get(const ValString& d, int32_t& out) { out = static_cast<int32_t>(d); }
    static void get(const ValString& d, float& out) { out = static_cast<float>(d); }
    static void get(const ValString& d, double& out) { out = static_cast<double>(d); }
    static void get(const ValString& d, Currency& out) { out = static_cast<Currency>(d); }
    static void get(const ValString& d, ValString& out) { out = d; }
    [[noreturn]] static void get(const ValString&, InterObj&) { ThrowGetObject(); }

    static ValString from(int16_t v) { return ValString(v); }
    static ValString from(int32_t v) { return ValString(v); }
    static ValString from(float v) { return ValString(v); }
    static ValString from(double v) { return ValString(v); }
    static ValString from(const Currency& c) { return ValString(c); }
    static ValString from(const ValString& s) { return s; }
    [[noreturn]] static ValString from(const InterObj&) { ThrowSetObject(); }

    static ValString defaultDatum() { return ValString(""); }

    // Writes d's text into storage owned elsewhere (an array element, a
    // variable of the host). The storage's representation is changed in
    // place only when the storage holds it alone: it keeps its place in its
    // module, and nobody else sees the change. A representation that others
    // share is left to them; the storage gets a new one with the text, in
    // the same module.
    static void store(ValString& slot, const ValString& d);

    // A String passes the address of its text, which the pusher holds for
    // the call; an unset handle passes an empty text, never a null address.
    static void push(const ValString& d, GenericStackPusher& pusher) { pusher.pushString(d); }
};

}  // namespace tq
