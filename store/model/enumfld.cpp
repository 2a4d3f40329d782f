#include "store/model/enumfld.h"

#include <cstring>
#include <memory>
#include <string>

#include "platform/storage/oclstream.h"
#include "store/errors/extexcep.h"
#include "store/model/interobj.h"
#include "store/valconv.h"

namespace tq {

namespace {

constexpr uint8_t kEnumRefFlags =
    Faultp<EnumRep>::kIndirect | Faultp<EnumRep>::kCounted | Faultp<EnumRep>::kDescriptor;

bool IsLong(const Value* v) { return v && (v->type() & IDT_TYPEMASK) == IDT_LONG; }

[[noreturn]] void ConstantRefused() { throw StoreException(32695u); }

}  // namespace

// ---- EnumTypeRef ------------------------------------------------------------------

int32_t EnumTypeRef::validLong(const Value& v) const {
    if (EnumRep* e = get()) return e->validLong(v);
    if ((v.type() & IDT_TYPEMASK) == IDT_STRING) {
        ValString text;
        v.get(text);
        return validLong(static_cast<const char*>(text));
    }
    int32_t n = 0;
    v.get(n);
    return validLong(n);
}

int32_t EnumTypeRef::validLong(int32_t v) const {
    if (EnumRep* e = get()) return e->validLong(v);
    throw StoreException(32738, v);
}

int32_t EnumTypeRef::validLong(const char* text) const {
    if (EnumRep* e = get()) return e->validLong(text);
    throw StoreException(32739, text ? text : "");
}

ValString EnumTypeRef::text(int32_t value) const {
    EnumRep* e = get();
    const char* shown = e ? e->validString(value) : nullptr;
    return shown ? ValString(shown) : ValString(value);
}

void EnumTypeRef::read(OCLStream& in, tModuleIndex m, const char* what) {
    enum_.read(in, m);
    const tDescriptor d = enum_.descriptor();
    // A reference to another module's enumeration is a proxy of this
    // module; one of this module must name an enumeration that exists.
    const bool sound =
        enum_.flags() == kEnumRefFlags && (d.isNull() || d.isProxy() || EnumRep::objectExists(d));
    if (!sound) {
        enum_.nullify();
        const std::string text = std::string(what) + " is not an enumeration of the module";
        throw ObjectLoadFailed(text.c_str());
    }
}

// ---- EnumDataField ----------------------------------------------------------------

void EnumDataField::readRecord(OCLStream& in, tModuleIndex m, const char* what) {
    readNameAndFlags(in, m);
    readOffset(in);
    enum_.read(in, m, what);
}

void EnumDataField::writeRecord(OCLStream& out, uint8_t kind) const {
    out.writeU8(kind);
    writeNameAndFlags(out);
    out.writeI32(offset_);
    enum_.write(out);
}

void EnumDataField::declarationText(std::string& out, InterObjRep*) const {
    out += isProtected() ? "Protected " : "Dim ";
    out += name();
    out += " As ";
    const EnumRep* e = enum_.get();
    out += e ? e->name() : "Long";
}

ValuePtr EnumDataField::getValue(InterObjRep& obj, SignatureRep& owner) {
    return ValuePtr(new EnumFieldValue(*this, obj, owner));
}

#define TQ_ENUM_NUMBER_GET(X)                                                          \
    void EnumDataField::get(X& out, InterObjRep& obj, SignatureRep& owner) {           \
        DatumConv<int32_t>::get(load(obj, owner), out);                                \
    }
TQ_ENUM_NUMBER_GET(int16_t)
TQ_ENUM_NUMBER_GET(int32_t)
TQ_ENUM_NUMBER_GET(float)
TQ_ENUM_NUMBER_GET(double)
TQ_ENUM_NUMBER_GET(Currency)
#undef TQ_ENUM_NUMBER_GET

void EnumDataField::get(ValString& out, InterObjRep& obj, SignatureRep& owner) {
    out = enum_.text(load(obj, owner));
}

#define TQ_ENUM_NUMBER_SET(P)                                                          \
    void EnumDataField::set(P v, InterObjRep& obj, SignatureRep& owner) {              \
        if (isConst()) ConstantRefused();                                              \
        store(enum_.validLong(DatumConv<int32_t>::from(v)), obj, owner);               \
    }
TQ_ENUM_NUMBER_SET(int16_t)
TQ_ENUM_NUMBER_SET(int32_t)
TQ_ENUM_NUMBER_SET(float)
TQ_ENUM_NUMBER_SET(double)
TQ_ENUM_NUMBER_SET(const Currency&)
#undef TQ_ENUM_NUMBER_SET

void EnumDataField::set(const ValString& v, InterObjRep& obj, SignatureRep& owner) {
    if (isConst()) ConstantRefused();
    store(enum_.validLong(static_cast<const char*>(v)), obj, owner);
}

// ---- InterEnumField ---------------------------------------------------------------

InterDataField* InterEnumField::make(const char* name, EnumRep* e, int byValue) {
    if (byValue) return new InterEnumField(name, e);
    return new InterEnumReference(name, e);
}

InterEnumField* InterEnumField::Read(OCLStream& in, tModuleIndex m) {
    std::unique_ptr<InterEnumField> f(new InterEnumField(tFromRecord{}));
    f->readRecord(in, m, "field record: the enumeration of an enumeration field");
    return f.release();
}

int32_t InterEnumField::load(InterObjRep& obj, SignatureRep& owner) {
    return LoadDatum<int32_t>(RODataPtr(obj, owner));
}

void InterEnumField::store(int32_t v, InterObjRep& obj, SignatureRep& owner) {
    StoreDatum<int32_t>(RWDataPtr(obj, owner), v);
    obj.changed();
}

bool InterEnumField::typeConvert(ValuePtr& v) const {
    if (!v || IsLong(v.get())) return false;
    v = ValuePtr(new LongValue(enum_.validLong(*v)));
    return true;
}

void InterEnumField::initialBytes(const Value* init, uint8_t* out, ValuePtr&) {
    StoreDatum<int32_t>(out, init ? enum_.validLong(*init) : 0);
}

void InterEnumField::checkBinding(const Value* v) const {
    if (!v) throw TypeMismatch("InterField::bind()", 32765);
    enum_.validLong(*v);
}

void InterEnumField::bind(InterObjRep& obj, SignatureRep& owner, Value* v) {
    checkBinding(v);
    StoreDatum<int32_t>(RWDataPtr(obj, owner), enum_.validLong(*v));
}

// ---- InterEnumReference ---------------------------------------------------------------

InterEnumReference* InterEnumReference::Read(OCLStream& in, tModuleIndex m) {
    std::unique_ptr<InterEnumReference> f(new InterEnumReference(tFromRecord{}));
    f->readRecord(in, m, "field record: the enumeration of an enumeration parameter");
    return f.release();
}

Value& InterEnumReference::referred(InterObjRep& obj, SignatureRep& owner) {
    Value* v = Value::FromRefId(LoadLE32(RODataPtr(obj, owner)));
    if (!v) throw Is_Null("InterReference::get()", 32744);
    return *v;
}

int32_t InterEnumReference::load(InterObjRep& obj, SignatureRep& owner) {
    int32_t n = 0;
    referred(obj, owner).get(n);
    return n;
}

void InterEnumReference::store(int32_t v, InterObjRep& obj, SignatureRep& owner) { referred(obj, owner).set(v); }

void* InterEnumReference::getVoidPtr(InterObjRep& obj, SignatureRep& owner) {
    return referred(obj, owner).getVoidPtr();
}

bool InterEnumReference::typeConvert(ValuePtr& v) const {
    if (!v || IsLong(v.get()) || !v->isDirect()) return false;
    v = ValuePtr(new LongValue(enum_.validLong(*v)));
    return true;
}

void InterEnumReference::initialBytes(const Value*, uint8_t* out, ValuePtr&) { std::memset(out, 0, 4); }

void InterEnumReference::checkBinding(const Value* v) const {
    if (!IsLong(v)) throw TypeMismatch("InterReference::bind()", 32765);
}

void InterEnumReference::bind(InterObjRep& obj, SignatureRep& owner, Value* v) {
    checkBinding(v);
    StoreLE32(RWDataPtr(obj, owner), v->refId());
}

void InterEnumReference::conditionForWrite(uint8_t* at, InterObjRep&) { std::memset(at, 0, 4); }
void InterEnumReference::conditionAfterRead(uint8_t* at, InterObjRep&) { std::memset(at, 0, 4); }

// ---- InterProcEnumField ---------------------------------------------------------------

InterProcEnumField* InterProcEnumField::Read(OCLStream& in, tModuleIndex m) {
    std::unique_ptr<InterProcEnumField> f(new InterProcEnumField(tFromRecord{}));
    f->readNameAndFlags(in, m);
    f->readOffset(in);
    f->readProcNames(in, m);
    f->enum_.read(in, m, "field record: the enumeration of an enumeration property");
    return f.release();
}

void InterProcEnumField::write(OCLStream& out) const {
    out.writeU8(FRK_PROC_ENUM);
    writeNameAndFlags(out);
    out.writeI32(offset_);
    writeProcNames(out);
    enum_.write(out);
}

ValuePtr InterProcEnumField::getValue(InterObjRep& obj, SignatureRep& owner) {
    return ValuePtr(new EnumFieldValue(*this, obj, owner));
}

int32_t InterProcEnumField::fetch(InterObjRep& obj) {
    if (!obj.isReadAllowed()) throw AccessDenied("ProcDataField::get()", 32755);
    ValuePtr r = callGet(obj);
    // A Get procedure may answer with an entry's name.
    if ((r->type() & IDT_TYPEMASK) == IDT_STRING) {
        ValString text;
        r->get(text);
        return enum_.validLong(static_cast<const char*>(text));
    }
    int32_t n = 0;
    r->get(n);
    return n;
}

void InterProcEnumField::store(int32_t v, InterObjRep& obj) {
    if (isReadOnly() || !obj.isWriteAllowed()) throw AccessDenied("InterProcDataField::set()", 32755);
    ValuePtr arg(new LongValue(v));
    callSet(obj, arg.get());
}

#define TQ_PROC_ENUM_NUMBERS(X, P)                                                     \
    void InterProcEnumField::get(X& out, InterObjRep& obj, SignatureRep&) {            \
        DatumConv<int32_t>::get(fetch(obj), out);                                      \
    }                                                                                  \
    void InterProcEnumField::set(P v, InterObjRep& obj, SignatureRep&) {               \
        store(enum_.validLong(DatumConv<int32_t>::from(v)), obj);                      \
    }
TQ_PROC_ENUM_NUMBERS(int16_t, int16_t)
TQ_PROC_ENUM_NUMBERS(int32_t, int32_t)
TQ_PROC_ENUM_NUMBERS(float, float)
TQ_PROC_ENUM_NUMBERS(double, double)
TQ_PROC_ENUM_NUMBERS(Currency, const Currency&)
#undef TQ_PROC_ENUM_NUMBERS

void InterProcEnumField::get(ValString& out, InterObjRep& obj, SignatureRep&) { out = enum_.text(fetch(obj)); }

void InterProcEnumField::set(const ValString& v, InterObjRep& obj, SignatureRep&) {
    store(enum_.validLong(static_cast<const char*>(v)), obj);
}

// ---- EnumFieldValue ---------------------------------------------------------------------

namespace {

int32_t ValidLongOf(const Field& f, const Value& v) {
    if (EnumRep* e = f.enumeration()) return e->validLong(v);
    return EnumTypeRef().validLong(v);
}

}  // namespace

Value& EnumFieldValue::operator=(const Value& r) {
    set(ValidLongOf(*field_.get(), r));
    return *this;
}

ValuePtr EnumFieldValue::asEnumValue(const Value& r) const {
    if ((r.type() & IDT_TYPEMASK) != IDT_STRING) return ValuePtr();
    return ValuePtr(new LongValue(ValidLongOf(*field_.get(), r)));
}

#define TQ_ENUM_RELATION(op)                                                           \
    int32_t EnumFieldValue::op(const Value& r) const {                                 \
        ValuePtr n = asEnumValue(r);                                                   \
        return FieldValue<int32_t, IDT_LONG>::op(n ? *n : r);                          \
    }
TQ_ENUM_RELATION(operator>)
TQ_ENUM_RELATION(operator<)
TQ_ENUM_RELATION(operator==)
TQ_ENUM_RELATION(operator!=)
TQ_ENUM_RELATION(operator>=)
TQ_ENUM_RELATION(operator<=)
#undef TQ_ENUM_RELATION

}  // namespace tq
