// Values: what the interpreter computes, passes and reads out of fields.
//
// A Value is a counted Member that knows its language type (IdType 1 to 7)
// and carries the whole operator set of the language and the conversions
// between the seven types. Two template families hold the datum:
//
//   DirectValue<T, code>    the value holds its datum (results, constants,
//                           by-value arguments, return values)
//   IndirectValue<T, code>  the value points at a datum owned elsewhere
//                           (array elements, host variables), so assigning
//                           to the value writes that datum
//
// Both derive from TypedValue<T, code>, which implements every operator once,
// for every instance, in terms of the virtual get() and set(): a value class
// that reads its datum in some other way (a field's value reads through the
// field) derives from TypedValue and supplies get() and set() only. The
// conversions of a datum type are DatumConv<T> (valconv.h); the templates'
// member definitions are in valtmpl.h, instantiated for codes 1 to 6 in
// vals.cpp. The Object instances (code 7) come with the object model, which
// supplies DatumConv<InterObj> and instantiates the templates for it.
//
// Invariants:
//  1. An operator never changes its operands; it returns a new value, or
//     raises and leaves both operands as they were. A failed set() or
//     assignment leaves the receiver as it was.
//  2. A value lives on the heap and dies when its last count goes
//     (ValuePtr, ValueList, MemberPtr); a new value holds no count.
//  3. The value classes never change a string representation that another
//     holder can see: a DirectValue replaces its handle, an IndirectValue
//     writes its text in place only when its storage holds the
//     representation alone (see DatumConv<ValString>::store).
//  4. A value takes a handle id only when something binds to it by
//     reference (refId), and gives it back when it dies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "platform/util/handle.h"
#include "platform/util/uassert.h"
#include "store/handkind.h"
#include "store/idtype.h"
#include "store/member.h"

namespace tq {

class Currency;
class GenericStackPusher;
class InterObj;
class ValString;

class ValuePtr : public CountedMemberPtr<Value> {
public:
    using CountedMemberPtr<Value>::CountedMemberPtr;
};

class Value : public Member {
public:
    // By-reference slots name values by handle id.
    static constexpr HandleTable::Kind kHandleKind = HK_VALUE;
    // Bit of the flag word: the value has been matched with a by-reference
    // parameter, so a foreign call passes its storage address.
    enum : uint32_t { VF_BYREF = 0x1 };

    ~Value() override;

    // Member slots.
    tMemberKind memberKind() const override;
    Value* asValue() override;
    // The value itself when args is null or empty; NonNullArguments
    // "Value::eval()" otherwise.
    ValuePtr virtualMemberEval(const ValueList* args) override;

    // 1. Arithmetic: a new value; the operands stay as they are.
    virtual ValuePtr operator+(const Value& r) const = 0;
    virtual ValuePtr operator*(const Value& r) const = 0;
    virtual ValuePtr operator-(const Value& r) const = 0;
    virtual ValuePtr operator/(const Value& r) const = 0;
    virtual ValuePtr operator%(const Value& r) const = 0;  // Mod
    virtual ValuePtr intDiv(const Value& r) const = 0;     // "\"
    virtual ValuePtr exp(const Value& r) const = 0;        // "^"

    // 2. Comparison: -1 when the relation holds, 0 when not.
    virtual int32_t operator>(const Value& r) const = 0;
    virtual int32_t operator<(const Value& r) const = 0;
    virtual int32_t operator==(const Value& r) const = 0;
    virtual int32_t operator!=(const Value& r) const = 0;
    virtual int32_t operator>=(const Value& r) const = 0;
    virtual int32_t operator<=(const Value& r) const = 0;

    // 3. Logic, bit by bit on 32-bit values.
    virtual int32_t operator&(const Value& r) const = 0;
    virtual int32_t operator|(const Value& r) const = 0;
    virtual int32_t operator^(const Value& r) const = 0;
    virtual int32_t operator~() const = 0;
    virtual int32_t eqv(const Value& r) const = 0;
    virtual int32_t imp(const Value& r) const = 0;

    // 4. Assignment, converting r into this value's own type.
    virtual Value& operator=(const Value& r) = 0;

    // 5. Reading the value as each type.
    virtual void get(int16_t& out) const = 0;
    virtual void get(int32_t& out) const = 0;
    virtual void get(float& out) const = 0;
    virtual void get(double& out) const = 0;
    virtual void get(Currency& out) const = 0;
    virtual void get(ValString& out) const = 0;
    virtual void get(InterObj& out) const = 0;

    // 6. Writing the value from each type.
    virtual void set(int16_t v) = 0;
    virtual void set(int32_t v) = 0;
    virtual void set(float v) = 0;
    virtual void set(double v) = 0;
    virtual void set(const Currency& v) = 0;
    virtual void set(const ValString& v) = 0;
    virtual void set(const InterObj& v) = 0;

    // 7. Address of the value's storage, for passing it by reference; null
    //    when it has none.
    virtual void* getVoidPtr();

    // 8. Adds the value to a foreign call's arguments, by value. The base has
    //    nothing to pass: Is_Null "Value::getStackPusher()" (32744).
    virtual void getStackPusher(GenericStackPusher& pusher) const;

    // Adds the value to a foreign call's arguments by reference: the
    // address of its storage, or for a Currency or a String a copy that is
    // stored back after the call (stkpush.h). InvalidByRef (32754) when it
    // has no storage, and for an Object.
    void getByRefStackPusher(GenericStackPusher& pusher);

    // The value read as X: v.as<double>(), v.as<ValString>().
    template <class X>
    X as() const {
        X x{};
        get(x);
        return x;
    }

    uint32_t valueFlags() const { return flags_; }
    bool isByRef() const { return (flags_ & VF_BYREF) != 0; }
    void setByRef(bool byRef) { flags_ = byRef ? (flags_ | VF_BYREF) : (flags_ & ~VF_BYREF); }

    // The id under which a by-reference slot names this value; taken on the
    // first call, given back when the value dies.
    HandleTable::Id refId();
    // The value a by-reference slot names; null for 0 or a value gone.
    static Value* FromRefId(HandleTable::Id id);

    // Values alive now (made and not yet destroyed), for leak checks.
    static size_t LiveCount();

    // Values come from the store's small-object allocator.
    static void* operator new(std::size_t size);
    static void operator delete(void* p, std::size_t size) noexcept;

protected:
    Value();
    Value(const Value&);

private:
    uint32_t flags_ = 0;
    HandleTable::Id refId_ = 0;
};

// An ordered list of counted values: argument lists and the evaluation stack.
// Entry 0 is the first (the top); ppush adds in front, append at the end.
// Copying shares the values; destroying releases every entry.
//
// The first kInline entries live in the list itself: a call's argument
// list, made and dropped for every call, then costs no heap allocation.
class ValueList {
public:
    static constexpr uint32_t kInline = 4;

    ValueList() = default;
    ValueList(std::initializer_list<ValuePtr> values) {
        for (const ValuePtr& v : values) append(v);
    }
    ValueList(const ValueList& other) {
        for (const ValuePtr& v : other) append(v);
    }
    ValueList(ValueList&& other) noexcept { take(other); }
    ValueList& operator=(const ValueList& other) {
        if (this != &other) {
            ValueList copy(other);
            clear();
            take(copy);
        }
        return *this;
    }
    ValueList& operator=(ValueList&& other) noexcept {
        if (this != &other) {
            clear();
            take(other);
        }
        return *this;
    }

    // Both take the value's count before the list grows, so a new value is
    // never lost when growing fails.
    void ppush(ValuePtr v) { insert(0, std::move(v)); }
    void append(ValuePtr v) { insert(size_, std::move(v)); }
    // The first entry, without removing it; null when the list is empty.
    Value* ptop() const { return size_ ? data()[0].get() : nullptr; }
    // Removes the first entry and hands it over with its count.
    ValuePtr pop();
    int32_t length() const { return static_cast<int32_t>(size_); }
    bool isEmpty() const { return size_ == 0; }
    // Entry i counted from the first; i must be below length().
    Value* at(int32_t i) const {
        TQ_ASSERT(i >= 0 && i < length(), "i >= 0 && i < length()");
        return data()[i].get();
    }
    void clear();

    const ValuePtr* begin() const { return data(); }
    const ValuePtr* end() const { return data() + size_; }

private:
    const ValuePtr* data() const { return spilled_ ? more_.data() : inline_; }
    // A call's arguments mostly fit inline: that insert is a few moves.
    void insert(uint32_t at, ValuePtr v) {
        if (spilled_ || size_ >= kInline) return insertSpilling(at, std::move(v));
        for (uint32_t i = size_; i > at; --i) inline_[i] = std::move(inline_[i - 1]);
        inline_[at] = std::move(v);
        ++size_;
    }
    void insertSpilling(uint32_t at, ValuePtr v);
    // Takes every entry of other, which is left empty.
    void take(ValueList& other) noexcept;

    ValuePtr inline_[kInline];
    // Every entry, once there have been more than kInline.
    std::vector<ValuePtr> more_;
    uint32_t size_ = 0;
    bool spilled_ = false;
};

// A new DirectValue of type code: the default datum of the type when init is
// null, else init converted to the type. Only the low five bits of code
// count. Codes 1 to 6 are made here, the Object code 7 by the object model's
// instance; any other code raises TypeMismatch "DirectValueClassFactory".
ValuePtr DirectValueClassFactory(IdType code, const Value* init);

// How the datum of type T converts to and from every value type, how it is
// stored through a pointer and how it is passed to a foreign call. Each datum
// type specialises it (valconv.h for codes 1 to 6; InterObj with the object
// model). A specialisation provides, for X each of int16_t, int32_t, float,
// double, Currency, ValString and InterObj:
//
//   static void get(const T& d, X& out);   d read as X (Value::get)
//   static T from(X v);                    what set(v) stores; raises
//                                          before anything is stored
//   static T defaultDatum();               0, the empty string, no object
//   static void store(T& slot, T&& d);     writes through an IndirectValue
//   static void push(const T& d, GenericStackPusher& pusher);
//
// and, for the Object datum only, the two operations in which objects
// differ from other values:
//
//   static bool identical(const Value& self, const Value& r);  = and <>
//   static ValuePtr evalWithArgs(Value& self, const ValueList* args);
template <class T>
struct DatumConv;

// The operator set, written once for every value of type code whose datum
// is a T, on top of the virtual get() and set().
template <class T, IdType code>
class TypedValue : public Value {
public:
    IdType type() const override { return code; }
    ValuePtr virtualMemberEval(const ValueList* args) override;

    ValuePtr operator+(const Value& r) const override;
    ValuePtr operator*(const Value& r) const override;
    ValuePtr operator-(const Value& r) const override;
    ValuePtr operator/(const Value& r) const override;
    ValuePtr operator%(const Value& r) const override;
    ValuePtr intDiv(const Value& r) const override;
    ValuePtr exp(const Value& r) const override;

    int32_t operator>(const Value& r) const override;
    int32_t operator<(const Value& r) const override;
    int32_t operator==(const Value& r) const override;
    int32_t operator!=(const Value& r) const override;
    int32_t operator>=(const Value& r) const override;
    int32_t operator<=(const Value& r) const override;

    int32_t operator&(const Value& r) const override;
    int32_t operator|(const Value& r) const override;
    int32_t operator^(const Value& r) const override;
    int32_t operator~() const override;
    int32_t eqv(const Value& r) const override;
    int32_t imp(const Value& r) const override;

    // this.set(r.get(T)): r is read first, so a failure leaves this value
    // as it was.
    Value& operator=(const Value& r) override;
    TypedValue& operator=(const TypedValue& r);

protected:
    TypedValue() {
        if constexpr (code != IDT_OBJECT) this->traits_ |= kSelfValued;
    }
    TypedValue(const TypedValue& other) : Value(other) {}
};

// A value that holds its datum.
template <class T, IdType code>
class DirectValue final : public TypedValue<T, code> {
public:
    // The default datum of the type (0, the empty string, no object).
    DirectValue();
    explicit DirectValue(const T& datum);
    // v read as T.
    explicit DirectValue(const Value& v);
    DirectValue(const DirectValue& v);

    using TypedValue<T, code>::operator=;
    DirectValue& operator=(const DirectValue& r);

    bool isDirect() const override { return true; }
    void* getVoidPtr() override { return &datum_; }
    void getStackPusher(GenericStackPusher& pusher) const override;

    void get(int16_t& out) const override;
    void get(int32_t& out) const override;
    void get(float& out) const override;
    void get(double& out) const override;
    void get(Currency& out) const override;
    void get(ValString& out) const override;
    void get(InterObj& out) const override;

    void set(int16_t v) override;
    void set(int32_t v) override;
    void set(float v) override;
    void set(double v) override;
    void set(const Currency& v) override;
    void set(const ValString& v) override;
    void set(const InterObj& v) override;

    const T& datum() const { return datum_; }

private:
    static constexpr uint16_t kHeldTrait =
        code == IDT_LONG ? Member::kLongDatum : (code == IDT_DOUBLE ? Member::kDoubleDatum : 0);

    T datum_;
};

// A value that reads and writes a datum owned elsewhere.
template <class T, IdType code>
class IndirectValue final : public TypedValue<T, code> {
public:
    // datum must outlive the value.
    explicit IndirectValue(T* datum);
    IndirectValue(const IndirectValue& v);

    using TypedValue<T, code>::operator=;
    IndirectValue& operator=(const IndirectValue& r);

    void* getVoidPtr() override { return datum_; }
    void getStackPusher(GenericStackPusher& pusher) const override;

    void get(int16_t& out) const override;
    void get(int32_t& out) const override;
    void get(float& out) const override;
    void get(double& out) const override;
    void get(Currency& out) const override;
    void get(ValString& out) const override;
    void get(InterObj& out) const override;

    void set(int16_t v) override;
    void set(int32_t v) override;
    void set(float v) override;
    void set(double v) override;
    void set(const Currency& v) override;
    void set(const ValString& v) override;
    void set(const InterObj& v) override;

    T* datumPtr() const { return datum_; }

private:
    T* datum_;
};

// The instances of codes 1 to 6 (made in vals.cpp); the Object instances
// are the object model's.
using IntegerValue = DirectValue<int16_t, IDT_SHORT>;
using LongValue = DirectValue<int32_t, IDT_LONG>;
using SingleValue = DirectValue<float, IDT_FLOAT>;
using DoubleValue = DirectValue<double, IDT_DOUBLE>;
using CurrencyValue = DirectValue<Currency, IDT_CURRENCY>;
using StringValue = DirectValue<ValString, IDT_STRING>;

}  // namespace tq
