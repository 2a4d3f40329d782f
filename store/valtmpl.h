// Member definitions of TypedValue, DirectValue and IndirectValue.
//
// Included where the templates are instantiated: vals.cpp for codes 1 to 6,
// and the object model for the Object instances, after it has defined
// DatumConv<InterObj>. Everything else uses the instances through vals.h.
#pragma once

#include "platform/util/uassert.h"
#include "store/valconv.h"
#include "store/valops.h"
#include "store/vals.h"

namespace tq {

// ---- TypedValue ------------------------------------------------------------

template <class T, IdType code>
ValuePtr TypedValue<T, code>::virtualMemberEval(const ValueList* args) {
    if constexpr (code == IDT_OBJECT)
        return DatumConv<T>::evalWithArgs(*this, args);
    else
        return Value::virtualMemberEval(args);
}

template <class T, IdType code>
ValuePtr TypedValue<T, code>::operator+(const Value& r) const {
    return ValueArith(ARITH_ADD, *this, r);
}
template <class T, IdType code>
ValuePtr TypedValue<T, code>::operator*(const Value& r) const {
    return ValueArith(ARITH_MUL, *this, r);
}
template <class T, IdType code>
ValuePtr TypedValue<T, code>::operator-(const Value& r) const {
    return ValueArith(ARITH_SUB, *this, r);
}
template <class T, IdType code>
ValuePtr TypedValue<T, code>::operator/(const Value& r) const {
    return ValueArith(ARITH_DIV, *this, r);
}
template <class T, IdType code>
ValuePtr TypedValue<T, code>::operator%(const Value& r) const {
    return ValueMod(*this, r);
}
template <class T, IdType code>
ValuePtr TypedValue<T, code>::intDiv(const Value& r) const {
    return ValueIntDiv(*this, r);
}
template <class T, IdType code>
ValuePtr TypedValue<T, code>::exp(const Value& r) const {
    return ValuePower(*this, r);
}

template <class T, IdType code>
int32_t TypedValue<T, code>::operator>(const Value& r) const {
    return ValueCompare(REL_GT, *this, r);
}
template <class T, IdType code>
int32_t TypedValue<T, code>::operator<(const Value& r) const {
    return ValueCompare(REL_LT, *this, r);
}
template <class T, IdType code>
int32_t TypedValue<T, code>::operator>=(const Value& r) const {
    return ValueCompare(REL_GE, *this, r);
}
template <class T, IdType code>
int32_t TypedValue<T, code>::operator<=(const Value& r) const {
    return ValueCompare(REL_LE, *this, r);
}

// Objects compare by identity for = and <>; every other relation reads them
// as numbers, which fails.
template <class T, IdType code>
int32_t TypedValue<T, code>::operator==(const Value& r) const {
    if constexpr (code == IDT_OBJECT)
        return DatumConv<T>::identical(*this, r) ? -1 : 0;
    else
        return ValueCompare(REL_EQ, *this, r);
}
template <class T, IdType code>
int32_t TypedValue<T, code>::operator!=(const Value& r) const {
    if constexpr (code == IDT_OBJECT)
        return DatumConv<T>::identical(*this, r) ? 0 : -1;
    else
        return ValueCompare(REL_NE, *this, r);
}

template <class T, IdType code>
int32_t TypedValue<T, code>::operator&(const Value& r) const {
    return ValueLogic(LOGIC_AND, *this, r);
}
template <class T, IdType code>
int32_t TypedValue<T, code>::operator|(const Value& r) const {
    return ValueLogic(LOGIC_OR, *this, r);
}
template <class T, IdType code>
int32_t TypedValue<T, code>::operator^(const Value& r) const {
    return ValueLogic(LOGIC_XOR, *this, r);
}
template <class T, IdType code>
int32_t TypedValue<T, code>::operator~() const {
    return ValueNot(*this);
}
template <class T, IdType code>
int32_t TypedValue<T, code>::eqv(const Value& r) const {
    return ValueLogic(LOGIC_EQV, *this, r);
}
template <class T, IdType code>
int32_t TypedValue<T, code>::imp(const Value& r) const {
    return ValueLogic(LOGIC_IMP, *this, r);
}

template <class T, IdType code>
Value& TypedValue<T, code>::operator=(const Value& r) {
    T datum{};
    r.get(datum);
    this->set(datum);
    return *this;
}

template <class T, IdType code>
TypedValue<T, code>& TypedValue<T, code>::operator=(const TypedValue& r) {
    TypedValue::operator=(static_cast<const Value&>(r));
    return *this;
}

// ---- DirectValue -----------------------------------------------------------

template <class T, IdType code>
DirectValue<T, code>::DirectValue() : datum_(DatumConv<T>::defaultDatum()) {
    this->traits_ |= kHeldTrait;
}

template <class T, IdType code>
DirectValue<T, code>::DirectValue(const T& datum) : datum_(datum) {
    this->traits_ |= kHeldTrait;
}

template <class T, IdType code>
DirectValue<T, code>::DirectValue(const Value& v) : datum_() {
    this->traits_ |= kHeldTrait;
    v.get(datum_);
}

template <class T, IdType code>
DirectValue<T, code>::DirectValue(const DirectValue& v) : TypedValue<T, code>(v), datum_(v.datum_) {}

template <class T, IdType code>
DirectValue<T, code>& DirectValue<T, code>::operator=(const DirectValue& r) {
    TypedValue<T, code>::operator=(static_cast<const Value&>(r));
    return *this;
}

template <class T, IdType code>
void DirectValue<T, code>::getStackPusher(GenericStackPusher& pusher) const {
    DatumConv<T>::push(datum_, pusher);
}

#define TQ_DIRECT_GET_SET(X, P)                                              \
    template <class T, IdType code>                                          \
    void DirectValue<T, code>::get(X& out) const {                           \
        DatumConv<T>::get(datum_, out);                                      \
    }                                                                        \
    template <class T, IdType code>                                          \
    void DirectValue<T, code>::set(P v) {                                    \
        datum_ = DatumConv<T>::from(v);                                      \
    }                                                                        \
    template <class T, IdType code>                                          \
    void IndirectValue<T, code>::get(X& out) const {                         \
        DatumConv<T>::get(*datum_, out);                                     \
    }                                                                        \
    template <class T, IdType code>                                          \
    void IndirectValue<T, code>::set(P v) {                                  \
        DatumConv<T>::store(*datum_, DatumConv<T>::from(v));                 \
    }

TQ_DIRECT_GET_SET(int16_t, int16_t)
TQ_DIRECT_GET_SET(int32_t, int32_t)
TQ_DIRECT_GET_SET(float, float)
TQ_DIRECT_GET_SET(double, double)
TQ_DIRECT_GET_SET(Currency, const Currency&)
TQ_DIRECT_GET_SET(ValString, const ValString&)
TQ_DIRECT_GET_SET(InterObj, const InterObj&)

#undef TQ_DIRECT_GET_SET

// ---- IndirectValue ---------------------------------------------------------

template <class T, IdType code>
IndirectValue<T, code>::IndirectValue(T* datum) : datum_(datum) {
    TQ_ASSERT(datum != nullptr, "datum != NULL");
}

template <class T, IdType code>
IndirectValue<T, code>::IndirectValue(const IndirectValue& v)
    : TypedValue<T, code>(v), datum_(v.datum_) {}

template <class T, IdType code>
IndirectValue<T, code>& IndirectValue<T, code>::operator=(const IndirectValue& r) {
    TypedValue<T, code>::operator=(static_cast<const Value&>(r));
    return *this;
}

template <class T, IdType code>
void IndirectValue<T, code>::getStackPusher(GenericStackPusher& pusher) const {
    DatumConv<T>::push(*datum_, pusher);
}

}  // namespace tq
