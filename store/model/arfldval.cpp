#include "store/arfldval.h"

#include "store/errors/extexcep.h"

namespace tq {

namespace {

[[noreturn]] void NoOperator() { throw TypeMismatch("Value::operator?\?()", 32765); }
[[noreturn]] void NoGet() { throw TypeMismatch("Value::get()", 32765); }
[[noreturn]] void NoSet() { throw TypeMismatch("Value::set()", 32765); }

}  // namespace

ArrayReferenceFieldValue::ArrayReferenceFieldValue(InterArrayField& array, InterObjRep& obj, SignatureRep& owner)
    : array_(&array), obj_(&obj), owner_(&owner) {
    traits_ |= kArrayReference;
}

InterArrayField* ArrayReferenceFieldValue::arrayField() const {
    InterObjRep* obj = nullptr;
    SignatureRep* owner = nullptr;
    return arrayField(obj, owner);
}

InterArrayField* ArrayReferenceFieldValue::arrayField(InterObjRep*& obj, SignatureRep*& owner) const {
    auto* a = static_cast<InterArrayField*>(array_.get());
    obj = obj_.get();
    // A frame's locals moved to a signature of their own when one of their
    // arrays was resized: the array is that signature's now.
    if (obj && obj->followPrivateLocals(array_, owner_)) {
        owner = owner_.get();
        return static_cast<InterArrayField*>(array_.get());
    }
    owner = owner_.get();
    if (!a->isBeingRemoved()) return a;
    // Resized (or removed) since this value was made: the owner's field of
    // the same name, when it is still an array, is the array now.
    Field* now = owner ? owner->fields().pvalue(a->name()) : nullptr;
    if (now && now->isArrayData()) array_ = now;
    return static_cast<InterArrayField*>(array_.get());
}

const ArrayReferenceFieldValue::Elements* ArrayReferenceFieldValue::locateElements() const {
    revision_ = 0;
    InterObjRep* obj = nullptr;
    SignatureRep* owner = nullptr;
    InterArrayField* a = arrayField(obj, owner);
    if (!obj || !owner || a->isBeingRemoved() || !obj->data()) return nullptr;
    const int64_t offset = a->dataOffset(*owner);
    if (offset < 0 || offset + a->arraySize() > int64_t(obj->dataSize())) return nullptr;
    data_ = obj->data();
    elements_ = {a, obj, const_cast<uint8_t*>(data_) + offset, static_cast<IdType>(a->type() & IDT_TYPEMASK),
                 !a->isConst()};
    objectId_ = obj->selfId();
    revision_ = FieldLookupRevision::current();
    return &elements_;
}

IdType ArrayReferenceFieldValue::type() const {
    return static_cast<IdType>((array_->type() & IDT_TYPEMASK) | IDT_ARRAY);
}

ValuePtr ArrayReferenceFieldValue::virtualMemberEval(const ValueList* args) {
    if (!args || args->isEmpty()) return ValuePtr(this);
    InterObjRep* obj = nullptr;
    SignatureRep* owner = nullptr;
    InterArrayField* a = arrayField(obj, owner);
    if (!obj) FaultpNullReference();
    if (!owner) FaultpNullReference();
    return a->eval(*obj, *owner, args);
}

#define TQ_NO_ARITH(op)                                                              \
    ValuePtr ArrayReferenceFieldValue::op(const Value&) const { NoOperator(); }
TQ_NO_ARITH(operator+)
TQ_NO_ARITH(operator*)
TQ_NO_ARITH(operator-)
TQ_NO_ARITH(operator/)
TQ_NO_ARITH(operator%)
TQ_NO_ARITH(intDiv)
TQ_NO_ARITH(exp)
#undef TQ_NO_ARITH

#define TQ_NO_RELATION(op)                                                           \
    int32_t ArrayReferenceFieldValue::op(const Value&) const { NoOperator(); }
TQ_NO_RELATION(operator>)
TQ_NO_RELATION(operator<)
TQ_NO_RELATION(operator==)
TQ_NO_RELATION(operator!=)
TQ_NO_RELATION(operator>=)
TQ_NO_RELATION(operator<=)
TQ_NO_RELATION(operator&)
TQ_NO_RELATION(operator|)
TQ_NO_RELATION(operator^)
TQ_NO_RELATION(eqv)
TQ_NO_RELATION(imp)
#undef TQ_NO_RELATION

int32_t ArrayReferenceFieldValue::operator~() const { NoOperator(); }
Value& ArrayReferenceFieldValue::operator=(const Value&) { NoSet(); }

void ArrayReferenceFieldValue::getStackPusher(GenericStackPusher&) const { NoGet(); }
void ArrayReferenceFieldValue::get(int16_t&) const { NoGet(); }
void ArrayReferenceFieldValue::get(int32_t&) const { NoGet(); }
void ArrayReferenceFieldValue::get(float&) const { NoGet(); }
void ArrayReferenceFieldValue::get(double&) const { NoGet(); }
void ArrayReferenceFieldValue::get(Currency&) const { NoGet(); }
void ArrayReferenceFieldValue::get(ValString&) const { NoGet(); }
void ArrayReferenceFieldValue::get(InterObj&) const { NoGet(); }
void ArrayReferenceFieldValue::set(int16_t) { NoSet(); }
void ArrayReferenceFieldValue::set(int32_t) { NoSet(); }
void ArrayReferenceFieldValue::set(float) { NoSet(); }
void ArrayReferenceFieldValue::set(double) { NoSet(); }
void ArrayReferenceFieldValue::set(const Currency&) { NoSet(); }
void ArrayReferenceFieldValue::set(const ValString&) { NoSet(); }
void ArrayReferenceFieldValue::set(const InterObj&) { NoSet(); }

}  // namespace tq
