#include "store/idtype.h"

#include "platform/util/uassert.h"

namespace tq {

const char* const IdTypeString::typeStrings[11] = {
    "untyped", "Integer", "Long",    "Single",  "Double", "Currency",
    "String",  "Object",  "Fixed",   "Variant", "void",
};

const char IdTypeString::typeChars[7] = "%&!#@$";

const char* IdTypeString::string() const {
    TQ_ASSERT((type_ & IDT_TYPEMASK) >= IDT_SHORT, "(t&IDT_TYPEMASK) >= IDT_SHORT");
    TQ_ASSERT((type_ & IDT_TYPEMASK) <= IDT_VOID, "(t&IDT_TYPEMASK) <= IDT_VOID");
    return typeStrings[type_ & IDT_TYPEMASK];
}

char IdTypeString::asChar() const {
    TQ_ASSERT((type_ & IDT_TYPEMASK) >= IDT_SHORT, "(t&IDT_TYPEMASK) >= IDT_SHORT");
    TQ_ASSERT((type_ & IDT_TYPEMASK) <= IDT_STRING, "(t&IDT_TYPEMASK) <= IDT_STRING");
    return typeChars[(type_ & IDT_TYPEMASK) - 1];
}

const char* IdTypeString::NameOf(IdType t) {
    const unsigned code = t & IDT_TYPEMASK;
    return code <= IDT_VOID ? typeStrings[code] : "unknown";
}

}  // namespace tq
