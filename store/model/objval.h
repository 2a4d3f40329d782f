// Object values: the Value instances of type code 7 (Object).
//
// An object value holds (DirectValue) or points at (IndirectValue) an
// InterObj handle. Objects differ from the other value types in three ways:
//  - = and <> compare the identity of the objects referred to (two null
//    handles are equal); every other operator reads them as numbers, which
//    fails with TypeMismatch "Value::get()";
//  - read as a String an object value gives its object's alias (the empty
//    text for no object); written from anything but an object it fails with
//    TypeMismatch "Value::set()";
//  - evaluated with arguments it passes them to its object (StoreException
//    32744 for no object, NonNullArguments when the object does not handle
//    them).
#pragma once

#include "store/model/interobj.h"
#include "store/valconv.h"
#include "store/vals.h"

namespace tq {

template <>
struct DatumConv<InterObj> {
    [[noreturn]] static void NotANumber();
    [[noreturn]] static void NotAnObject();

    static void get(const InterObj&, int16_t&) { NotANumber(); }
    static void get(const InterObj&, int32_t&) { NotANumber(); }
    static void get(const InterObj&, float&) { NotANumber(); }
    static void get(const InterObj&, double&) { NotANumber(); }
    static void get(const InterObj&, Currency&) { NotANumber(); }
    static void get(const InterObj& d, ValString& out);
    static void get(const InterObj& d, InterObj& out) { out = d; }

    [[noreturn]] static InterObj from(int16_t) { NotAnObject(); }
    [[noreturn]] static InterObj from(int32_t) { NotAnObject(); }
    [[noreturn]] static InterObj from(float) { NotAnObject(); }
    [[noreturn]] static InterObj from(double) { NotAnObject(); }
    [[noreturn]] static InterObj from(const Currency&) { NotAnObject(); }
    [[noreturn]] static InterObj from(const ValString&) { NotAnObject(); }
    static InterObj from(const InterObj& o) { return o; }

    static InterObj defaultDatum() { return InterObj(); }
    static void store(InterObj& slot, const InterObj& d) { slot = d; }
    // An object passes the address of a handle to it (stkpush.h).
    static void push(const InterObj& d, GenericStackPusher& pusher);

    static bool identical(const Value& self, const Value& r);
    static ValuePtr evalWithArgs(Value& self, const ValueList* args);
};

using ObjectValue = DirectValue<InterObj, IDT_OBJECT>;
using IndirectObjectValue = IndirectValue<InterObj, IDT_OBJECT>;

extern template class TypedValue<InterObj, IDT_OBJECT>;
extern template class DirectValue<InterObj, IDT_OBJECT>;
extern template class IndirectValue<InterObj, IDT_OBJECT>;

}  // namespace tq
