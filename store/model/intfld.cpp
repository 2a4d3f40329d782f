#include "store/model/intfld.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "platform/storage/oclstream.h"
#include "store/errors/extexcep.h"
#include "store/model/fldval.h"
#include "store/model/dataslot.h"
#include "store/model/interobj.h"
#include "store/model/objval.h"
#include "store/model/reftarget.h"
#include "store/model/sigrep.h"
#include "store/persist/descobj.h"
#include "store/persist/objstore.h"
#include "store/persist/vlstrrep.h"
#include "store/valconv.h"

namespace tq {

namespace {

constexpr uint8_t kSlotFlags = Faultp<InterObjRep>::kCounted | Faultp<InterObjRep>::kDescriptor;

[[noreturn]] void BadSlot(InterObjRep& obj, const char* what) {
    const std::string text = "Objects entry " + std::to_string(obj.descriptor().descIndex()) + ": " + what;
    throw ObjectLoadFailed(text.c_str());
}

[[noreturn]] void ConstantRefused() { throw StoreException(32695); }

bool TypeIs(const Value* v, IdType code) { return v && (v->type() & IDT_TYPEMASK) == (code & IDT_TYPEMASK); }

// How deep embedded objects may be made inside each other's construction;
// a type that embeds itself (through a module written by something else)
// stops here instead of exhausting the stack.
int embedNesting = 0;
constexpr int kMaxEmbedNesting = 64;

}  // namespace

void CheckReferenceSlot(uint8_t* at, InterObjRep& obj, bool proxiesAllowed) {
    tDescriptor d(LoadLE32(at + 1));
    if (at[0] != kSlotFlags) BadSlot(obj, "a reference in its data is not sound");
    if (d.isNull()) return;
    if (d.moduleIndex() >= MAX_MODULES || (d.isProxy() && !proxiesAllowed))
        BadSlot(obj, "a reference in its data is not sound");
    d.setModuleIndex(obj.moduleIndex());
    StoreLE32(at + 1, d.raw());
}

// A String slot owns its text: a slot that names a string the "Strings"
// table does not hold (a table cut to nothing, a stream swapped with
// another's, an entry freed) would read as the empty text, and the next save
// would make that loss final.
void CheckStringSlot(uint8_t* at, InterObjRep& obj) {
    CheckReferenceSlot(at, obj, false);
    const tDescriptor d(LoadLE32(at + 1));
    if (d.isNull()) return;
    const auto* strings = DescribedObjectNoDescriptor<ValStringRep>::descriptionTable(d.moduleIndex());
    if (!strings || d.descIndex() >= strings->count() || !strings->entry(d.descIndex()).exists())
        BadSlot(obj, ("a String in its data names Strings entry " + std::to_string(d.descIndex()) +
                      ", which the module does not hold")
                         .c_str());
}

int32_t DatumSize(IdType code) {
    switch (code & IDT_TYPEMASK) {
        case IDT_SHORT: return 2;
        case IDT_LONG: return 4;
        case IDT_FLOAT: return 4;
        case IDT_DOUBLE: return 8;
        case IDT_CURRENCY: return 8;
        case IDT_STRING: return 5;
        case IDT_OBJECT: return 5;
        default: return 0;
    }
}

std::string MakePrintableString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"') {
            out += "\"\"";
        } else if (u < 0x20 || u == 0x7F) {
            out += "\" & Chr$(" + std::to_string(u) + ") & \"";
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

// ---- InterDataField ---------------------------------------------------------------

InterDataField* InterDataField::make(const char* name, IdType type, int byValue, const char* typeName) {
    switch (type & IDT_TYPEMASK) {
        case IDT_UNTYPED:
        case IDT_LONG:
            return byValue ? static_cast<InterDataField*>(new InterField<int32_t, IDT_LONG>(name))
                           : new InterReference<int32_t, IDT_LONG>(name);
        case IDT_SHORT:
            return byValue ? static_cast<InterDataField*>(new InterField<int16_t, IDT_SHORT>(name))
                           : new InterReference<int16_t, IDT_SHORT>(name);
        case IDT_FLOAT:
            return byValue ? static_cast<InterDataField*>(new InterField<float, IDT_FLOAT>(name))
                           : new InterReference<float, IDT_FLOAT>(name);
        case IDT_DOUBLE:
            return byValue ? static_cast<InterDataField*>(new InterField<double, IDT_DOUBLE>(name))
                           : new InterReference<double, IDT_DOUBLE>(name);
        case IDT_CURRENCY:
            return byValue ? static_cast<InterDataField*>(new InterField<Currency, IDT_CURRENCY>(name))
                           : new InterReference<Currency, IDT_CURRENCY>(name);
        case IDT_STRING:
            return byValue ? static_cast<InterDataField*>(new InterField<ValString, IDT_STRING>(name))
                           : new InterReference<ValString, IDT_STRING>(name);
        case IDT_OBJECT:
            return byValue ? static_cast<InterDataField*>(new InterObjField(name, typeName))
                           : new InterObjReference(name, typeName);
        case IDT_VARIANT:
            std::fprintf(stderr, "Field type: %d Not implemented. \n", int(type & IDT_TYPEMASK));
            return nullptr;
        default:
            return nullptr;
    }
}

bool InterDataField::match(const InterDataField& other) const {
    return *this == other && typeMatch(other) && fieldOffset() == other.fieldOffset();
}

void InterDataField::addField(SignatureRep& sig, int prepend, Value* init) { sig.addField(*this, prepend, init); }
void InterDataField::removeField(SignatureRep& sig) { sig.removeField(this); }

ValuePtr InterDataField::getValue(InterObjRep& obj, SignatureRep& owner) { return MakeFieldValue(*this, obj, owner); }
MemberPtr InterDataField::getMember(InterObjRep& obj, SignatureRep& owner) { return getValue(obj, owner); }

void InterDataField::declarationText(std::string& out, InterObjRep* obj) const {
    const IdType t = type() & IDT_TYPEMASK;
    if (isConst() && t >= IDT_SHORT && t <= IDT_STRING) {
        out += "Const ";
        out += name();
        out += IdTypeString(t).asChar();
        out += " = ";
        SignatureRep* owner = nullptr;
        Field* self = obj && obj->signature() ? obj->signature()->findField(name(), owner, 0) : nullptr;
        if (self == this) {
            ValString text;
            const_cast<InterDataField*>(this)->get(text, *obj, *owner);
            const char* c = text;
            out += t == IDT_STRING ? MakePrintableString(c ? c : "") : std::string(c ? c : "");
        }
        return;
    }
    out += isProtected() ? "Protected " : "Dim ";
    out += name();
    out += " As ";
    out += t >= IDT_SHORT && t <= IDT_VOID ? IdTypeString(t).string() : "Variant";
}

bool InterDataField::typeConvert(ValuePtr& v) const {
    if (!v) return false;
    if (TypeIs(v.get(), type())) return false;
    if (isByReference() && !v->isDirect()) return false;
    v = DirectValueClassFactory(type(), v.get());
    return true;
}

void* InterDataField::getVoidPtr(InterObjRep& obj, SignatureRep& owner) { return RWDataPtr(obj, owner); }

void InterDataField::initialBytes(const Value*, uint8_t* out, ValuePtr&) {
    // An array without dimensions takes no bytes, and has no buffer to fill.
    if (size() > 0) std::memset(out, 0, static_cast<size_t>(size()));
}

void InterDataField::bind(InterObjRep&, SignatureRep&, Value*) { throw TypeMismatch("InterDataField::bind()", 32765); }
void InterDataField::checkBinding(const Value*) const { throw TypeMismatch("InterDataField::bind()", 32765); }

// ---- InterField<T, code> --------------------------------------------------------------

template <class T, IdType code>
InterField<T, code>* InterField<T, code>::Read(OCLStream& in, tModuleIndex m) {
    std::unique_ptr<InterField> f(new InterField());
    f->readNameAndFlags(in, m);
    f->readOffset(in);
    return f.release();
}

template <class T, IdType code>
void InterField<T, code>::write(OCLStream& out) const {
    out.writeU8(FRK_DATA);
    out.writeU8(code);
    writeNameAndFlags(out);
    out.writeI32(offset_);
}

template <class T, IdType code>
template <class X>
void InterField<T, code>::read(X& out, InterObjRep& obj, SignatureRep& owner) {
    const uint8_t* at = RODataPtr(obj, owner);
    if constexpr (std::is_same_v<T, ValString>) {
        const ValString& slot = SlotAt<ValString>(const_cast<uint8_t*>(at));
        if (slot.isNull())
            DatumConv<ValString>::get(ValString(""), out);
        else
            DatumConv<ValString>::get(slot, out);
    } else {
        DatumConv<T>::get(LoadDatum<T>(at), out);
    }
}

template <class T, IdType code>
template <class X>
void InterField<T, code>::store(const X& v, InterObjRep& obj, SignatureRep& owner) {
    if (isConst()) ConstantRefused();
    T datum = DatumConv<T>::from(v);
    uint8_t* at = RWDataPtr(obj, owner);
    if constexpr (std::is_same_v<T, ValString>) {
        if (StoreTextSlot(SlotAt<ValString>(at), datum, obj)) obj.changed();
    } else {
        StoreDatum<T>(at, datum);
        obj.changed();
    }
}

template <class T, IdType code>
MemberPtr InterField<T, code>::getMember(InterObjRep& obj, SignatureRep& owner) {
    // A frame's locals follow their arrays' resizing to a signature of
    // their own (FieldValue::live); the cache keeps their own form of them.
    if constexpr (!std::is_same_v<T, ValString>)
        if (!obj.isLocalVarCopy()) return MemberPtr(new DatumFieldValue<T, code>(*this, obj, owner));
    return InterDataField::getMember(obj, owner);
}

template <class T, IdType code>
void InterField<T, code>::initialBytes(const Value* init, uint8_t* out, ValuePtr& keep) {
    std::memset(out, 0, size());
    if (!init) return;
    if constexpr (std::is_same_v<T, ValString>) {
        ValString text;
        init->get(text);
        const char* c = text;
        auto* held = new DirectValue<ValString, IDT_STRING>(ValString(c ? c : ""));
        keep = ValuePtr(held);
        std::memcpy(out, &held->datum(), sizeof(ValString));
    } else {
        T datum = DatumConv<T>::defaultDatum();
        init->get(datum);
        StoreDatum<T>(out, datum);
    }
}

template <class T, IdType code>
void InterField<T, code>::bind(InterObjRep& obj, SignatureRep& owner, Value* v) {
    checkBinding(v);
    T datum = DatumConv<T>::defaultDatum();
    v->get(datum);
    uint8_t* at = RWDataPtr(obj, owner);
    if constexpr (std::is_same_v<T, ValString>) {
        const char* text = datum;
        SlotAt<ValString>(at).copy(text ? text : "");
    } else {
        StoreDatum<T>(at, datum);
    }
}

template <class T, IdType code>
void InterField<T, code>::checkBinding(const Value* v) const {
    if (!TypeIs(v, code)) throw TypeMismatch("InterField::bind()", 32765);
}

template <class T, IdType code>
void InterField<T, code>::fldConstructor(InterObjRep& obj, SignatureRep& owner) {
    if constexpr (std::is_same_v<T, ValString>) {
        // The copied reference belongs to the object copied from: it is
        // read, never released, and replaced by a string of our own.
        uint8_t* at = RWDataPtr(obj, owner);
        ValString& copied = SlotAt<ValString>(at);
        const bool had = copied.is();
        std::string text;
        if (had)
            if (const char* c = copied) text = c;
        new (at) ValString();
        if (!had) return;
        ValString fresh(text);
        if (!obj.isDetached()) fresh->attach(obj.moduleIndex());
        SlotAt<ValString>(at) = fresh;
    }
}

template <class T, IdType code>
void InterField<T, code>::fldDestructor(InterObjRep& obj, SignatureRep& owner) {
    if constexpr (std::is_same_v<T, ValString>) {
        ValString& slot = SlotAt<ValString>(RWDataPtr(obj, owner));
        ValStringRep* rep = slot.isNull() ? nullptr : slot.get();
        // A detached string goes with its last count; a module's string
        // that nothing counts any more goes with the field that owned it,
        // unless a file gave its count (discardIfUnnamed).
        const bool inModule = rep && !rep->isDetached();
        slot.~ValString();
        new (&slot) ValString();
        if (inModule) rep->discardIfUnnamed();
    }
}

template <class T, IdType code>
void InterField<T, code>::conditionForWrite(uint8_t* at, InterObjRep& obj) {
    if constexpr (std::is_same_v<T, ValString>) {
        ValString& slot = SlotAt<ValString>(at);
        if (ValStringRep* rep = slot.isNull() ? nullptr : slot.get())
            if (rep->moduleIndex() != obj.moduleIndex()) rep->attach(obj.moduleIndex());
        slot.streamForm(at);
    }
}

template <class T, IdType code>
void InterField<T, code>::conditionAfterRead(uint8_t* at, InterObjRep& obj) {
    if constexpr (std::is_same_v<T, ValString>) CheckStringSlot(at, obj);
}

template <class T, IdType code>
void InterField<T, code>::conditionForAttach(uint8_t* at, InterObjRep&, tModuleIndex m) {
    if constexpr (std::is_same_v<T, ValString>) {
        ValString& slot = SlotAt<ValString>(at);
        if (ValStringRep* rep = slot.isNull() ? nullptr : slot.get()) rep->attach(m);
    }
}

template <class T, IdType code>
void InterField<T, code>::releaseBytes(uint8_t* at) {
    if constexpr (std::is_same_v<T, ValString>) SlotAt<ValString>(at).~ValString();
}

// ---- InterReference<T, code> ---------------------------------------------------------

template <class T, IdType code>
InterReference<T, code>* InterReference<T, code>::Read(OCLStream& in, tModuleIndex m) {
    std::unique_ptr<InterReference> f(new InterReference());
    f->readNameAndFlags(in, m);
    f->readOffset(in);
    return f.release();
}

template <class T, IdType code>
void InterReference<T, code>::write(OCLStream& out) const {
    out.writeU8(FRK_REFERENCE);
    out.writeU8(code);
    writeNameAndFlags(out);
    out.writeI32(offset_);
}

template <class T, IdType code>
Value& InterReference<T, code>::referred(InterObjRep& obj, SignatureRep& owner) {
    Value* v = Value::FromRefId(LoadLE32(RODataPtr(obj, owner)));
    if (!v) throw Is_Null("InterReference::get()", 32744);
    return *v;
}

#define TQ_REFERENCE_SET(P)                                                         \
    template <class T, IdType code>                                                 \
    void InterReference<T, code>::set(P v, InterObjRep& obj, SignatureRep& owner) { \
        if (isConst()) ConstantRefused();                                           \
        referred(obj, owner).set(v);                                                \
    }
TQ_REFERENCE_SET(int16_t)
TQ_REFERENCE_SET(int32_t)
TQ_REFERENCE_SET(float)
TQ_REFERENCE_SET(double)
TQ_REFERENCE_SET(const Currency&)
TQ_REFERENCE_SET(const ValString&)
TQ_REFERENCE_SET(const InterObj&)
#undef TQ_REFERENCE_SET

template <class T, IdType code>
void* InterReference<T, code>::getVoidPtr(InterObjRep& obj, SignatureRep& owner) {
    return referred(obj, owner).getVoidPtr();
}

template <class T, IdType code>
void InterReference<T, code>::initialBytes(const Value*, uint8_t* out, ValuePtr&) {
    std::memset(out, 0, 4);
}

Value* ReferenceTarget(Value* v) {
    Field* f = v ? v->field() : nullptr;
    InterObjRep* o = f && f->isByReference() && f->isInterDataField() && !f->isArrayData() ? v->owner() : nullptr;
    if (!o || !o->isWorkerObj() || o->isDestroyStarted() || !o->signature()) return v;
    SignatureRep* owner = nullptr;
    if (o->signature()->findField(f->name(), owner) != f || !owner) return v;
    Value* target = Value::FromRefId(LoadLE32(static_cast<DataField*>(f)->RODataPtr(*o, *owner)));
    return target ? target : v;
}

template <class T, IdType code>
void InterReference<T, code>::bind(InterObjRep& obj, SignatureRep& owner, Value* v) {
    checkBinding(v);
    StoreLE32(RWDataPtr(obj, owner), ReferenceTarget(v)->refId());
}

template <class T, IdType code>
void InterReference<T, code>::checkBinding(const Value* v) const {
    if (!TypeIs(v, code)) throw TypeMismatch("InterReference::bind()", 32765);
}

// A reference to a caller's value means nothing outside the call.
template <class T, IdType code>
void InterReference<T, code>::conditionForWrite(uint8_t* at, InterObjRep&) {
    std::memset(at, 0, 4);
}
template <class T, IdType code>
void InterReference<T, code>::conditionAfterRead(uint8_t* at, InterObjRep&) {
    std::memset(at, 0, 4);
}

#define TQ_VALUE_KINDS(K)                  \
    template class K<int16_t, IDT_SHORT>;  \
    template class K<int32_t, IDT_LONG>;   \
    template class K<float, IDT_FLOAT>;    \
    template class K<double, IDT_DOUBLE>;  \
    template class K<Currency, IDT_CURRENCY>; \
    template class K<ValString, IDT_STRING>;
TQ_VALUE_KINDS(InterField)
TQ_VALUE_KINDS(InterReference)

// ---- object fields -----------------------------------------------------------------------

ObjectDataField::ObjectDataField(const char* name, const char* typeName)
    : InterDataField(name), typeName_(typeName ? typeName : "") {}

ObjectDataField::ObjectDataField(const ObjectDataField& o) : InterDataField(o), typeName_(o.typeName_) {}

void ObjectDataField::setTypeName(const char* typeName) {
    typeName_ = typeName ? typeName : "";
    typeSig_ = nullptr;
}

void ObjectDataField::declarationText(std::string& out, InterObjRep*) const {
    out += isProtected() ? "Protected " : "Dim ";
    out += name();
    out += " As ";
    out += typeName_.empty() ? "Object" : typeName_;
}

SignatureRep* ObjectDataField::typeSignature() {
    if (typeName_.empty()) return nullptr;
    if (SignatureRep* s = typeSig_.get()) return s;
    InterObj proto;
    if (!ObjectStore::find(typeName_.c_str(), proto) || proto.isNull()) return nullptr;
    typeSig_ = proto->signature();
    return typeSig_.get();
}

bool ObjectDataField::properlyTyped(InterObjRep* obj) {
    if (typeName_.empty() || !obj || obj->isDestroyed()) return true;
    SignatureRep* s = typeSignature();
    return s && obj->canBeTreatedAs(s);
}

void ObjectDataField::readTypeName(OCLStream& in) { typeName_ = in.readString(); }

void ObjectDataField::writeTail(OCLStream& out) const {
    out.writeI32(offset_);
    out.writeString(typeName_);
}

#define TQ_NOT_A_NUMBER(X)                                                         \
    void ObjectDataField::get(X&, InterObjRep&, SignatureRep&) {                   \
        throw TypeMismatch("Value::get()", 32765);                                 \
    }
TQ_NOT_A_NUMBER(int16_t)
TQ_NOT_A_NUMBER(int32_t)
TQ_NOT_A_NUMBER(float)
TQ_NOT_A_NUMBER(double)
TQ_NOT_A_NUMBER(Currency)
#undef TQ_NOT_A_NUMBER
#define TQ_NOT_AN_OBJECT(P)                                                        \
    void ObjectDataField::set(P, InterObjRep&, SignatureRep&) {                    \
        throw TypeMismatch("Value::set()", 32765);                                 \
    }
TQ_NOT_AN_OBJECT(int16_t)
TQ_NOT_AN_OBJECT(int32_t)
TQ_NOT_AN_OBJECT(float)
TQ_NOT_AN_OBJECT(double)
TQ_NOT_AN_OBJECT(const Currency&)
TQ_NOT_AN_OBJECT(const ValString&)
#undef TQ_NOT_AN_OBJECT

Faultp<InterObjRep>& ObjectSlotField::slot(InterObjRep& obj, SignatureRep& owner) {
    return SlotAt<Faultp<InterObjRep>>(RWDataPtr(obj, owner));
}

void ObjectSlotField::get(InterObj& out, InterObjRep& obj, SignatureRep& owner) {
    InterObjRep* o = slot(obj, owner).get();
    out = (o && !o->isDestroyed()) ? o : nullptr;
}

void ObjectSlotField::get(ValString& out, InterObjRep& obj, SignatureRep& owner) {
    InterObj o;
    get(o, obj, owner);
    DatumConv<InterObj>::get(o, out);
}

// A procedure's locals prototype holds its object variables as its own
// uncounted references (flags 0); on file every reference slot takes the
// counted form, which is what the reader checks for.
void ObjectSlotField::conditionForWrite(uint8_t* at, InterObjRep& obj) {
    SlotAt<Faultp<InterObjRep>>(at).streamForm(at);
    if (obj.isLocalVarProto()) at[0] |= Faultp<InterObjRep>::kCounted;
}

// Modules built before locals prototypes were written so carry the
// uncounted form there; it means the same and is taken as it was meant.
void ObjectSlotField::conditionAfterRead(uint8_t* at, InterObjRep& obj) {
    if (obj.isLocalVarProto() && at[0] == Faultp<InterObjRep>::kDescriptor) at[0] = kSlotFlags;
    CheckReferenceSlot(at, obj, true);
}

void ObjectSlotField::conditionForAttach(uint8_t*, InterObjRep&, tModuleIndex) {}

void ObjectSlotField::fldDestructor(InterObjRep& obj, SignatureRep& owner) {
    Faultp<InterObjRep>& s = slot(obj, owner);
    s.~Faultp<InterObjRep>();
    new (&s) Faultp<InterObjRep>();
}

void ObjectSlotField::releaseBytes(uint8_t* at) { SlotAt<Faultp<InterObjRep>>(at).~Faultp<InterObjRep>(); }

// An embedded object lives in its host's module and goes only through its
// host, which clears the slot first: a slot that names a proxy or an entry
// of the module that holds nothing is damage. It is refused with the host's
// record rather than found empty when the host is used, which would make
// a new embedded object in its place and lose the old one's values.
void EmbedObjField::conditionAfterRead(uint8_t* at, InterObjRep& obj) {
    ObjectSlotField::conditionAfterRead(at, obj);
    const tDescriptor d(LoadLE32(at + 1));
    if (d.isNull()) return;
    if (d.isProxy() || !DescribedObjectNoDescriptor<InterObjRep>::objectExists(d)) {
        const std::string what = "its embedded object " + std::string(name() ? name() : "") + " (Objects entry " +
                                 std::to_string(d.descIndex()) + ") is not in the module";
        BadSlot(obj, what.c_str());
    }
}

// An embedded object lives in its host's module, so only plain references
// can name an object of another module.
void ObjectSlotField::softenDataInto(uint8_t* at, tModuleIndex holder, tModuleIndex gone) {
    if (!isEmbed()) SlotAt<Faultp<InterObjRep>>(at).softenFrom(gone, holder);
}

// ---- InterObjField and StrictInterObjField ------------------------------------------

InterObjField* InterObjField::Read(OCLStream& in, tModuleIndex m, bool strict) {
    std::unique_ptr<InterObjField> f(strict ? new StrictInterObjField(tFromRecord{})
                                            : new InterObjField(tFromRecord{}));
    f->readNameAndFlags(in, m);
    f->readOffset(in);
    f->readTypeName(in);
    return f.release();
}

uint8_t InterObjField::recordKind() const { return FRK_OBJECT; }
uint8_t StrictInterObjField::recordKind() const { return FRK_STRICT_OBJECT; }

void InterObjField::write(OCLStream& out) const {
    out.writeU8(recordKind());
    writeNameAndFlags(out);
    writeTail(out);
}

void InterObjField::set(const InterObj& v, InterObjRep& obj, SignatureRep& owner) {
    if (isConst()) ConstantRefused();
    InterObjRep* o = v.get();
    if (!properlyTyped(o)) throw TypeMismatch("InterObjField::set()", 32765);
    slot(obj, owner) = (o && !o->isDestroyed()) ? o : nullptr;
    obj.changed();
}

void InterObjField::initialBytes(const Value* init, uint8_t* out, ValuePtr& keep) {
    std::memset(out, 0, 5);
    if (!init) return;
    InterObj o;
    init->get(o);
    if (!properlyTyped(o.get())) throw TypeMismatch("InterObjField::set()", 32765);
    auto* held = new ObjectValue(o);
    keep = ValuePtr(held);
    std::memcpy(out, &held->datum(), sizeof(InterObj));
}

void InterObjField::checkBinding(const Value* v) const {
    if (!TypeIs(v, IDT_OBJECT)) throw TypeMismatch("InterObjField::bind()", 32765);
    InterObj o;
    v->get(o);
    if (!const_cast<InterObjField*>(this)->properlyTyped(o.get()))
        throw TypeMismatch("InterObjField::bind()", 32765);
}

void InterObjField::bind(InterObjRep& obj, SignatureRep& owner, Value* v) {
    checkBinding(v);
    InterObj o;
    v->get(o);
    slot(obj, owner) = o.get();
}

void InterObjField::fldConstructor(InterObjRep& obj, SignatureRep& owner) {
    uint8_t* at = RWDataPtr(obj, owner);
    if (obj.isLocalVarProto()) {
        new (at) Faultp<InterObjRep>(PrimaryReference, nullptr);
        return;
    }
    if (obj.isLocalVarCopy()) {
        new (at) Faultp<InterObjRep>();
        return;
    }
    // The copied bytes name what the source named; they hold no count.
    InterObjRep* named = SlotAt<Faultp<InterObjRep>>(at).get();
    if (named && named->isDestroyed()) named = nullptr;
    new (at) Faultp<InterObjRep>(named);
}

ValuePtr StrictInterObjField::getValue(InterObjRep& obj, SignatureRep& owner) {
    SignatureRep* restricting = typeSignature();
    if (!restricting) throw TypeMismatch("InterObjField::getValue()", 32765);
    return ValuePtr(new StrictInterObjFieldValue(*this, obj, owner, *restricting));
}

// ---- InterObjReference ---------------------------------------------------------------

InterObjReference* InterObjReference::Read(OCLStream& in, tModuleIndex m) {
    std::unique_ptr<InterObjReference> f(new InterObjReference(tFromRecord{}));
    f->readNameAndFlags(in, m);
    f->readOffset(in);
    f->readTypeName(in);
    return f.release();
}

void InterObjReference::write(OCLStream& out) const {
    out.writeU8(FRK_REFERENCE);
    out.writeU8(IDT_OBJECT);
    writeNameAndFlags(out);
    writeTail(out);
}

Value& InterObjReference::referred(InterObjRep& obj, SignatureRep& owner) {
    Value* v = Value::FromRefId(LoadLE32(RODataPtr(obj, owner)));
    if (!v) throw Is_Null("InterReference::get()", 32744);
    return *v;
}

void InterObjReference::get(InterObj& out, InterObjRep& obj, SignatureRep& owner) { referred(obj, owner).get(out); }
void InterObjReference::get(ValString& out, InterObjRep& obj, SignatureRep& owner) {
    referred(obj, owner).get(out);
}

void InterObjReference::set(const InterObj& v, InterObjRep& obj, SignatureRep& owner) {
    if (isConst()) ConstantRefused();
    if (!properlyTyped(v.get())) throw TypeMismatch("InterObjField::set()", 32765);
    referred(obj, owner).set(v);
}

void* InterObjReference::getVoidPtr(InterObjRep& obj, SignatureRep& owner) {
    return referred(obj, owner).getVoidPtr();
}

void InterObjReference::initialBytes(const Value*, uint8_t* out, ValuePtr&) { std::memset(out, 0, 4); }

void InterObjReference::checkBinding(const Value* v) const {
    if (!TypeIs(v, IDT_OBJECT)) throw TypeMismatch("InterReference::bind()", 32765);
    InterObj o;
    v->get(o);
    if (!const_cast<InterObjReference*>(this)->properlyTyped(o.get()))
        throw TypeMismatch("InterObjField::bind()", 32765);
}

void InterObjReference::bind(InterObjRep& obj, SignatureRep& owner, Value* v) {
    checkBinding(v);
    StoreLE32(RWDataPtr(obj, owner), v->refId());
}

void InterObjReference::conditionForWrite(uint8_t* at, InterObjRep&) { std::memset(at, 0, 4); }
void InterObjReference::conditionAfterRead(uint8_t* at, InterObjRep&) { std::memset(at, 0, 4); }

// ---- EmbedObjField -----------------------------------------------------------------------

EmbedObjField* EmbedObjField::Read(OCLStream& in, tModuleIndex m) {
    std::unique_ptr<EmbedObjField> f(new EmbedObjField(tFromRecord{}));
    f->readNameAndFlags(in, m);
    f->readOffset(in);
    f->readTypeName(in);
    return f.release();
}

void EmbedObjField::write(OCLStream& out) const {
    out.writeU8(FRK_EMBED);
    writeNameAndFlags(out);
    writeTail(out);
}

void EmbedObjField::addField(SignatureRep& sig, int prepend, Value* init) { sig.addField(*this, prepend, init); }

bool EmbedObjField::circularEmbed(InterObjRep* host) {
    SignatureRep* s = typeSignature();
    InterObjRep* proto = s ? s->protoObject() : nullptr;
    return proto && host && proto->subsumes(host);
}

InterObjRep* EmbedObjField::makeEmbed(InterObjRep& host, InterObjRep* copiedFrom) {
    if (embedNesting >= kMaxEmbedNesting) throw CircularEmbed("EmbedObjField::ensureEmbed", 32756);
    struct Nest {
        Nest() { ++embedNesting; }
        ~Nest() { --embedNesting; }
    } nest;
    const tModuleIndex m = host.moduleIndex();
    if (copiedFrom) return InterObjRep::NewEmbedded(host, copiedFrom, nullptr, m);
    if (typeName_.empty()) return InterObjRep::NewEmbedded(host, nullptr, nullptr, m);
    if (SignatureRep* s = typeSignature()) return InterObjRep::NewEmbedded(host, nullptr, s, m);
    return nullptr;
}

void EmbedObjField::fldConstructor(InterObjRep& obj, SignatureRep& owner) {
    uint8_t* at = RWDataPtr(obj, owner);
    InterObjRep* copied = SlotAt<Faultp<InterObjRep>>(at).get();
    if (copied && copied->isDestroyed()) copied = nullptr;
    new (at) Faultp<InterObjRep>();
    if (obj.isLocalVarProto()) return;
    if (obj.isLocalVarCopy()) {
        SignatureRep* s = typeSignature();
        if (!s) throw NotFound(32741, typeName_.c_str());
        SlotAt<Faultp<InterObjRep>>(at) = InterObjRep::NewOf(Signature(s), DETACHED_MODULE, IOT_DYNAMIC);
        return;
    }
    InterObjRep* e = makeEmbed(obj, copied);
    // The block may have been rebuilt while the embedded object was made.
    if (e) slot(obj, owner) = e;
}

void EmbedObjField::fldDestructor(InterObjRep& obj, SignatureRep& owner) {
    Faultp<InterObjRep>& s = slot(obj, owner);
    InterObjRep* e = s.get();
    // The slot is cleared first, so the object being destroyed no longer
    // finds itself in its host.
    s = nullptr;
    if (e && !e->isDestroyStarted()) e->destroy();
    s.~Faultp<InterObjRep>();
    new (&s) Faultp<InterObjRep>();
}

InterObjRep* EmbedObjField::ensureEmbed(InterObjRep& obj, SignatureRep& owner) {
    InterObjRep* e = slot(obj, owner).get();
    if (e && !e->isDestroyed()) return e;
    if (circularEmbed(&obj)) throw CircularEmbed("EmbedObjField::ensureEmbed", 32756);
    e = makeEmbed(obj, nullptr);
    if (e) {
        slot(obj, owner) = e;
        obj.changed();
    }
    return e;
}

ValuePtr EmbedObjField::getValue(InterObjRep& obj, SignatureRep& owner) {
    ensureEmbed(obj, owner);
    return InterDataField::getValue(obj, owner);
}

void EmbedObjField::get(InterObj& out, InterObjRep& obj, SignatureRep& owner) { out = ensureEmbed(obj, owner); }

void EmbedObjField::set(const InterObj&, InterObjRep&, SignatureRep&) {
    throw TypeMismatch("EmbedObjField::set()", 32765);
}

void EmbedObjField::initialBytes(const Value*, uint8_t* out, ValuePtr&) { std::memset(out, 0, 5); }

void EmbedObjField::bind(InterObjRep&, SignatureRep&, Value*) { throw TypeMismatch("EmbedObjField::bind()", 32765); }
void EmbedObjField::checkBinding(const Value*) const { throw TypeMismatch("EmbedObjField::bind()", 32765); }

void EmbedObjField::yieldEmbed(InterObjRep& host, SignatureRep& owner) {
    Faultp<InterObjRep>& s = slot(host, owner);
    InterObjRep* e = s.get();
    if (!e) return;
    TQ_ASSERT(e->isHosted() && !e->isWorkerObj(), "embed->isComponentObj()");
    s = nullptr;
    host.changed();
    if (e->isEmbeddedObj()) static_cast<EmbeddedInterObjRep*>(e)->unhosted();
}

void EmbedObjField::declarationText(std::string& out, InterObjRep* obj) const {
    InterObjRep* e = nullptr;
    SignatureRep* owner = nullptr;
    if (obj && obj->signature() && obj->signature()->findField(name(), owner, 0) == this)
        e = const_cast<EmbedObjField*>(this)->slot(*obj, *owner).get();
    if (e && e->isProto()) {
        const std::string root = e->rootname(0);
        out += "Type ";
        out += name();
        if (root != "Object" && !root.empty()) out += " From " + root;
        return;
    }
    out += "Dim ";
    out += name();
    out += " As New ";
    out += e ? e->rootname(0) : (typeName_.empty() ? std::string("Object") : typeName_);
}

// ---- property procedures -------------------------------------------------------------

InterProcDataField::InterProcDataField(const char* name, const char* setName, const char* getName)
    : DataField(name),
      setName_(setName && *setName ? setName : nullptr, ObjectStore::OpenModule()),
      getName_(getName && *getName ? getName : nullptr, ObjectStore::OpenModule()) {}

InterProcDataField::InterProcDataField(const InterProcDataField& o)
    : DataField(o), setName_(o.setName_), getName_(o.getName_) {}

bool InterProcDataField::isReadOnly() const { return setName_.isNull(); }

void InterProcDataField::addField(SignatureRep& sig, int prepend, Value*) { sig.addField(*this, prepend); }
void InterProcDataField::removeField(SignatureRep& sig) { sig.removeField(this); }

ValuePtr InterProcDataField::getValue(InterObjRep& obj, SignatureRep& owner) {
    return MakeFieldValue(*this, obj, owner);
}
MemberPtr InterProcDataField::getMember(InterObjRep& obj, SignatureRep& owner) { return getValue(obj, owner); }

void InterProcDataField::attach(tModuleIndex m) {
    DataField::attach(m);
    setName_.attach(m);
    getName_.attach(m);
}

void InterProcDataField::readProcNames(OCLStream& in, tModuleIndex m) {
    ReadIdReference(in, m, setName_, true, "field record: the Set procedure's name");
    ReadIdReference(in, m, getName_, true, "field record: the Get procedure's name");
}

void InterProcDataField::writeProcNames(OCLStream& out) const {
    setName_.write(out);
    getName_.write(out);
}

ValuePtr InterProcDataField::callGet(InterObjRep& obj) {
    const char* proc = getName();
    // A Get procedure that is this very property would read itself for ever.
    if (!proc || obj.findField(proc) == this) throw NotFound(32740, proc ? proc : name());
    int handled = 0;
    ValuePtr r = obj.eval(proc, IDT_UNTYPED, nullptr, nullptr, EVAL_VALUE_REQUIRED | EVAL_DOTTED, &handled,
                          nullptr);
    if (!handled || !r) throw NotFound(32740, proc);
    return r;
}

void InterProcDataField::callSet(InterObjRep& obj, Value* v) {
    const char* proc = setName();
    if (!proc || obj.findField(proc) == this) throw NotFound(32740, proc ? proc : name());
    ValueList args;
    args.append(v);
    int handled = 0;
    obj.eval(proc, IDT_UNTYPED, &args, nullptr, EVAL_NO_VALUE | EVAL_DOTTED, &handled, nullptr);
    if (!handled) throw NotFound(32740, proc);
}

template <class T, IdType code>
TypedInterProcDataField<T, code>* TypedInterProcDataField<T, code>::Read(OCLStream& in, tModuleIndex m) {
    std::unique_ptr<TypedInterProcDataField> f(new TypedInterProcDataField());
    f->readNameAndFlags(in, m);
    f->readOffset(in);
    f->readProcNames(in, m);
    return f.release();
}

template <class T, IdType code>
void TypedInterProcDataField<T, code>::write(OCLStream& out) const {
    out.writeU8(FRK_PROC_DATA);
    out.writeU8(code);
    writeNameAndFlags(out);
    out.writeI32(offset_);
    writeProcNames(out);
}

template <class T, IdType code>
template <class X>
void TypedInterProcDataField<T, code>::read(X& out, InterObjRep& obj, SignatureRep&) {
    if (!obj.isReadAllowed()) throw AccessDenied("ProcDataField::get()", 32755);
    ValuePtr r = callGet(obj);
    T datum = DatumConv<T>::defaultDatum();
    r->get(datum);
    DatumConv<T>::get(datum, out);
}

template <class T, IdType code>
template <class X>
void TypedInterProcDataField<T, code>::store(const X& v, InterObjRep& obj, SignatureRep&) {
    if (isReadOnly()) throw AccessDenied("InterProcDataField::set()", 32755);
    if (!obj.isWriteAllowed()) throw AccessDenied("InterProcDataField::set()", 32755);
    ValuePtr arg(new DirectValue<T, code>(DatumConv<T>::from(v)));
    callSet(obj, arg.get());
}

#define TQ_PROC_ACCESSORS(X, P)                                                              \
    template <class T, IdType code>                                                         \
    void TypedInterProcDataField<T, code>::get(X& out, InterObjRep& obj, SignatureRep& owner) { \
        read(out, obj, owner);                                                              \
    }                                                                                       \
    template <class T, IdType code>                                                         \
    void TypedInterProcDataField<T, code>::set(P v, InterObjRep& obj, SignatureRep& owner) {    \
        store(v, obj, owner);                                                               \
    }
TQ_PROC_ACCESSORS(int16_t, int16_t)
TQ_PROC_ACCESSORS(int32_t, int32_t)
TQ_PROC_ACCESSORS(float, float)
TQ_PROC_ACCESSORS(double, double)
TQ_PROC_ACCESSORS(Currency, const Currency&)
TQ_PROC_ACCESSORS(ValString, const ValString&)
TQ_PROC_ACCESSORS(InterObj, const InterObj&)
#undef TQ_PROC_ACCESSORS

TQ_VALUE_KINDS(TypedInterProcDataField)

template class TypedInterProcDataField<InterObj, IDT_OBJECT>;
#undef TQ_VALUE_KINDS

}  // namespace tq
