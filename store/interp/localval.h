// LocalValue: a local variable of a running frame as its activation's lookup
// cache keeps it.
//
// A local lives in a field of the frame's locals object, a clone that exists
// exactly as long as the frame. The general member for a field (FieldValue)
// reaches the datum through the field, the object's handle and the owner
// signature on every read and write; for a local of a number type or a
// String the cache keeps this value instead, which reads and writes the
// datum in place in the locals object's data block (for a String, the
// slot that holds the text's reference; its text is replaced as the
// field's own write replaces it). It is the same variable: assigning to it, or
// binding it to a by-reference parameter, changes the local.
//
// Invariants:
//  1. While the frame lives, the value reads and writes the datum at the
//     place it found in the locals object's data block, as long as the
//     field look-up revision is the one it found the place in and the block
//     is the same. A changed layout (a ReDim of one of the frame's arrays,
//     a field added to the locals' prototype while the frame ran) always
//     advances the revision, so a block given back and allocated again at
//     the same address cannot pass for the old layout: the place is found
//     again through the field, or, when there is none to use, every access
//     goes through the field.
//  2. The frame's scope is popped (Context::popScope) only after the cache
//     has let go of the value; if anything else still holds it then, the
//     value is orphaned first: it keeps the last datum as its own and never
//     touches the locals object again.
#pragma once

#include <cstdint>
#include <type_traits>
#include <typeinfo>

#include "store/datumacc.h"
#include "store/model/dataslot.h"
#include "store/field.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/stkpush.h"
#include "store/vals.h"
#include "store/valtmpl.h"

namespace tq {

// What the cache asks of any frame local, whatever its type.
class FrameLocal {
public:
    virtual ~FrameLocal() = default;
    // The locals object is about to go: keep the datum, let go of the object.
    virtual void orphan() = 0;
};

template <class T, IdType code>
class LocalValue final : public DatumAccess<TypedValue<T, code>, LocalValue<T, code>>, public FrameLocal {
public:
    LocalValue(InterObjRep& locals, Field& f, SignatureRep& owner)
        : locals_(&locals),
          owner_(&owner),
          field_(&f),
          offset_(static_cast<uint32_t>(static_cast<DataField&>(f).dataOffset(owner))),
          data_(locals.RWIDataPtr(static_cast<int32_t>(offset_), DatumSize(code)) - offset_),
          revision_(FieldLookupRevision::current()) {
        this->traits_ |= Member::kFrameLocal;
        if constexpr (code == IDT_LONG) this->traits_ |= Member::kLongLocal;
        if constexpr (code == IDT_DOUBLE) this->traits_ |= Member::kDoubleLocal;
        if constexpr (kText) this->traits_ |= Member::kStringLocal;
    }

    using TypedValue<T, code>::operator=;

    InterObjRep* owner() const override { return locals_; }
    Field* field() const override { return field_.get(); }
    // By reference a local is passed as its storage: where the datum lies
    // now, or (orphaned) the value's own datum.
    void* getVoidPtr() override {
        if (!locals_) return &kept_;
        if (uint8_t* at = inPlace()) return at;
        const Current c = current();
        return c.field->getVoidPtr(*locals_, *c.owner);
    }
    void getStackPusher(GenericStackPusher& pusher) const override {
        T datum{};
        readAs(datum);
        DatumConv<T>::push(datum, pusher);
    }

    void orphan() override {
        if (!locals_) return;
        T datum{};
        readAs(datum);
        kept_ = datum;
        locals_ = nullptr;
    }

    // A String local's slot while the layout holds (or, orphaned, the
    // value's own); null when the field must decide. Whoever changes the
    // text there in place must hold its representation alone.
    ValString* textSlot() const
        requires(code == IDT_STRING)
    {
        if (!locals_) return &kept_;
        if (uint8_t* at = inPlace()) return &SlotAt<ValString>(at);
        return nullptr;
    }

    // The datum in the locals object (invariant 1); null when the general
    // read and write must decide.
    [[gnu::always_inline]] uint8_t* inPlace() const {
        if (locals_ && revision_ == FieldLookupRevision::current() && locals_->data() == data_) [[likely]]
            return data_ + offset_;
        return relocate();
    }

private:
    friend class DatumAccess<TypedValue<T, code>, LocalValue>;
    static constexpr bool kText = code == IDT_STRING;

    template <class X>
    void readAs(X& out) const {
        if constexpr (kText) {
            // An unset slot reads as the empty text, as the field's does.
            if (const ValString* slot = textSlot()) return DatumConv<T>::get(slot->isNull() ? T("") : *slot, out);
            const Current c = current();
            c.field->get(out, *locals_, *c.owner);
        } else {
            DatumConv<T>::get(read(), out);
        }
    }
    template <class X>
    void writeFrom(const X& v) {
        if constexpr (kText) {
            const T datum = DatumConv<T>::from(v);
            if (!locals_) {
                DatumConv<T>::store(kept_, datum);
            } else if (uint8_t* at = inPlace()) {
                // The locals object belongs to no module: nothing to mark
                // changed, and a new text needs no module of its own.
                StoreTextSlot(SlotAt<ValString>(at), datum, *locals_);
            } else {
                const Current c = current();
                c.field->set(datum, *locals_, *c.owner);
            }
        } else {
            write(DatumConv<T>::from(v));
        }
    }

    // Finds the datum's place again as the locals' layout gives it now;
    // null, with nothing kept, when there is none to use.
    [[gnu::noinline]] uint8_t* relocate() const {
        revision_ = 0;
        if (!locals_ || !locals_->data()) return nullptr;
        const Current c = current();
        if (!c.field->isInterDataField() || c.field->isArrayData() || (c.field->type() & IDT_TYPEMASK) != code)
            return nullptr;
        if constexpr (kText)
            if (typeid(*c.field.get()) != typeid(InterField<ValString, IDT_STRING>)) return nullptr;
        const int64_t offset = static_cast<const DataField*>(c.field.get())->dataOffset(*c.owner);
        if (offset < 0 || offset + DatumSize(code) > int64_t(locals_->dataSize())) return nullptr;
        data_ = const_cast<uint8_t*>(locals_->data());
        offset_ = static_cast<uint32_t>(offset);
        revision_ = FieldLookupRevision::current();
        return data_ + offset_;
    }

    // The field as the locals' signature holds it now. Resizing one of the
    // frame's arrays moves the frame to a signature of its own, where the
    // fields behind the array lie elsewhere than the field the value was
    // made for says.
    struct Current {
        FieldPtr field;
        Signature owner;
    };
    Current current() const {
        Current c{field_, Signature(owner_)};
        locals_->followPrivateLocals(c.field, c.owner);
        return c;
    }

    T read() const {
        if (!locals_) return kept_;
        if (const uint8_t* at = inPlace()) return LoadDatum<T>(at);
        T datum{};
        const Current c = current();
        c.field->get(datum, *locals_, *c.owner);
        return datum;
    }
    void write(const T& datum) {
        if (!locals_) {
            kept_ = datum;
        } else if (uint8_t* at = inPlace()) {
            // The locals object belongs to no module: nothing to mark changed.
            StoreDatum<T>(at, datum);
        } else {
            const Current c = current();
            c.field->set(datum, *locals_, *c.owner);
        }
    }

    InterObjRep* locals_;
    SignatureRep* owner_;
    FieldPtr field_;
    // The place (invariant 1): the datum lies at data_ + offset_ while the
    // revision is revision_ (never 0, which marks no place) and the block
    // is data_.
    mutable uint32_t offset_;
    mutable uint8_t* data_;
    mutable uint64_t revision_;
    mutable T kept_{};
};

// The datum of the frame local m when m is a LocalValue of type T (a Long
// or Double local, known from its traits) and its locals object has the
// layout it was made for: its bytes, to read and write in place with
// LoadDatum and StoreDatum. Null otherwise; the value's virtual get and set
// then decide. The interpreter's unboxed paths read locals this way without
// a virtual call.
template <class T>
inline uint8_t* LocalDatum(Member* m) {
    constexpr IdType code = std::is_same_v<T, int32_t> ? IDT_LONG : IDT_DOUBLE;
    static_assert(std::is_same_v<T, int32_t> || std::is_same_v<T, double>, "Long and Double locals only");
    constexpr uint8_t trait = code == IDT_LONG ? Member::kLongLocal : Member::kDoubleLocal;
    if (!m || !(m->memberTraits() & trait)) return nullptr;
    return static_cast<LocalValue<T, code>*>(static_cast<Value*>(m))->inPlace();
}

// The String local m's slot (LocalValue::textSlot) when m is a String
// frame local, known from its traits; null otherwise.
inline ValString* LocalText(Member* m) {
    if (!m || !(m->memberTraits() & Member::kStringLocal)) return nullptr;
    return static_cast<LocalValue<ValString, IDT_STRING>*>(static_cast<Value*>(m))->textSlot();
}

// A LocalValue for field f (owned by signature owner) of the frame's locals
// object, or null when the field is not a plain datum of a number type or a
// String (the cache then keeps the field's general member).
MemberPtr MakeLocalValue(InterObjRep& locals, Field& f, SignatureRep& owner);

}  // namespace tq
