// IdType: the one-byte type code of the language.
//
// Module records store the code as one byte whose low five bits carry the type
// (IDT_TYPEMASK); the upper bits belong to whoever stores the byte, so every
// test of a type looks at the masked code only.
#pragma once

#include <cstdint>

namespace tq {

using IdType = uint8_t;

enum : IdType {
    IDT_UNTYPED = 0,
    IDT_SHORT = 1,     // Integer, 16-bit
    IDT_LONG = 2,      // Long, 32-bit
    IDT_FLOAT = 3,     // Single
    IDT_DOUBLE = 4,    // Double
    IDT_CURRENCY = 5,  // Currency, a double holding hundredths
    IDT_STRING = 6,
    IDT_OBJECT = 7,
    IDT_FIXED = 8,
    IDT_VARIANT = 9,
    IDT_VOID = 10,
    IDT_TYPEMASK = 0x1F,
};

// The names and suffix characters the language shows for a type code.
class IdTypeString {
public:
    explicit IdTypeString(IdType t) : type_(t) {}

    // "Integer" ... "void"; codes 1 to 10 only.
    const char* string() const;
    // The suffix character '%' ... '$'; codes 1 to 6 only.
    char asChar() const;

    // The name of any code, "untyped" for 0; codes past the table read as
    // "unknown". For texts built while something is already failing, where a
    // second, assertion failure would hide the first.
    static const char* NameOf(IdType t);

    static const char* const typeStrings[11];
    static const char typeChars[7];

private:
    IdType type_;
};

}  // namespace tq
