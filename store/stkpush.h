// GenericStackPusher: the arguments of a foreign call, as the values give
// them.
//
// A declared DLL procedure or a compiled method is called with the
// interpreter's argument values in native form. Each value adds itself here,
// by value (Value::getStackPusher) or by reference
// (Value::getByRefStackPusher), in parameter order; the foreign-call layer
// (interp/fncaller.h) then turns the collected arguments into the native
// call. The forms, as the C side declares them:
//
//   form              native argument              from
//   ARG_SHORT         int16_t                      Integer by value
//   ARG_LONG          int32_t                      Long by value
//   ARG_FLOAT         float                        Single by value
//   ARG_DOUBLE        double                       Double by value
//   ARG_CURRENCY      int64_t, the amount in       Currency by value
//                     hundredths, rounded
//   ARG_STRING        const char*, NUL-ended       String by value
//   ARG_OBJECT        a pointer to the object's    Object by value
//                     handle (InterObj)
//   ARG_ADDRESS       int16_t*, int32_t*, float*,  Integer, Long, Single,
//                     double*: the variable's own  Double by reference
//                     storage
//   ARG_CURRENCY_REF  int64_t*, a copy in          Currency by reference
//                     hundredths, written back
//   ARG_STRING_REF    char**, a slot holding a     String by reference
//                     writable copy of the text,
//                     written back
//
// Invariants:
//  1. Everything an argument's native form points at lives in the pusher
//     (a String's text is held by a counted handle, an Object's handle by a
//     value of its own) or in storage the caller's argument list keeps
//     alive: a value read through a field or an array element may be a
//     temporary, so its text must not be borrowed from it.
//  2. A by-reference String or Currency is a copy that writeBack() stores
//     into the variable after the call, so the callee never sees the
//     store's own representation (a shared string, a double of
//     hundredths). A String slot may be changed by the callee in two ways
//     only: writing into the copy, at most its original length, or pointing
//     the slot at a NUL-ended text that stays valid until the call returns.
//     Either way the text is copied; the callee never frees or keeps it.
//  3. Up to kInline arguments live in the pusher itself: a call with few
//     arguments costs no heap allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "store/persist/vlstrrep.h"
#include "store/vals.h"

namespace tq {

class GenericStackPusher {
public:
    enum tArgForm : uint8_t {
        ARG_SHORT,
        ARG_LONG,
        ARG_FLOAT,
        ARG_DOUBLE,
        ARG_CURRENCY,
        ARG_STRING,
        ARG_OBJECT,
        ARG_ADDRESS,
        ARG_CURRENCY_REF,
        ARG_STRING_REF,
    };

    struct Arg {
        tArgForm form;
        union {
            int16_t s;
            int32_t l;
            float f;
            double d;
            int64_t c;            // ARG_CURRENCY, ARG_CURRENCY_REF: hundredths
            const char* text;     // ARG_STRING
            const void* address;  // ARG_OBJECT, ARG_ADDRESS
            char* slot;           // ARG_STRING_REF: what the callee sees through its char**
        };
        // The address a by-reference copy is passed as (of c or of slot),
        // set by the foreign-call layer once the arguments stay in place.
        void* ref = nullptr;
        ValString str;                  // ARG_STRING: keeps the text alive
        ValuePtr held;                  // ARG_OBJECT: the handle's value; *_REF: the variable
        std::unique_ptr<char[]> copy;   // ARG_STRING_REF: the writable copy
        size_t copyLength = 0;          // its length without the NUL
    };

    static constexpr size_t kInline = 6;

    GenericStackPusher() = default;
    GenericStackPusher(const GenericStackPusher&) = delete;
    GenericStackPusher& operator=(const GenericStackPusher&) = delete;
    ~GenericStackPusher() { clear(); }

    void pushShort(int16_t v) { add(ARG_SHORT).s = v; }
    void pushLong(int32_t v) { add(ARG_LONG).l = v; }
    void pushFloat(float v) { add(ARG_FLOAT).f = v; }
    void pushDouble(double v) { add(ARG_DOUBLE).d = v; }
    // The Currency's hundredths, rounded to a whole number (saturated at
    // the ends of the 64-bit range, 0 for NaN).
    void pushCurrency(double hundredths);
    // Holds text, so that its address stays valid for the call.
    void pushString(const ValString& text);
    // holder is a value whose storage is the object's handle; it is kept
    // for the call.
    void pushObject(ValuePtr holder);
    void pushAddress(void* storage) { add(ARG_ADDRESS).address = storage; }
    // Copies of v's datum, stored back into v by writeBack().
    void pushCurrencyRef(Value& v);
    void pushStringRef(Value& v);

    // Stores the by-reference copies back into their variables, after the
    // call: a failing store raises, the rest are left as they were.
    void writeBack();

    size_t count() const { return count_; }
    Arg& operator[](size_t i) { return data_[i]; }
    const Arg& operator[](size_t i) const { return data_[i]; }
    void clear();

private:
    Arg& add(tArgForm form);
    void grow();

    alignas(Arg) unsigned char inline_[kInline * sizeof(Arg)];
    std::unique_ptr<unsigned char[]> heap_;
    Arg* data_ = reinterpret_cast<Arg*>(inline_);
    size_t count_ = 0;
    size_t capacity_ = kInline;
};

}  // namespace tq
