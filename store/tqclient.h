// The client handles: how a host program holds strings, values and objects
// of the store and calls into the language without touching the
// representations behind them.
//
//   TessaroString   one counted reference to a string (ValStringRep)
//   TessaroValue    one counted pointer to an evaluation result (Value)
//   TessaroObject   one counted reference to an object (InterObjRep), with
//                   Find (an object by path), GetName and Eval (a member
//                   called with arguments described by a format string)
//
// A host starts the library with TessaroInitializer (tqstore.h) and then
// needs nothing else from the store to run its objects' procedures:
//
//   TessaroObject settings;
//   if (settings.Find("Settings")) {
//       int32_t width = settings.Eval("Width", nullptr);
//       settings.Eval("Resize", "ll", int32_t(800), int32_t(600));
//   }
//
// The format letters of Eval, each taking one variable argument, "&" before
// a letter passing the host's variable itself (a pointer to it):
//
//   letter  by value                 by reference "&"   language type
//   i       int, used as 16 bits     int16_t*           Integer
//   l       int32_t                  int32_t*           Long
//   f       double, narrowed         float*             Single
//   d       double                   double*            Double
//   s       const char* (copied)     ValString*         String
//   o       InterObjRep*             InterObj*          Object
//
// Any other character adds no argument and takes no variable argument; an
// "&" holds until the next letter. A procedure that assigns a parameter
// passed by reference writes the host's variable.
//
// Invariants:
//  1. Every handle holds exactly one count of what it names, or nothing;
//     assigning takes the new count before giving up the old, so assigning
//     a handle what it already holds never frees it.
//  2. Eval on a null handle (one never given an object) evaluates nothing
//     and gives a null value; on a handle whose object has since gone
//     (destroyed, or its module unloaded) it raises Is_Null "object is null".
//  3. Eval either runs the member with every argument in place or raises
//     before running anything: a bad format, a member that does not exist
//     or arguments the procedure refuses leave the host's variables as they
//     were.
//  4. A null TessaroValue converts to 0, to a null string and to a null
//     object.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "store/model/interobj.h"
#include "store/persist/vlstrrep.h"
#include "store/vals.h"

namespace tq {

class TessaroObject;
struct RegNumber;

// One number a host passes by value: its language type (Integer, Long,
// Single or Double) and the number, an Integer in l.
struct ClientNumber {
    IdType type;
    union {
        int32_t l;
        float f;
        double d;
    };
};

class TessaroString {
public:
    TessaroString() = default;
    TessaroString(const TessaroString&) = default;
    TessaroString(ValStringRep* rep) : ref_(rep) {}
    // A new detached string holding text (the empty text for null).
    TessaroString(const char* text) : ref_(text) {}

    TessaroString& operator=(const TessaroString&) = default;
    TessaroString& operator=(ValStringRep* rep);
    TessaroString& operator=(const char* text);

    // The text, or null for a null handle.
    operator const char*() const;
    operator ValStringRep*() const { return ref_.get(); }

    bool IsNull() const { return ref_.get() == nullptr; }

private:
    ValString ref_;
};

class TessaroValue {
public:
    TessaroValue() = default;
    TessaroValue(const TessaroValue&) = default;
    TessaroValue(Value* v) : ref_(v) {}
    TessaroValue(ValuePtr v) : ref_(std::move(v)) {}
    // A number a call gave back (of type Integer, Long, Single or Double),
    // held in place: its value is made only when one is asked for.
    explicit TessaroValue(const ClientNumber& n) : number_(n) {}

    // Both take the new count before dropping the old one.
    TessaroValue& operator=(const TessaroValue&) = default;
    TessaroValue& operator=(Value* v) {
        ref_.reset(v);
        number_.type = IDT_UNTYPED;
        return *this;
    }

    // The value's own conversions (a String that is no number raises
    // ConvertFailed, an Object read as a number TypeMismatch); 0 for null.
    // A number held in place read as its own type is itself.
    operator int16_t() const { return number_.type == IDT_SHORT ? static_cast<int16_t>(number_.l) : asInteger(); }
    operator int32_t() const { return number_.type == IDT_LONG ? number_.l : asLong(); }
    operator float() const { return number_.type == IDT_FLOAT ? number_.f : asSingle(); }
    operator double() const { return number_.type == IDT_DOUBLE ? number_.d : asDouble(); }
    // The value read as a String; a null string for null.
    operator TessaroString() const;
    // The value read as an Object; a null object for null.
    operator TessaroObject() const;
    // The value, made from a number held in place on first asking; the
    // handle keeps it.
    operator Value*() const;

    bool IsNull() const { return ref_.get() == nullptr && number_.type == IDT_UNTYPED; }

private:
    int16_t asInteger() const;
    int32_t asLong() const;
    float asSingle() const;
    double asDouble() const;

    // A number held in place (type IDT_UNTYPED: none) reads as the value of
    // its type reads; ref_ is that value once made, or the value given.
    mutable ValuePtr ref_;
    ClientNumber number_{};
};

class TessaroObject {
public:
    TessaroObject() = default;
    TessaroObject(const TessaroObject&) = default;
    TessaroObject(InterObjRep* obj) : ref_(obj) {}

    TessaroObject& operator=(const TessaroObject&) = default;
    TessaroObject& operator=(InterObjRep* obj);

    // The same object (or both null).
    bool operator==(const TessaroObject& other) const { return ref_ == other.ref_; }

    operator InterObjRep*() const { return ref_.get(); }
    bool IsNull() const { return ref_.isNull(); }

    // The object a dotted path names ("Settings", "Settings.Window", or an
    // alias): true and the handle takes it, or false and the handle stays
    // as it was.
    bool Find(const char* path);

    // The object's name as a new string in out, and its length; 0 with out
    // unchanged for a null object or one without a name.
    int32_t GetName(TessaroString& out) const;

    // Calls member on the object with the arguments argFormat describes
    // (null or "" for none) and gives its value (null for a Sub). A member
    // the object does not have raises NotFound 32740; the procedure's own
    // checks raise for the wrong number or types of arguments.
    TessaroValue Eval(const char* member, const char* argFormat, ...) const;
    TessaroValue EvalV(const char* member, const char* argFormat, va_list args) const;

    // The same with the argument list already made, the first argument
    // last in the list as calls of the language make it. Eval and Call
    // (tqcall.h) both end here.
    TessaroValue EvalList(const char* member, ValueList& args) const;
    // The same with n numbers given by value, in the order written (Eval's
    // letters i, l, f and d; Call's number arguments): a procedure that
    // runs in register form takes them into its registers, with no value
    // made for them.
    TessaroValue EvalNumbers(const char* member, const ClientNumber* args, size_t n) const;

    // Assigns v to the member, as the language's "obj.member = v" does,
    // converting into the member's type. A null handle raises Is_Null: an
    // assignment cannot be dropped silently.
    void Assign(const char* member, const Value& v);

private:
    // Raises Is_Null when the handle names an object that has gone;
    // false for a handle never given one.
    InterObjRep* live(const char* where) const;
    // EvalNumbers with the numbers as registers hold them.
    TessaroValue evalRegisters(const char* member, const RegNumber* args, size_t n) const;

    InterObj ref_;
};

// The value a by-value format letter makes: one per language type, shared
// by Eval's letters and the typed arguments of Call.
ValuePtr ClientArgument(int16_t v);
ValuePtr ClientArgument(int32_t v);
ValuePtr ClientArgument(float v);
ValuePtr ClientArgument(double v);
ValuePtr ClientArgument(const char* text);
ValuePtr ClientArgument(InterObjRep* obj);
// The value an "&" letter makes: it reads and writes the host's variable.
// A null pointer raises InvalidByRef 32754.
ValuePtr ClientReference(int16_t* v);
ValuePtr ClientReference(int32_t* v);
ValuePtr ClientReference(float* v);
ValuePtr ClientReference(double* v);
ValuePtr ClientReference(ValString* v);
ValuePtr ClientReference(InterObj* v);

}  // namespace tq
