#include "store/model/fldval.h"

#include "store/errors/extexcep.h"
#include "store/model/intfld.h"
#include "store/valtmpl.h"

namespace tq {

ValuePtr StrictInterObjFieldValue::virtualMemberEval(const ValueList* args) {
    if (args && !args->isEmpty()) {
        SignatureRep* s = restricting_.get();
        if (!s || !(s->isGuidHolder() || s->guidSrc())) throw NonNullArguments("Value::eval()", 32760);
    }
    return FieldValue<InterObj, IDT_OBJECT>::virtualMemberEval(args);
}

void StrictInterObjFieldValue::set(const InterObj& v) {
    InterObjRep* o = v.get();
    if (o && !o->canBeTreatedAs(restricting_.get())) throw TypeMismatch("InterObjField::set()", 32765);
    FieldValue<InterObj, IDT_OBJECT>::set(v);
}

namespace {

template <class T, IdType code>
ValuePtr Snapshot(Field& f, InterObjRep& obj, SignatureRep& owner) {
    T datum = DatumConv<T>::defaultDatum();
    f.get(datum, obj, owner);
    return ValuePtr(new DirectValue<T, code>(datum));
}

template <class T>
void Assign(Field& f, InterObjRep& obj, SignatureRep& owner, const Value& v) {
    T datum = DatumConv<T>::defaultDatum();
    v.get(datum);
    f.set(datum, obj, owner);
}

}  // namespace

ValuePtr MakeFieldValue(Field& f, InterObjRep& obj, SignatureRep& owner) {
    switch (f.type() & IDT_TYPEMASK) {
        case IDT_SHORT: return ValuePtr(new FieldValue<int16_t, IDT_SHORT>(f, obj, owner));
        case IDT_LONG: return ValuePtr(new FieldValue<int32_t, IDT_LONG>(f, obj, owner));
        case IDT_FLOAT: return ValuePtr(new FieldValue<float, IDT_FLOAT>(f, obj, owner));
        case IDT_DOUBLE: return ValuePtr(new FieldValue<double, IDT_DOUBLE>(f, obj, owner));
        case IDT_CURRENCY: return ValuePtr(new FieldValue<Currency, IDT_CURRENCY>(f, obj, owner));
        case IDT_STRING: return ValuePtr(new FieldValue<ValString, IDT_STRING>(f, obj, owner));
        case IDT_OBJECT: return ValuePtr(new FieldValue<InterObj, IDT_OBJECT>(f, obj, owner));
        default: throw TypeMismatch("Field::getValue()", 32765);
    }
}

ValuePtr SnapshotField(Field& f, InterObjRep& obj, SignatureRep& owner) {
    switch (f.type() & IDT_TYPEMASK) {
        case IDT_SHORT: return Snapshot<int16_t, IDT_SHORT>(f, obj, owner);
        case IDT_LONG: return Snapshot<int32_t, IDT_LONG>(f, obj, owner);
        case IDT_FLOAT: return Snapshot<float, IDT_FLOAT>(f, obj, owner);
        case IDT_DOUBLE: return Snapshot<double, IDT_DOUBLE>(f, obj, owner);
        case IDT_CURRENCY: return Snapshot<Currency, IDT_CURRENCY>(f, obj, owner);
        case IDT_STRING: return Snapshot<ValString, IDT_STRING>(f, obj, owner);
        case IDT_OBJECT: return Snapshot<InterObj, IDT_OBJECT>(f, obj, owner);
        default: throw TypeMismatch("Field::getValue()", 32765);
    }
}

void AssignField(Field& f, InterObjRep& obj, SignatureRep& owner, const Value& v) {
    switch (f.type() & IDT_TYPEMASK) {
        case IDT_SHORT: return Assign<int16_t>(f, obj, owner, v);
        case IDT_LONG: return Assign<int32_t>(f, obj, owner, v);
        case IDT_FLOAT: return Assign<float>(f, obj, owner, v);
        case IDT_DOUBLE: return Assign<double>(f, obj, owner, v);
        case IDT_CURRENCY: return Assign<Currency>(f, obj, owner, v);
        case IDT_STRING: return Assign<ValString>(f, obj, owner, v);
        case IDT_OBJECT: return Assign<InterObj>(f, obj, owner, v);
        default: throw TypeMismatch("Field::set()", 32765);
    }
}

}  // namespace tq
