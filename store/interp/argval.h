// ArgumentValue: a parameter of a running procedure as its activation's
// lookup cache keeps it.
//
// A call binds its arguments into a worker argument object: a by-value
// parameter holds its datum in the object's data block, a by-reference
// parameter the handle id of the caller's value (intfld.h). The general
// member of such a field (FieldValue) reaches the bytes through the field,
// the object's handle and the owner signature on every read; this value
// keeps where the parameter's bytes lie in the block, so that reading `n`
// in a procedure's body is one load, and for a by-reference parameter one
// more through the handle table to the caller's value.
//
// It is the same parameter as the field's: assigning to a by-value
// parameter writes the argument object; assigning to a by-reference one
// writes the caller's variable, field or element, through the caller's own
// value with its own conversions and checks.
//
// Invariants:
//  1. The bytes are used in place only while the argument object still has
//     the block the value was made for (same address, same size) and no
//     field list has changed since (FieldLookupRevision); otherwise every
//     access goes through the field, as FieldValue's do.
//  2. The object is held counted and named through its handle, so owner()
//     reads null once it has been destroyed: the warm argument slots
//     (Context::takeArguments) never take a value of an object gone.
//  3. Made only for plain data parameters of an argument object that
//     belongs to no module: writing one marks nothing as changed on file.
#pragma once

#include <cstdint>
#include <type_traits>

#include "platform/util/handle.h"
#include "platform/util/lebytes.h"
#include "store/datumacc.h"
#include "store/errors/extexcep.h"
#include "store/field.h"
#include "store/interp/localval.h"
#include "store/model/fldval.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/stkpush.h"
#include "store/vals.h"
#include "store/valtmpl.h"

namespace tq {

template <class T, IdType code>
class ArgumentValue final : public DatumAccess<TypedValue<T, code>, ArgumentValue<T, code>> {
public:
    ArgumentValue(InterObjRep& args, DataField& f, SignatureRep& owner)
        : field_(&f),
          owner_(&owner),
          args_(&args),
          revision_(FieldLookupRevision::current()),
          offset_(static_cast<uint32_t>(f.dataOffset(owner))),
          dataSize_(args.dataSize()),
          data_(args.RWIDataPtr(static_cast<int32_t>(offset_), f.size()) - offset_),
          byReference_(f.isByReference()) {
        if constexpr (code == IDT_LONG) this->traits_ |= Member::kLongArgument;
        if constexpr (code == IDT_DOUBLE) this->traits_ |= Member::kDoubleArgument;
    }

    using TypedValue<T, code>::operator=;

    InterObjRep* owner() const override { return args_.get(); }
    Field* field() const override { return field_.get(); }

    // By reference a parameter passes its storage on: the caller's value's
    // for a by-reference parameter, the datum in the block for a by-value one.
    void* getVoidPtr() override {
        uint8_t* at = inPlace();
        if (!at) return general().getVoidPtr();
        return code == IDT_STRING || byReference_ ? referred(at).getVoidPtr() : at;
    }
    void getStackPusher(GenericStackPusher& pusher) const override {
        T datum = DatumConv<T>::defaultDatum();
        readAs(datum);
        DatumConv<T>::push(datum, pusher);
    }

    // The parameter's bytes while the block is the one the value was made
    // for; null when the field must decide.
    [[gnu::always_inline]] uint8_t* inPlace() const {
        InterObjRep* o = args_.get();
        if (!o || o->data() != data_ || o->dataSize() != dataSize_ || revision_ != FieldLookupRevision::current())
            return nullptr;
        return data_ + offset_;
    }

    // The bytes to read the parameter's value from without a virtual call:
    // a by-value parameter's datum (inPlace), or the datum of the caller's
    // value a by-reference one names, when that value holds its datum or
    // is a Long or Double local or field kept in place. Null otherwise.
    // Read only: a write through a by-reference parameter is the caller's
    // value's to make, with its own checks and its object marked changed.
    [[gnu::always_inline]] const uint8_t* readPlace() const
        requires(code == IDT_LONG || code == IDT_DOUBLE)
    {
        const uint8_t* at = inPlace();
        if (!at || !byReference_) return at;
        // Value::FromRefId's look-up, inline: this is every read of a
        // by-reference parameter in an expression.
        return ReferredDatum(HandleTable::Global().getAs<Value>(LoadLE32(at)));
    }

private:
    friend class DatumAccess<TypedValue<T, code>, ArgumentValue>;

    // The datum of the caller's value v, when it is of the parameter's
    // type and holds it in a place of its own; null when its get decides.
    static const uint8_t* ReferredDatum(const Value* v)
        requires(code == IDT_LONG || code == IDT_DOUBLE)
    {
        if (!v) return nullptr;
        constexpr bool isLong = code == IDT_LONG;
        const uint16_t traits = v->memberTraits();
        if (traits & (isLong ? Member::kLongDatum : Member::kDoubleDatum))
            return reinterpret_cast<const uint8_t*>(&static_cast<const DirectValue<T, code>*>(v)->datum());
        Member* m = const_cast<Value*>(v);
        if (traits & (isLong ? Member::kLongLocal : Member::kDoubleLocal))
            return static_cast<LocalValue<T, code>*>(static_cast<Value*>(m))->inPlace();
        if (const auto* f = NumberField<T>(m)) return f->readPlace();
        return nullptr;
    }

    // The caller's value a by-reference slot names; the messages are the
    // field's. A String is plain only by reference (IsPlainParameter).
    static Value& referred(const uint8_t* at) {
        Value* v = Value::FromRefId(LoadLE32(at));
        if (!v) throw Is_Null("InterReference::get()", 32744);
        return *v;
    }

    template <class X>
    void readAs(X& out) const {
        const uint8_t* at = inPlace();
        if (!at)
            general().get(out);
        else if (code == IDT_STRING || byReference_)
            referred(at).get(out);
        else if constexpr (code != IDT_STRING)
            DatumConv<T>::get(LoadDatum<T>(at), out);
    }

    template <class X>
    void writeFrom(const X& v) {
        uint8_t* at = inPlace();
        if (!at) {
            general().set(v);
        } else if (code == IDT_STRING || byReference_) {
            referred(at).set(v);
        } else if constexpr (code != IDT_STRING) {
            StoreDatum<T>(at, DatumConv<T>::from(v));
        }
    }

    // The field's own member, made for the first access that the block no
    // longer allows.
    Value& general() const {
        if (!general_) general_ = MakeFieldValue(*field_.get(), *args_, *owner_);
        return *general_;
    }

    FieldPtr field_;
    Signature owner_;
    mutable ValuePtr general_;
    InterObj args_;
    uint64_t revision_;
    uint32_t offset_;
    uint32_t dataSize_;
    uint8_t* data_;
    bool byReference_;
};

// The bytes the parameter m's value is read from (ArgumentValue::readPlace)
// when m is a Long (T int32_t) or Double (T double) ArgumentValue, known
// from its traits; null otherwise, and the value's virtual get decides.
template <class T>
inline const uint8_t* ArgumentDatum(Member* m) {
    static_assert(std::is_same_v<T, int32_t> || std::is_same_v<T, double>, "Long and Double parameters only");
    constexpr IdType code = std::is_same_v<T, int32_t> ? IDT_LONG : IDT_DOUBLE;
    constexpr uint16_t trait = code == IDT_LONG ? Member::kLongArgument : Member::kDoubleArgument;
    if (!m || !(m->memberTraits() & trait)) return nullptr;
    return static_cast<ArgumentValue<T, code>*>(static_cast<Value*>(m))->readPlace();
}

// A plain parameter: a number by value (InterField), or a number or String
// by reference (InterReference), and no constant. Its bytes are the whole
// of it, so a call can bind it and its body read and write it in place.
bool IsPlainParameter(const Field& f);

// An ArgumentValue for parameter f (owned by signature owner) of a call's
// argument object, or null when f is not a plain parameter or args is not a
// call's argument object; the cache then keeps the field's general member.
MemberPtr MakeArgumentValue(InterObjRep& args, Field& f, SignatureRep& owner);

}  // namespace tq
