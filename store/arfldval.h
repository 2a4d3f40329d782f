// ArrayReferenceFieldValue: the value of a whole array.
//
// Naming an array without indices gives this value: the array field, its
// object and the owner signature, as a by-reference array parameter holds
// them. It is what ReDim, LBound and UBound take and what an array argument
// passes. Applied to indices it yields the element; every other operation
// (arithmetic, comparison, reading and writing it as a datum) fails with
// TypeMismatch ("Value::operator??()", "Value::get()", "Value::set()").
//
// An array that has been resized since the value was made is followed to
// its new field of the same name, so a procedure that resizes an array it
// was passed resizes the caller's array and sees the new shape. A frame's
// locals that a resize moved to a signature of their own are followed
// there.
//
// For the interpreter's unboxed readers the value also remembers where the
// elements lie (elements()): the array field, the object and the bytes of
// its first element. That place is used only while the field look-up
// revision is the one it was found in (no field resized, removed, listed or
// given other flags anywhere, and no signature given another parent, so
// the array is the same field at the same offset with the same dimensions
// and Const flag), the object's own handle id still names the object it was
// found on, and that object's data block is the one found. Otherwise it is
// found again, as arrayField follows the array.
#pragma once

#include <cstdint>

#include "platform/util/handle.h"
#include "store/arrayfld.h"
#include "store/field.h"
#include "store/model/interobj.h"
#include "store/vals.h"

namespace tq {

class ArrayReferenceFieldValue final : public Value {
public:
    ArrayReferenceFieldValue(InterArrayField& array, InterObjRep& obj, SignatureRep& owner);

    // The element type code with IDT_ARRAY.
    IdType type() const override;
    // No arguments: the value itself; with arguments: the element they
    // index (ArrayField::elementOffset gives the failures).
    ValuePtr virtualMemberEval(const ValueList* args) override;
    InterObjRep* owner() const override { return obj_.get(); }
    Field* field() const override { return arrayField(); }

    // The array field as it stands now (see above).
    InterArrayField* arrayField() const;
    // The same with the object and the owner signature it stands in now,
    // each followed once (for readers of single elements).
    InterArrayField* arrayField(InterObjRep*& obj, SignatureRep*& owner) const;
    InterObjRep* object() const { return obj_.get(); }
    SignatureRep* ownerSignature() const { return owner_.get(); }

    // Where the elements lie now (see above).
    struct Elements {
        InterArrayField* array = nullptr;
        InterObjRep* obj = nullptr;
        uint8_t* first = nullptr;  // the bytes of the element at offset 0
        IdType type = 0;           // the element type, without IDT_ARRAY
        bool writable = false;     // false for a Const array
    };
    // The elements' place; null when there is none to use (no object, an
    // object without its data, an array being removed): the general path
    // then decides, with its messages.
    [[gnu::always_inline]] const Elements* elements() const {
        // The id first: only an object it still names may be asked for
        // its block.
        if (revision_ == FieldLookupRevision::current() &&
            HandleTable::Global().getAs<InterObjRep>(objectId_) == elements_.obj && elements_.obj->data() == data_)
            [[likely]]
            return &elements_;
        return locateElements();
    }

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
    Value& operator=(const Value& r) override;

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
    // A whole array has no C form: passed by value to a library procedure
    // it fails as reading it as a datum does.
    void getStackPusher(GenericStackPusher& pusher) const override;

private:
    [[gnu::noinline]] const Elements* locateElements() const;

    mutable FieldPtr array_;
    InterObj obj_;
    mutable Signature owner_;
    // The place elements() gives while revision_ (never 0, which marks no
    // place) is current; elements_.array is held by array_ meanwhile, which
    // only a changed layout, and so a new revision, makes follow another
    // field.
    mutable uint64_t revision_ = 0;
    mutable Elements elements_;
    mutable const uint8_t* data_ = nullptr;
    mutable HandleTable::Id objectId_ = 0;
};

}  // namespace tq
