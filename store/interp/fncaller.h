// Foreign function calls: the interpreter's values passed to native code.
//
// Two families of callers, one class per return type, made once per method
// field by their factory and kept by it, so a call does no dispatch on the
// result type:
//
//   return type   plain function (C)          member function (C++)
//   1 Integer     CShortFunctionCaller        CppShortFunctionCaller
//   2 Long        CLongFunctionCaller         CppLongFunctionCaller
//   3 Single      CFloatFunctionCaller        CppFloatFunctionCaller
//   4 Double      CDoubleFunctionCaller       CppDoubleFunctionCaller
//   5 Currency    CCurrencyFunctionCaller     CppCurrencyFunctionCaller
//   6 String      CValStringFunctionCaller    CppValStringFunctionCaller
//   7 Object      CInterObjFunctionCaller     CppInterObjFunctionCaller
//   10 void       CVoidFunctionCaller         CppVoidFunctionCaller
//
// The native call goes through libffi. Each caller prepares its call
// interface (ffi_cif) for the argument forms of its first call and keeps it;
// it prepares another only when a call brings other forms (a Variant
// parameter given another type), so a declaration called with the same
// types is prepared once.
//
// The road of a call:
//  1. each argument, in parameter order, adds itself to a
//     GenericStackPusher (stkpush.h): by value, or by reference when its
//     by-reference flag is set (the method field's binding set it);
//  2. for a member function, the object pointer is adjusted and the code
//     address found through the member pointer (MemberPointer below);
//  3. the native function is called; a plain function's system error code
//     (errno, cleared just before the call) is stashed at once
//     (StashLastAPIErrorCode, intfuncs.h), before any other work can change
//     it;
//  4. by-reference copies are stored back (Currency, String), and the
//     native result becomes a new value of the return type.
//
// Results, as the native side returns them:
//   Integer int16_t, Long int32_t, Single float, Double double, Currency
//   int64_t (hundredths);
//   String: a plain function returns const char* (copied; null is the empty
//   text); a member function returns a ValString by value;
//   Object: a member function returns an InterObj by value; a plain
//   function returns one of the object handle addresses it was given, or
//   null (Nothing): any other address is refused, for native code cannot
//   make a handle of the store.
//
// A member function returning a String or an Object returns a class that is
// not trivially copyable: under this platform's C++ ABI (Itanium) the caller
// supplies the result's memory through a hidden pointer, which libffi passes
// when the declared result is an aggregate too large for registers.
//
// Nothing here checks the number or the types of the arguments: the method
// field does that before the call. A native function that faults is outside
// the interpreter's control.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "store/idtype.h"
#include "store/vals.h"

namespace tq {

class GenericStackPusher;

// A pointer to a member function as the Itanium C++ ABI lays it out: two
// words. On x86-64, ptr is the code address, or for a virtual function one
// more than the function's offset in the virtual table (odd, as code
// addresses are even); adj is added to the object pointer first. On ARM the
// virtual flag is bit 0 of adj, which holds twice the adjustment.
struct MemberPointer {
    uintptr_t ptr = 0;
    ptrdiff_t adj = 0;

    template <class M>
    static MemberPointer Of(M m) {
        static_assert(std::is_member_function_pointer_v<M>, "a pointer to a member function");
        static_assert(sizeof(M) == sizeof(MemberPointer), "an Itanium member pointer is two words");
        return std::bit_cast<MemberPointer>(m);
    }

    bool isNull() const;
    // The object pointer the function expects (self adjusted) and the code
    // address to call; self must not be null.
    void* resolve(void*& self) const;
};

class ForeignCall;

// A plain function's number result as the native call leaves it: an
// integer widened to a whole word (read its low bytes), a float or a
// double.
union NativeWord {
    uint64_t word;
    float f;
    double d;
};

class CFunctionCaller {
public:
    // A new caller for return type 1 to 7 or 10 (void); null for any other.
    static std::unique_ptr<CFunctionCaller> classFactory(uint8_t returnType);
    virtual ~CFunctionCaller();

    // Calls fn with args, listed as a call lists them (last argument
    // first); a new value of the return type, null for void.
    ValuePtr eval(const ValueList* args, void (*fn)());
    // The same with the arguments in parameter order (first argument
    // first), as a method field's binding leaves them.
    ValuePtr evalInOrder(const ValueList& params, void (*fn)());
    // The road of register code, whose numbers are native already: calls
    // fn with n arguments, forms[i] the GenericStackPusher form of
    // argument i (ARG_SHORT to ARG_DOUBLE by value, ARG_ADDRESS by
    // reference) and values[i] the address of its native storage; a number
    // result lands in result. No value is made and nothing is allocated
    // once a call of these forms was prepared; the system error code is
    // stashed as for eval. Only for return types 1 to 4 and void.
    void evalNative(void (*fn)(), const uint8_t* forms, void** values, size_t n, NativeWord& result);

protected:
    explicit CFunctionCaller(uint8_t returnType);
    // The new value of the native result in buffer.
    virtual ValuePtr make(const void* result, const GenericStackPusher& args) const = 0;

private:
    ValuePtr call(const ValueList& args, bool lastFirst, void (*fn)());

    std::unique_ptr<ForeignCall> call_;
};

class CppFunctionCaller {
public:
    // A new caller for return type 1 to 7 or 10 (void); null for any other.
    static std::unique_ptr<CppFunctionCaller> classFactory(uint8_t returnType);
    // True for the return types classFactory makes a caller for.
    static bool makesCallerFor(uint8_t returnType);
    virtual ~CppFunctionCaller();

    // Calls member m on self (a built-in object's primitive data) with
    // args, listed as a call lists them (last first). With a null self the
    // function is not called and the result is the return type's zero
    // value (0, the empty text, no object), null for void.
    ValuePtr eval(void* self, const ValueList* args, const MemberPointer& m);
    ValuePtr evalInOrder(void* self, const ValueList& params, const MemberPointer& m);

protected:
    explicit CppFunctionCaller(uint8_t returnType);
    virtual ValuePtr make(void* result) const = 0;

private:
    ValuePtr call(void* self, const ValueList& args, bool lastFirst, const MemberPointer& m);

    uint8_t returnType_;
    std::unique_ptr<ForeignCall> call_;
};

}  // namespace tq
