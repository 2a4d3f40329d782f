// The client handles for C++20 hosts: the same calls as Eval's format
// string, with the argument list made from typed C++ arguments, so that a
// mismatch between what the host passes and what it claims to pass is a
// compile error instead of a misread variable argument.
//
//   Call(obj, "Resize", 800, 600)        Eval("Resize", "ll", 800, 600)
//   Call(obj, "Bump", &count)            Eval("Bump", "&l", &count)
//   GetField<int32_t>(obj, "Width")      (int32_t)obj.Eval("Width", nullptr)
//   SetField(obj, "Title", "Main")       obj.Title = "Main" in the language
//
// Each C++ argument type stands for one format letter:
//
//   int16_t i    int32_t (int) l    float f    double d
//   const char*, std::string, std::string_view s    InterObjRep*, TessaroObject o
//
// and a pointer to int16_t, int32_t, float, double, ValString or InterObj
// for the same letter after "&". Any other type (long, bool, unsigned, a
// char) does not compile: it has no language type it would keep its value
// in. Nothing here has meaning of its own; every call ends in
// TessaroObject::EvalList, EvalNumbers (numbers only) or Assign.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "store/tqclient.h"

namespace tq {

namespace detail {

template <class T>
using Plain = std::remove_cvref_t<T>;

template <class T>
concept ClientByValue =
    std::same_as<Plain<T>, int16_t> || std::same_as<Plain<T>, int32_t> || std::same_as<Plain<T>, float> ||
    std::same_as<Plain<T>, double> || std::same_as<Plain<T>, InterObjRep*> ||
    std::same_as<Plain<T>, TessaroObject> || std::same_as<Plain<T>, std::string> ||
    std::same_as<Plain<T>, std::string_view> || std::same_as<std::decay_t<T>, const char*> ||
    std::same_as<std::decay_t<T>, char*>;

template <class T>
concept ClientByReference =
    std::same_as<T, int16_t*> || std::same_as<T, int32_t*> || std::same_as<T, float*> ||
    std::same_as<T, double*> || std::same_as<T, ValString*> || std::same_as<T, InterObj*>;

template <class T>
concept ClientArg = ClientByValue<T> || ClientByReference<Plain<T>>;

// A number passed by value, which needs no value of its own.
template <class T>
concept ClientNumberArg = std::same_as<Plain<T>, int16_t> || std::same_as<Plain<T>, int32_t> ||
                          std::same_as<Plain<T>, float> || std::same_as<Plain<T>, double>;

template <class T>
ClientNumber MakeNumber(T v) {
    ClientNumber n;
    if constexpr (std::same_as<T, int16_t>) {
        n.type = IDT_SHORT;
        n.l = v;
    } else if constexpr (std::same_as<T, int32_t>) {
        n.type = IDT_LONG;
        n.l = v;
    } else if constexpr (std::same_as<T, float>) {
        n.type = IDT_FLOAT;
        n.f = v;
    } else {
        n.type = IDT_DOUBLE;
        n.d = v;
    }
    return n;
}

template <class T>
ValuePtr MakeArgument(T&& arg) {
    if constexpr (ClientByReference<Plain<T>>) {
        return ClientReference(arg);
    } else if constexpr (std::same_as<Plain<T>, TessaroObject>) {
        return ClientArgument(static_cast<InterObjRep*>(arg));
    } else if constexpr (std::same_as<Plain<T>, std::string>) {
        return ClientArgument(arg.c_str());
    } else if constexpr (std::same_as<Plain<T>, std::string_view>) {
        return ClientArgument(std::string(arg).c_str());
    } else {
        return ClientArgument(arg);
    }
}

}  // namespace detail

// Calls member on obj with args in the order written; the value as Eval
// gives it (null for a Sub, and for a null handle, which runs nothing).
template <detail::ClientArg... Args>
TessaroValue Call(const TessaroObject& obj, const char* member, Args&&... args) {
    if constexpr ((detail::ClientNumberArg<Args> && ...)) {
        const ClientNumber numbers[sizeof...(Args) + 1] = {detail::MakeNumber<detail::Plain<Args>>(args)...};
        return obj.EvalNumbers(member, numbers, sizeof...(Args));
    } else {
        ValueList list;
        // Calls list their arguments last first.
        (list.ppush(detail::MakeArgument(std::forward<Args>(args))), ...);
        return obj.EvalList(member, list);
    }
}

// The member read as T: int16_t, int32_t, float, double, std::string,
// TessaroString or TessaroObject. A null handle reads as 0, the empty text
// or a null object, as Eval's null value converts.
template <class T>
T GetField(const TessaroObject& obj, const char* member) {
    ValueList none;
    const TessaroValue v = obj.EvalList(member, none);
    if constexpr (std::same_as<T, std::string>) {
        // The handle keeps the text alive while it is copied.
        const TessaroString held = v;
        const char* text = held;
        return text ? std::string(text) : std::string();
    } else {
        return static_cast<T>(v);
    }
}

// Assigns value to the member, converting into the member's type.
template <detail::ClientByValue T>
void SetField(TessaroObject& obj, const char* member, T&& value) {
    obj.Assign(member, *detail::MakeArgument(std::forward<T>(value)));
}

}  // namespace tq
