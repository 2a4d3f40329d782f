// Field values: the Value that reading a data field gives.
//
// A FieldValue holds the field, its object (counted) and the owner
// signature, and performs every get, set and operator through the field on
// the object: assigning to it writes the object's data, and it never holds
// the datum itself, so a value kept while the object's block is rebuilt
// (a field added or removed elsewhere in the chain) still reads the right
// bytes. Its type is the field's. A value that outlives its field's removal
// refuses every access (StoreException 32745). A value of a frame's locals
// follows them to the signature of their own that resizing one of their
// arrays gives them.
#pragma once

#include <cstdint>
#include <type_traits>

#include "platform/util/handle.h"
#include "store/datumacc.h"
#include "store/errors/storeexc.h"
#include "store/field.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/objval.h"
#include "store/vals.h"
#include "store/valtmpl.h"

namespace tq {

template <class T, IdType code>
class FieldValue : public TypedValue<T, code> {
public:
    FieldValue(Field& f, InterObjRep& obj, SignatureRep& owner) : field_(&f), obj_(&obj), owner_(&owner) {}

    using TypedValue<T, code>::operator=;

    void get(int16_t& out) const override { live().get(out, *obj_, *owner_); }
    void get(int32_t& out) const override { live().get(out, *obj_, *owner_); }
    void get(float& out) const override { live().get(out, *obj_, *owner_); }
    void get(double& out) const override { live().get(out, *obj_, *owner_); }
    void get(Currency& out) const override { live().get(out, *obj_, *owner_); }
    void get(ValString& out) const override { live().get(out, *obj_, *owner_); }
    void get(InterObj& out) const override { live().get(out, *obj_, *owner_); }
    void set(int16_t v) override { live().set(v, *obj_, *owner_); }
    void set(int32_t v) override { live().set(v, *obj_, *owner_); }
    void set(float v) override { live().set(v, *obj_, *owner_); }
    void set(double v) override { live().set(v, *obj_, *owner_); }
    void set(const Currency& v) override { live().set(v, *obj_, *owner_); }
    void set(const ValString& v) override { live().set(v, *obj_, *owner_); }
    void set(const InterObj& v) override { live().set(v, *obj_, *owner_); }

    void* getVoidPtr() override { return live().getVoidPtr(*obj_, *owner_); }
    void getStackPusher(GenericStackPusher& pusher) const override {
        T datum = DatumConv<T>::defaultDatum();
        get(datum);
        DatumConv<T>::push(datum, pusher);
    }
    InterObjRep* owner() const override { return obj_.get(); }
    Field* field() const override { return field_.get(); }

protected:
    // The field, while it still lays out the object. Once it is removed (or
    // resized) its offset names other fields' bytes: reading a String or an
    // Object from them would build a handle out of another field's data, so
    // every access is refused as an element of a resized array is, with
    // StoreException 32745.
    Field& live() const {
        if (InterObjRep* o = obj_.get()) o->followPrivateLocals(field_, owner_);
        if (field_->isBeingRemoved()) throw StoreException(32745u);
        return *field_.get();
    }

    mutable FieldPtr field_;
    InterObj obj_;
    mutable Signature owner_;
};

// The member a lookup cache keeps for a data field of a number type
// (Integer, Long, Single, Double, Currency) of an object that is not a
// frame's locals. It is the same variable as the FieldValue it refines, but
// it remembers where the datum lies (the object, its data block and the
// field's offset in it) and reads and writes the bytes there, without
// following the field, the object and the owner signature on every access.
//
// Invariants:
//  1. The place found is used only while the field look-up revision is the
//     one it was found in (no field listed, unlisted, resized or given other
//     flags and no signature given another parent anywhere, so the field's
//     offset, its owner's parent size and its Const flag are as they were),
//     the object reference still reaches the object it was found on, and
//     that object's data block is the one found (same address and size).
//     Otherwise the place is found again; a field being removed, or an
//     object without its data, finds none and the FieldValue decides, with
//     its messages.
//  2. Writing a number field stores the datum and marks the object changed,
//     nothing more: no event, no watch and no other object is told. A Const
//     field's write goes to the FieldValue, which refuses it. Conversions
//     (and their overflow messages) are the value rules', before any byte
//     is written.
// The class is the library's own (a host reaches it only as a Value), so its
// virtual table and type information are not exported: each one exported
// costs every process a symbol look-up at load.
template <class T, IdType code>
class [[gnu::visibility("hidden")]] DatumFieldValue final
    : public DatumAccess<FieldValue<T, code>, DatumFieldValue<T, code>> {
    static_assert(code == IDT_SHORT || code == IDT_LONG || code == IDT_FLOAT || code == IDT_DOUBLE ||
                      code == IDT_CURRENCY,
                  "number fields only");

public:
    DatumFieldValue(DataField& f, InterObjRep& obj, SignatureRep& owner)
        : DatumAccess<FieldValue<T, code>, DatumFieldValue>(f, obj, owner) {
        if constexpr (code == IDT_LONG) this->traits_ |= Member::kLongField;
        if constexpr (code == IDT_DOUBLE) this->traits_ |= Member::kDoubleField;
    }

    using FieldValue<T, code>::operator=;

    // The datum's bytes while the place found holds (invariant 1), found
    // again when it does not; null when the FieldValue must decide.
    const uint8_t* readPlace() const { return placeHolds() ? data_ + offset_ : locate(); }
    // The same for a write: null also for a Const field. Whoever writes
    // there tells object() it changed.
    uint8_t* writePlace() const {
        uint8_t* at = placeHolds() ? data_ + offset_ : locate();
        return at && !constant_ ? at : nullptr;
    }
    // The object the place lies in; valid after a place was given.
    InterObjRep* object() const { return found_; }
    // The object, recognised by its id as placeHolds does once a place was
    // found on it: the cache asks each slot's owner several times a call.
    InterObjRep* owner() const override {
        InterObjRep* o = HandleTable::Global().getAs<InterObjRep>(objectId_);
        return o && o == found_ ? o : FieldValue<T, code>::owner();
    }

private:
    friend class DatumAccess<FieldValue<T, code>, DatumFieldValue>;
    // An Object is never a number's datum: the field's own rules refuse or
    // convert it.
    template <class X>
    void readAs(X& out) const {
        if constexpr (std::is_same_v<X, InterObj>)
            FieldValue<T, code>::get(out);
        else
            DatumConv<T>::get(read(), out);
    }
    template <class X>
    void writeFrom(const X& v) {
        if constexpr (std::is_same_v<X, InterObj>)
            FieldValue<T, code>::set(v);
        else
            write(v);
    }

    // The object is recognised by its own handle id, which it gives back
    // only when its memory goes and which is never issued again: while the
    // id still names it, found_ is alive and is the object the value names.
    bool placeHolds() const {
        if (revision_ != FieldLookupRevision::current()) return false;
        const InterObjRep* o = HandleTable::Global().getAs<InterObjRep>(objectId_);
        return o && o == found_ && o->data() == data_ && o->dataSize() == dataSize_;
    }

    // Finds the place as the field gives it now; null, and nothing kept,
    // when there is none to use.
    [[gnu::noinline]] uint8_t* locate() const {
        revision_ = 0;
        InterObjRep* o = this->obj_.get();
        SignatureRep* owner = this->owner_.get();
        Field* f = this->field_.get();
        if (!o || !owner || f->isBeingRemoved() || o->isLocalVarCopy() || !o->data()) return nullptr;
        const int64_t offset = static_cast<const DataField*>(f)->dataOffset(*owner);
        if (offset < 0 || offset + DatumSize(code) > int64_t(o->dataSize())) return nullptr;
        found_ = o;
        objectId_ = o->selfId();
        data_ = const_cast<uint8_t*>(o->data());
        dataSize_ = o->dataSize();
        offset_ = static_cast<uint32_t>(offset);
        constant_ = f->isConst();
        revision_ = FieldLookupRevision::current();
        return data_ + offset_;
    }

    T read() const {
        if (const uint8_t* at = readPlace()) return LoadDatum<T>(at);
        T datum = DatumConv<T>::defaultDatum();
        FieldValue<T, code>::get(datum);
        return datum;
    }
    template <class X>
    void write(const X& v) {
        uint8_t* at = writePlace();
        if (!at) return FieldValue<T, code>::set(v);
        const T datum = DatumConv<T>::from(v);
        StoreDatum<T>(at, datum);
        found_->changed();
    }

    // The revision the place was found in; 0, which the revision never is,
    // while there is none.
    mutable uint64_t revision_ = 0;
    mutable InterObjRep* found_ = nullptr;
    mutable HandleTable::Id objectId_ = 0;
    mutable uint8_t* data_ = nullptr;
    mutable uint32_t dataSize_ = 0;
    mutable uint32_t offset_ = 0;
    mutable bool constant_ = false;
};

// The cache's member m as a Long (T int32_t) or Double (T double) data
// field kept in place, known from its traits without a virtual call; null
// for any other member.
template <class T>
inline DatumFieldValue<T, std::is_same_v<T, int32_t> ? IDT_LONG : IDT_DOUBLE>* NumberField(Member* m) {
    static_assert(std::is_same_v<T, int32_t> || std::is_same_v<T, double>, "Long and Double fields only");
    constexpr IdType code = std::is_same_v<T, int32_t> ? IDT_LONG : IDT_DOUBLE;
    constexpr uint8_t trait = code == IDT_LONG ? Member::kLongField : Member::kDoubleField;
    if (!m || !(m->memberTraits() & trait)) return nullptr;
    return static_cast<DatumFieldValue<T, code>*>(static_cast<Value*>(m));
}

// The value of a StrictInterObjField: bound to the signature of the field's
// type name. Arguments pass to its object only when that signature has a
// compiled class (a class id of its own or through its guid source).
class StrictInterObjFieldValue final : public FieldValue<InterObj, IDT_OBJECT> {
public:
    StrictInterObjFieldValue(Field& f, InterObjRep& obj, SignatureRep& owner, SignatureRep& restricting)
        : FieldValue(f, obj, owner), restricting_(&restricting) {}

    using FieldValue<InterObj, IDT_OBJECT>::operator=;
    ValuePtr virtualMemberEval(const ValueList* args) override;
    void set(const InterObj& v) override;

    SignatureRep* restricting() const { return restricting_.get(); }

private:
    Signature restricting_;
};

// A new FieldValue of the field's type for obj.
ValuePtr MakeFieldValue(Field& f, InterObjRep& obj, SignatureRep& owner);
// A DirectValue holding the field's value on obj now; obj is not counted.
ValuePtr SnapshotField(Field& f, InterObjRep& obj, SignatureRep& owner);
// Writes v, converted to the field's type, into the field of obj; obj is
// not counted.
void AssignField(Field& f, InterObjRep& obj, SignatureRep& owner, const Value& v);

}  // namespace tq
