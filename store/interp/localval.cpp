#include "store/interp/localval.h"

#include "store/currency.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/sigrep.h"
#include "store/stkpush.h"
#include "store/valtmpl.h"

namespace tq {

namespace {

template <class T, IdType code>
class LocalValue final : public TypedValue<T, code>, public FrameLocal {
public:
    LocalValue(InterObjRep& locals, Field& f, SignatureRep& owner)
        : locals_(&locals),
          owner_(&owner),
          field_(&f),
          offset_(static_cast<uint32_t>(static_cast<DataField&>(f).dataOffset(owner))),
          dataSize_(locals.dataSize()),
          data_(locals.RWIDataPtr(static_cast<int32_t>(offset_), DatumSize(code)) - offset_) {
        this->traits_ |= Member::kFrameLocal;
    }

    using TypedValue<T, code>::operator=;

    InterObjRep* owner() const override { return locals_; }
    Field* field() const override { return field_.get(); }
    // By reference a local is passed as its storage: where the datum lies
    // now, or (orphaned) the value's own datum.
    void* getVoidPtr() override {
        if (!locals_) return &kept_;
        if (sameLayout()) return at();
        const Current c = current();
        return c.field->getVoidPtr(*locals_, *c.owner);
    }
    void getStackPusher(GenericStackPusher& pusher) const override { DatumConv<T>::push(read(), pusher); }

    void orphan() override {
        if (!locals_) return;
        kept_ = read();
        locals_ = nullptr;
    }

    void get(int16_t& out) const override { DatumConv<T>::get(read(), out); }
    void get(int32_t& out) const override { DatumConv<T>::get(read(), out); }
    void get(float& out) const override { DatumConv<T>::get(read(), out); }
    void get(double& out) const override { DatumConv<T>::get(read(), out); }
    void get(Currency& out) const override { DatumConv<T>::get(read(), out); }
    void get(ValString& out) const override { DatumConv<T>::get(read(), out); }
    void get(InterObj& out) const override { DatumConv<T>::get(read(), out); }
    void set(int16_t v) override { write(DatumConv<T>::from(v)); }
    void set(int32_t v) override { write(DatumConv<T>::from(v)); }
    void set(float v) override { write(DatumConv<T>::from(v)); }
    void set(double v) override { write(DatumConv<T>::from(v)); }
    void set(const Currency& v) override { write(DatumConv<T>::from(v)); }
    void set(const ValString& v) override { write(DatumConv<T>::from(v)); }
    void set(const InterObj& v) override { write(DatumConv<T>::from(v)); }

private:
    // The block the value was made for, unchanged: the datum lies at the
    // offset checked against the block's size then.
    bool sameLayout() const { return locals_->data() == data_ && locals_->dataSize() == dataSize_; }
    uint8_t* at() const { return data_ + offset_; }

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
        if (sameLayout()) return LoadDatum<T>(at());
        T datum{};
        const Current c = current();
        c.field->get(datum, *locals_, *c.owner);
        return datum;
    }
    void write(const T& datum) {
        if (!locals_) {
            kept_ = datum;
        } else if (sameLayout()) {
            // The locals object belongs to no module: nothing to mark changed.
            StoreDatum<T>(at(), datum);
        } else {
            const Current c = current();
            c.field->set(datum, *locals_, *c.owner);
        }
    }

    InterObjRep* locals_;
    SignatureRep* owner_;
    FieldPtr field_;
    uint32_t offset_;
    uint32_t dataSize_;
    uint8_t* data_;
    T kept_{};
};

}  // namespace

MemberPtr MakeLocalValue(InterObjRep& locals, Field& f, SignatureRep& owner) {
    // An array's type carries its element type: its elements are reached
    // through the array field with their indices, never as one datum.
    if (!f.isInterDataField() || f.isArrayData() || f.isByReference() || f.isConst() || !locals.isLocalVarCopy())
        return MemberPtr();
    switch (f.type() & IDT_TYPEMASK) {
        case IDT_SHORT: return MemberPtr(new LocalValue<int16_t, IDT_SHORT>(locals, f, owner));
        case IDT_LONG: return MemberPtr(new LocalValue<int32_t, IDT_LONG>(locals, f, owner));
        case IDT_FLOAT: return MemberPtr(new LocalValue<float, IDT_FLOAT>(locals, f, owner));
        case IDT_DOUBLE: return MemberPtr(new LocalValue<double, IDT_DOUBLE>(locals, f, owner));
        case IDT_CURRENCY: return MemberPtr(new LocalValue<Currency, IDT_CURRENCY>(locals, f, owner));
        default: return MemberPtr();
    }
}

}  // namespace tq
