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

#include "store/errors/storeexc.h"
#include "store/field.h"
#include "store/model/interobj.h"
#include "store/model/objval.h"
#include "store/vals.h"

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
