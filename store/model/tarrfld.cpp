#include "store/model/tarrfld.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "platform/storage/oclstream.h"
#include "store/errors/extexcep.h"
#include "store/model/dataslot.h"
#include "store/model/interobj.h"
#include "store/model/objval.h"
#include "store/persist/objstore.h"
#include "store/valconv.h"

namespace tq {

namespace {

template <class T>
constexpr bool kHoldsReferences = std::is_same_v<T, ValString> || std::is_same_v<T, InterObj>;

using ObjectSlot = Faultp<InterObjRep>;

// What a String element holds, or null; a string whose record cannot be
// read is left to its module rather than failing a release.
ValStringRep* HeldString(ValString& slot) {
    try {
        return slot.isNull() ? nullptr : slot.get();
    } catch (const StoreException&) {
        return nullptr;
    }
}

}  // namespace

// ---- element values ---------------------------------------------------------------

// The value of one element: reads and writes go through the array field and
// the object at every access (arrayfld.h, invariant 3).
template <class T, IdType code>
class ArrayElementValue final : public TypedValue<T, code> {
public:
    ArrayElementValue(InterArray<T, code>& array, InterObjRep& obj, SignatureRep& owner, int32_t byteOffset)
        : array_(&array), obj_(&obj), owner_(&owner), offset_(byteOffset) {}

    using TypedValue<T, code>::operator=;

    void get(int16_t& out) const override { array().readElement(out, *obj_, *owner_, offset_); }
    void get(int32_t& out) const override { array().readElement(out, *obj_, *owner_, offset_); }
    void get(float& out) const override { array().readElement(out, *obj_, *owner_, offset_); }
    void get(double& out) const override { array().readElement(out, *obj_, *owner_, offset_); }
    void get(Currency& out) const override { array().readElement(out, *obj_, *owner_, offset_); }
    void get(ValString& out) const override { array().readElement(out, *obj_, *owner_, offset_); }
    void get(InterObj& out) const override { array().readElement(out, *obj_, *owner_, offset_); }
    void set(int16_t v) override { array().storeElement(v, *obj_, *owner_, offset_); }
    void set(int32_t v) override { array().storeElement(v, *obj_, *owner_, offset_); }
    void set(float v) override { array().storeElement(v, *obj_, *owner_, offset_); }
    void set(double v) override { array().storeElement(v, *obj_, *owner_, offset_); }
    void set(const Currency& v) override { array().storeElement(v, *obj_, *owner_, offset_); }
    void set(const ValString& v) override { array().storeElement(v, *obj_, *owner_, offset_); }
    void set(const InterObj& v) override { array().storeElement(v, *obj_, *owner_, offset_); }

    void* getVoidPtr() override { return array().elementBytes(*obj_, *owner_, offset_, DatumSize(code)); }
    void getStackPusher(GenericStackPusher& pusher) const override {
        T datum = DatumConv<T>::defaultDatum();
        get(datum);
        DatumConv<T>::push(datum, pusher);
    }
    InterObjRep* owner() const override { return obj_.get(); }

private:
    InterArray<T, code>& array() const { return static_cast<InterArray<T, code>&>(*array_.get()); }

    FieldPtr array_;
    InterObj obj_;
    Signature owner_;
    int32_t offset_;
};

template <class T, IdType code>
template <class X>
void InterArray<T, code>::readElement(X& out, InterObjRep& obj, SignatureRep& owner, int32_t byteOffset) {
    uint8_t* at = elementBytes(obj, owner, byteOffset, DatumSize(code));
    if constexpr (std::is_same_v<T, ValString>) {
        const ValString& slot = SlotAt<ValString>(at);
        if (slot.isNull())
            DatumConv<ValString>::get(ValString(""), out);
        else
            DatumConv<ValString>::get(slot, out);
    } else if constexpr (std::is_same_v<T, InterObj>) {
        InterObjRep* o = SlotAt<ObjectSlot>(at).get();
        DatumConv<InterObj>::get(InterObj(o && !o->isDestroyed() ? o : nullptr), out);
    } else {
        DatumConv<T>::get(LoadDatum<T>(at), out);
    }
}

template <class T, IdType code>
template <class X>
void InterArray<T, code>::storeElement(const X& v, InterObjRep& obj, SignatureRep& owner, int32_t byteOffset) {
    if (isConst()) throw StoreException(32695u);
    // The conversion comes first: a value that does not convert leaves the
    // element as it was.
    T datum = DatumConv<T>::from(v);
    if constexpr (std::is_same_v<T, InterObj>) {
        InterObjRep* o = datum.get();
        if (!acceptsElement(o)) throw TypeMismatch("InterObjField::set()", 32765);
        uint8_t* at = elementBytes(obj, owner, byteOffset, DatumSize(code));
        SlotAt<ObjectSlot>(at) = o && !o->isDestroyed() ? o : nullptr;
    } else if constexpr (std::is_same_v<T, ValString>) {
        uint8_t* at = elementBytes(obj, owner, byteOffset, DatumSize(code));
        if (!StoreTextSlot(SlotAt<ValString>(at), datum, obj)) return;
    } else {
        StoreDatum<T>(elementBytes(obj, owner, byteOffset, DatumSize(code)), datum);
    }
    obj.changed();
}

// ---- InterArray<T, code> -----------------------------------------------------------

template <class T, IdType code>
InterArray<T, code>::InterArray(const char* name, int32_t dims) : InterArrayField(name, dims, DatumSize(code)) {}

template <class T, IdType code>
InterArray<T, code>::InterArray(tFromRecord t) : InterArrayField(t, DatumSize(code)) {}

template <class T, IdType code>
InterArray<T, code>* InterArray<T, code>::Read(OCLStream& in, tModuleIndex m) {
    std::unique_ptr<InterArray> f(new InterArray(tFromRecord{}));
    f->readArrayRecord(in, m);
    return f.release();
}

template <class T, IdType code>
void InterArray<T, code>::write(OCLStream& out) const {
    writeArrayRecord(out, code);
}

template <class T, IdType code>
ValuePtr InterArray<T, code>::arrayElement(InterObjRep& obj, SignatureRep& owner, int32_t byteOffset) {
    return ValuePtr(new ArrayElementValue<T, code>(*this, obj, owner, byteOffset));
}

template <class T, IdType code>
void InterArray<T, code>::bind(InterObjRep&, SignatureRep&, Value*) {
    throw TypeMismatch("InterArray<class Type, IdType TypeConst>::bind()", 32765);
}

template <class T, IdType code>
void InterArray<T, code>::checkBinding(const Value*) const {
    throw TypeMismatch("InterArray<class Type, IdType TypeConst>::bind()", 32765);
}

template <class T, IdType code>
bool InterArray<T, code>::acceptsElement(InterObjRep*) {
    return true;
}

template <class T, IdType code>
void InterArray<T, code>::releaseElement(uint8_t* at) const {
    if constexpr (std::is_same_v<T, ValString>) {
        ValString& slot = SlotAt<ValString>(at);
        ValStringRep* rep = HeldString(slot);
        // A module's string that nothing counts any more goes with the
        // element that owned it, unless a file gave its count
        // (discardIfUnnamed).
        const bool inModule = rep && !rep->isDetached();
        slot.~ValString();
        new (at) ValString();
        if (inModule) rep->discardIfUnnamed();
    } else if constexpr (std::is_same_v<T, InterObj>) {
        SlotAt<ObjectSlot>(at).~ObjectSlot();
        new (at) ObjectSlot();
    }
}

template <class T, IdType code>
void InterArray<T, code>::emptyElements(uint8_t* at, int64_t count, InterObjRep& obj) const {
    if constexpr (kHoldsReferences<T>) {
        // A frame's locals prototype keeps its object elements as plain
        // zero bytes (uncounted), as its copies find them.
        if (std::is_same_v<T, InterObj> && obj.isLocalVarProto()) {
            std::memset(at, 0, static_cast<size_t>(count) * 5);
            return;
        }
        for (int64_t i = 0; i < count; ++i) new (at + i * 5) T();
    } else {
        std::memset(at, 0, static_cast<size_t>(count) * sizeof(T));
    }
}

template <class T, IdType code>
void InterArray<T, code>::fldConstructor(InterObjRep& obj, SignatureRep& owner) {
    if constexpr (kHoldsReferences<T>) {
        if (std::is_same_v<T, InterObj> && obj.isLocalVarProto()) return;
        uint8_t* at = RWDataPtr(obj, owner);
        const int64_t n = elementCount();
        int64_t i = 0;
        try {
            for (; i < n; ++i) {
                uint8_t* e = at + i * 5;
                if constexpr (std::is_same_v<T, ValString>) {
                    // The copied reference belongs to the object copied
                    // from: it is read, never released, and replaced by a
                    // string of our own.
                    ValString& copied = SlotAt<ValString>(e);
                    const bool had = copied.is();
                    std::string text;
                    if (had)
                        if (const char* c = copied) text = c;
                    new (e) ValString();
                    if (!had) continue;
                    ValString fresh(text);
                    if (!obj.isDetached()) fresh->attach(obj.moduleIndex());
                    SlotAt<ValString>(e) = fresh;
                } else {
                    // A frame's locals object starts with empty elements.
                    InterObjRep* named = obj.isLocalVarCopy() ? nullptr : SlotAt<ObjectSlot>(e).get();
                    if (named && named->isDestroyed()) named = nullptr;
                    new (e) ObjectSlot(named);
                }
            }
        } catch (...) {
            // Nothing is left half made: what the elements before the
            // failure hold goes, and every element is plain zero bytes again.
            for (int64_t j = 0; j < i; ++j) releaseElement(at + j * 5);
            std::memset(at, 0, static_cast<size_t>(n) * 5);
            throw;
        }
    }
}

template <class T, IdType code>
void InterArray<T, code>::fldDestructor(InterObjRep& obj, SignatureRep& owner) {
    if constexpr (kHoldsReferences<T>) {
        uint8_t* at = RWDataPtr(obj, owner);
        const int64_t n = elementCount();
        for (int64_t i = 0; i < n; ++i) releaseElement(at + i * 5);
    }
}

template <class T, IdType code>
void InterArray<T, code>::conditionForWrite(uint8_t* at, InterObjRep& obj) {
    if constexpr (kHoldsReferences<T>) {
        const int64_t n = elementCount();
        for (int64_t i = 0; i < n; ++i) {
            uint8_t* e = at + i * 5;
            if constexpr (std::is_same_v<T, ValString>) {
                ValString& slot = SlotAt<ValString>(e);
                if (ValStringRep* rep = slot.isNull() ? nullptr : slot.get())
                    if (rep->moduleIndex() != obj.moduleIndex()) rep->attach(obj.moduleIndex());
                slot.streamForm(e);
            } else {
                SlotAt<ObjectSlot>(e).streamForm(e);
            }
        }
    }
}

template <class T, IdType code>
void InterArray<T, code>::conditionAfterRead(uint8_t* at, InterObjRep& obj) {
    if constexpr (kHoldsReferences<T>) {
        const int64_t n = elementCount();
        for (int64_t i = 0; i < n; ++i) {
            if constexpr (std::is_same_v<T, ValString>)
                CheckStringSlot(at + i * 5, obj);
            else
                CheckReferenceSlot(at + i * 5, obj, true);
        }
    }
}

template <class T, IdType code>
void InterArray<T, code>::conditionForAttach(uint8_t* at, InterObjRep&, tModuleIndex m) {
    if constexpr (std::is_same_v<T, ValString>) {
        const int64_t n = elementCount();
        for (int64_t i = 0; i < n; ++i) {
            ValString& slot = SlotAt<ValString>(at + i * 5);
            if (ValStringRep* rep = slot.isNull() ? nullptr : slot.get()) rep->attach(m);
        }
    }
}

template <class T, IdType code>
void InterArray<T, code>::releaseBytes(uint8_t* at) {
    if constexpr (kHoldsReferences<T>) {
        const int64_t n = elementCount();
        for (int64_t i = 0; i < n; ++i) SlotAt<T>(at + i * 5).~T();
    }
}

template <class T, IdType code>
void InterArray<T, code>::softenDataInto(uint8_t* at, tModuleIndex holder, tModuleIndex gone) {
    if constexpr (std::is_same_v<T, InterObj>) {
        const int64_t n = elementCount();
        for (int64_t i = 0; i < n; ++i) SlotAt<T>(at + i * 5).softenFrom(gone, holder);
    }
}

template <class T, IdType code>
void InterArray<T, code>::rebuildElements(const InterArrayField& newField, uint8_t* oldBytes, uint8_t* newBytes,
                                          InterObjRep& obj, bool preserve, std::vector<uint8_t>& dropped) const {
    const size_t es = static_cast<size_t>(elementSize());
    emptyElements(newBytes, newField.elementCount(), obj);
    if (preserve) {
        // Kept elements move with what they hold: the new slot takes the
        // old one's bytes and the old slot is left with the empty one.
        forCommonRuns(newField, [&](int32_t from, int32_t to, int32_t count) {
            const size_t bytes = static_cast<size_t>(count) * es;
            if constexpr (kHoldsReferences<T>) {
                std::swap_ranges(newBytes + to, newBytes + to + bytes, oldBytes + from);
            } else {
                std::memcpy(newBytes + to, oldBytes + from, bytes);
            }
        });
    }
    if constexpr (std::is_same_v<T, ValString>) {
        const int64_t n = elementCount();
        for (int64_t i = 0; i < n; ++i) releaseElement(oldBytes + i * 5);
    } else if constexpr (std::is_same_v<T, InterObj>) {
        // Releasing an object can run its Destruct handler; the caller does
        // it once every object has its new block.
        // Only a resolved counted reference holds a count to give back.
        const int64_t n = elementCount();
        for (int64_t i = 0; i < n; ++i) {
            const uint8_t* e = oldBytes + i * 5;
            const bool counted = (e[0] & ObjectSlot::kCounted) && !(e[0] & ObjectSlot::kDescriptor);
            if (counted && LoadLE32(e + 1) != 0) dropped.insert(dropped.end(), e, e + 5);
        }
    }
}

// ---- InterArrayOfObjects -------------------------------------------------------------

InterArrayOfObjects::InterArrayOfObjects(const char* name, int32_t dims, const char* typeName)
    : InterObjArrayField(name, dims), typeName_(typeName ? typeName : "") {}

InterArrayOfObjects::InterArrayOfObjects(const InterArrayOfObjects& o)
    : InterObjArrayField(o), typeName_(o.typeName_) {}

InterArrayOfObjects::InterArrayOfObjects(const InterArrayOfObjects& o, int32_t dims)
    : InterObjArrayField(o, dims), typeName_(o.typeName_) {}

InterArrayOfObjects* InterArrayOfObjects::Read(OCLStream& in, tModuleIndex m) {
    std::unique_ptr<InterArrayOfObjects> f(new InterArrayOfObjects(tFromRecord{}));
    f->readArrayRecord(in, m);
    f->typeName_ = in.readString();
    return f.release();
}

void InterArrayOfObjects::write(OCLStream& out) const {
    writeArrayRecord(out, kRecordCode);
    out.writeString(typeName_);
}

bool InterArrayOfObjects::acceptsElement(InterObjRep* o) {
    if (typeName_.empty() || !o || o->isDestroyed()) return true;
    SignatureRep* s = typeSig_.get();
    if (!s) {
        InterObj proto;
        if (!ObjectStore::find(typeName_.c_str(), proto) || proto.isNull()) return false;
        typeSig_ = proto->signature();
        s = typeSig_.get();
    }
    return s && o->canBeTreatedAs(s);
}

// ---- making and reading --------------------------------------------------------------

InterArrayField* InterArrayField::make(const char* name, IdType type, int32_t dims, const char* typeName) {
    switch (type & IDT_TYPEMASK) {
        case IDT_SHORT: return new InterArray<int16_t, IDT_SHORT>(name, dims);
        case IDT_LONG: return new InterArray<int32_t, IDT_LONG>(name, dims);
        case IDT_FLOAT: return new InterArray<float, IDT_FLOAT>(name, dims);
        case IDT_DOUBLE: return new InterArray<double, IDT_DOUBLE>(name, dims);
        case IDT_CURRENCY: return new InterArray<Currency, IDT_CURRENCY>(name, dims);
        case IDT_STRING: return new InterArray<ValString, IDT_STRING>(name, dims);
        case IDT_OBJECT:
            if (typeName && *typeName) return new InterArrayOfObjects(name, dims, typeName);
            return new InterObjArrayField(name, dims);
        default: return nullptr;
    }
}

Field* ReadArrayField(OCLStream& in, tModuleIndex m) {
    const IdType code = in.readU8();
    switch (code) {
        case IDT_SHORT: return InterArray<int16_t, IDT_SHORT>::Read(in, m);
        case IDT_LONG: return InterArray<int32_t, IDT_LONG>::Read(in, m);
        case IDT_FLOAT: return InterArray<float, IDT_FLOAT>::Read(in, m);
        case IDT_DOUBLE: return InterArray<double, IDT_DOUBLE>::Read(in, m);
        case IDT_CURRENCY: return InterArray<Currency, IDT_CURRENCY>::Read(in, m);
        case IDT_STRING: return InterArray<ValString, IDT_STRING>::Read(in, m);
        case IDT_OBJECT: return InterObjArrayField::Read(in, m);
        case InterArrayOfObjects::kRecordCode: return InterArrayOfObjects::Read(in, m);
        default: {
            const std::string text = "field record: array type code " + std::to_string(code) + " is not an element type";
            throw ObjectLoadFailed(text.c_str());
        }
    }
}

template class InterArray<int16_t, IDT_SHORT>;
template class InterArray<int32_t, IDT_LONG>;
template class InterArray<float, IDT_FLOAT>;
template class InterArray<double, IDT_DOUBLE>;
template class InterArray<Currency, IDT_CURRENCY>;
template class InterArray<ValString, IDT_STRING>;
template class InterArray<InterObj, IDT_OBJECT>;

}  // namespace tq
