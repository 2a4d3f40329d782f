#include "store/field.h"

#include <array>
#include <cstring>
#include <new>
#include <string>

#include "platform/storage/oclstream.h"
#include "store/errors/extexcep.h"
#include "store/interp/keytab.h"
#include "store/model/enumfld.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/tarrfld.h"
#include "store/persist/objstore.h"
#include "store/vals.h"

namespace tq {

namespace {

std::array<Field::RecordReader, FRK_LIMIT>& Readers() {
    static std::array<Field::RecordReader, FRK_LIMIT> readers{};
    return readers;
}

[[noreturn]] void BadRecord(const std::string& what) {
    const std::string text = "field record: " + what;
    throw ObjectLoadFailed(text.c_str());
}

[[noreturn]] void TypeMismatchIn(const char* where) { throw TypeMismatch(where, 32765); }

// Kinds 2, 3 and 5 carry a type code; each template instance reads the
// rest of its record.
template <template <class, IdType> class K>
Field* ReadTyped(OCLStream& in, tModuleIndex m, IdType code) {
    switch (code) {
        case IDT_SHORT: return K<int16_t, IDT_SHORT>::Read(in, m);
        case IDT_LONG: return K<int32_t, IDT_LONG>::Read(in, m);
        case IDT_FLOAT: return K<float, IDT_FLOAT>::Read(in, m);
        case IDT_DOUBLE: return K<double, IDT_DOUBLE>::Read(in, m);
        case IDT_CURRENCY: return K<Currency, IDT_CURRENCY>::Read(in, m);
        case IDT_STRING: return K<ValString, IDT_STRING>::Read(in, m);
        default: BadRecord("type code " + std::to_string(code) + " is not a value type");
    }
}

}  // namespace

// ---- Field --------------------------------------------------------------------

Field::Field(const char* name) {
    if (!IsIdentifierValid(name)) throw InvalidFieldName(32708, name);
    name_ = IdString(name, ObjectStore::OpenModule());
}

Field::Field(const Field& other) : CountedObject(), flags_(other.flags_), name_(other.name_) {}

Field::~Field() = default;

void Field::RegisterReader(uint8_t kind, RecordReader reader) {
    TQ_ASSERT(kind < FRK_LIMIT, "kind < FRK_LIMIT");
    Readers()[kind] = reader;
}

Field* Field::makeFrom(OCLStream& in, tModuleIndex m) {
    const uint8_t kind = in.readU8();
    switch (kind) {
        case FRK_END: return nullptr;
        case FRK_DATA: return ReadTyped<InterField>(in, m, in.readU8());
        case FRK_PROC_DATA: {
            const IdType code = in.readU8();
            if (code == IDT_OBJECT) return TypedInterProcDataField<InterObj, IDT_OBJECT>::Read(in, m);
            return ReadTyped<TypedInterProcDataField>(in, m, code);
        }
        case FRK_REFERENCE: {
            const IdType code = in.readU8();
            if (code == IDT_OBJECT) return InterObjReference::Read(in, m);
            return ReadTyped<InterReference>(in, m, code);
        }
        case FRK_EMBED: return EmbedObjField::Read(in, m);
        case FRK_OBJECT: return InterObjField::Read(in, m, false);
        case FRK_STRICT_OBJECT: return InterObjField::Read(in, m, true);
        case FRK_ENUM: return InterEnumField::Read(in, m);
        case FRK_ENUM_REFERENCE: return InterEnumReference::Read(in, m);
        case FRK_PROC_ENUM: return InterProcEnumField::Read(in, m);
        case FRK_ARRAY: return ReadArrayField(in, m);
        case FRK_ARRAY_REFERENCE: return ArrayReferenceField::Read(in, m);
        default: break;
    }
    if (kind < FRK_LIMIT && Readers()[kind]) return Readers()[kind](in, m, kind);
    BadRecord("kind " + std::to_string(kind) + " is not a field kind this library reads");
}

void ReadIdReference(OCLStream& in, tModuleIndex m, IdString& out, bool nullAllowed, const char* what) {
    out.read(in, m);
    const tDescriptor d = out.descriptor();
    const bool sound = out.flags() == (IdString::kCounted | IdString::kDescriptor) &&
                       (d.isNull() ? nullAllowed : (!d.isProxy() && IdStringRep::objectExists(d)));
    if (!sound) {
        out.nullify();
        const std::string text = std::string(what) + " is not in the module";
        throw ObjectLoadFailed(text.c_str());
    }
    // Names are in memory from the moment the module opens, so following
    // the reference now costs nothing and lets its holder release the name
    // when it goes.
    out.get();
}

void Field::readNameAndFlags(OCLStream& in, tModuleIndex m) {
    ReadIdReference(in, m, name_, false, "field record: the field's name");
    // A field being removed is never written: the bit from a file would hide
    // a field that is still in its signature's list.
    flags_ = in.readU8() & static_cast<uint8_t>(~kRemoving);
}

void Field::writeNameAndFlags(OCLStream& out) const {
    name_.write(out);
    out.writeU8(flags_);
}

ValuePtr Field::getValue(InterObjRep&, SignatureRep&) { TypeMismatchIn("Field::getValue()"); }
MemberPtr Field::getMember(InterObjRep& obj, SignatureRep& owner) { return getValue(obj, owner); }

void Field::conditionForWrite(uint8_t*, InterObjRep&) {}
void Field::conditionAfterRead(uint8_t*, InterObjRep&) {}
void Field::conditionForAttach(uint8_t*, InterObjRep&, tModuleIndex) {}
void Field::adjustOffset(int32_t, int32_t) {}
void Field::fldConstructor(InterObjRep&, SignatureRep&) {}
void Field::fldDestructor(InterObjRep&, SignatureRep&) {}
void Field::releaseBytes(uint8_t*) {}
void Field::attach(tModuleIndex m) { name_.attach(m); }
void Field::softenInto(tModuleIndex, tModuleIndex) {}
void Field::softenDataInto(uint8_t*, tModuleIndex, tModuleIndex) {}
void Field::declarationText(std::string&, InterObjRep*) const {}

void Field::get(int16_t&, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::get(short)"); }
void Field::get(int32_t&, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::get(long)"); }
void Field::get(float&, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::get(float)"); }
void Field::get(double&, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::get(double)"); }
void Field::get(Currency&, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::get(Currency)"); }
void Field::get(ValString&, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::get(ValString)"); }
void Field::get(InterObj&, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::get(InterObj)"); }
void Field::set(int16_t, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::set(short)"); }
void Field::set(int32_t, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::set(long)"); }
void Field::set(float, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::set(float)"); }
void Field::set(double, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::set(double)"); }
void Field::set(const Currency&, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::set(Currency)"); }
void Field::set(const ValString&, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::set(ValString)"); }
void Field::set(const InterObj&, InterObjRep&, SignatureRep&) { TypeMismatchIn("DataField::set(InterObj)"); }

void* Field::getVoidPtr(InterObjRep&, SignatureRep&) { return nullptr; }
bool Field::typeConvert(ValuePtr&) const { return false; }

void Field::rename(const char* name, tModuleIndex m) { name_ = IdString(name, m); }

bool operator==(const Field& a, const Field& b) {
    return !a.isBeingRemoved() && !b.isBeingRemoved() && a.name_ == b.name_;
}

// ---- DataField ----------------------------------------------------------------------

void DataField::adjustOffset(int32_t at, int32_t delta) {
    if (offset_ > at) offset_ += delta;
}

int32_t DataField::dataOffset(const SignatureRep& owner) const {
    return static_cast<int32_t>(const_cast<SignatureRep&>(owner).parentDataSize()) + offset_;
}

const uint8_t* DataField::RODataPtr(InterObjRep& obj, SignatureRep& owner) const {
    return obj.ROIDataPtr(dataOffset(owner), size());
}

uint8_t* DataField::RWDataPtr(InterObjRep& obj, SignatureRep& owner) const {
    return obj.RWIDataPtr(dataOffset(owner), size());
}

bool DataField::typeMatch(const DataField& other) const {
    if ((type() & IDT_TYPEMASK) != (other.type() & IDT_TYPEMASK)) return false;
    if ((type() & IDT_TYPEMASK) != IDT_OBJECT) return true;
    const char* a = typeName();
    const char* b = other.typeName();
    return !(a && *a && b && *b && std::strcmp(a, b) != 0);
}

InterObjRep* DataField::TypeObj() const {
    const char* t = typeName();
    if (!t || !*t) return nullptr;
    InterObj found;
    return ObjectStore::find(t, found) ? found.get() : nullptr;
}

void DataField::readOffset(OCLStream& in) { offset_ = in.readI32(); }

// ---- FieldPtrList ------------------------------------------------------------------

namespace {
bool SameName(const Field* f, const char* name) {
    const char* own = f->name();
    return own && name && std::strncmp(own, name, kMaxIdLength) == 0;
}
}  // namespace

FieldPtrList::~FieldPtrList() { clear(); }

const std::unordered_multimap<uint32_t, uint32_t>* FieldPtrList::index() const {
    if (fields_.size() < kIndexFrom) return nullptr;
    if (indexValid_) return &index_;
    try {
        index_.clear();
        index_.reserve(fields_.size());
        for (size_t i = 0; i < hashes_.size(); ++i) index_.emplace(hashes_[i], static_cast<uint32_t>(i));
        indexValid_ = true;
        return &index_;
    } catch (const std::bad_alloc&) {
        index_.clear();
        return nullptr;
    }
}

ptrdiff_t FieldPtrList::position(const char* name, uint32_t hash, bool live) const {
    if (!name) return -1;
    auto matches = [&](size_t i) { return SameName(fields_[i], name) && !(live && fields_[i]->isBeingRemoved()); };
    if (const auto* idx = index()) {
        // The first in list order, as the search entry by entry finds it.
        ptrdiff_t first = -1;
        const auto [from, to] = idx->equal_range(hash);
        for (auto it = from; it != to; ++it)
            if ((first < 0 || it->second < first) && matches(it->second)) first = it->second;
        return first;
    }
    for (size_t i = 0; i < fields_.size(); ++i)
        if (hashes_[i] == hash && matches(i)) return static_cast<ptrdiff_t>(i);
    return -1;
}

Field* FieldPtrList::pvalue(const char* name, uint32_t hash) const {
    const ptrdiff_t at = position(name, hash, true);
    return at < 0 ? nullptr : fields_[static_cast<size_t>(at)];
}

bool FieldPtrList::holds(const char* name, uint32_t hash) const { return position(name, hash, false) >= 0; }

void FieldPtrList::makeRoom() {
    if (fields_.size() < fields_.capacity() && hashes_.size() < hashes_.capacity()) return;
    const size_t want = fields_.size() + fields_.size() / 2 + 4;
    fields_.reserve(want);
    hashes_.reserve(want);
}

bool FieldPtrList::append(Field* f) {
    TQ_ASSERT(f != nullptr, "f");
    const uint32_t hash = IdString::Hash(f->name());
    if (holds(f->name(), hash)) return false;
    makeRoom();
    FieldLookupRevision::advance();
    fields_.push_back(f);
    hashes_.push_back(hash);
    f->ref();
    if (indexValid_) {
        try {
            index_.emplace(hash, static_cast<uint32_t>(fields_.size() - 1));
        } catch (const std::bad_alloc&) {
            indexValid_ = false;
        }
    }
    return true;
}

bool FieldPtrList::prepend(Field* f) {
    TQ_ASSERT(f != nullptr, "f");
    const uint32_t hash = IdString::Hash(f->name());
    if (holds(f->name(), hash)) return false;
    makeRoom();
    FieldLookupRevision::advance();
    fields_.insert(fields_.begin(), f);
    hashes_.insert(hashes_.begin(), hash);
    f->ref();
    indexValid_ = false;
    return true;
}

bool FieldPtrList::punbind(const char* name) {
    const ptrdiff_t at = position(name, IdString::Hash(name), false);
    return at >= 0 && punbind(fields_[static_cast<size_t>(at)]);
}

bool FieldPtrList::punbind(const Field* f) {
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i] != f) continue;
        Field* gone = fields_[i];
        FieldLookupRevision::advance();
        fields_.erase(fields_.begin() + static_cast<ptrdiff_t>(i));
        hashes_.erase(hashes_.begin() + static_cast<ptrdiff_t>(i));
        indexValid_ = false;
        gone->deref();
        return true;
    }
    return false;
}

void FieldPtrList::clear() {
    if (!fields_.empty()) FieldLookupRevision::advance();
    indexValid_ = false;
    index_.clear();
    while (!fields_.empty()) {
        Field* f = fields_.back();
        fields_.pop_back();
        hashes_.pop_back();
        f->deref();
    }
}

bool FieldPtrList::contains(const Field* f) const {
    for (const Field* g : fields_)
        if (g == f) return true;
    return false;
}

void FieldPtrList::reserveOne() { makeRoom(); }

void FieldPtrList::renamed(const Field* f) {
    FieldLookupRevision::advance();
    indexValid_ = false;
    for (size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i] == f) hashes_[i] = IdString::Hash(f->name());
}

}  // namespace tq
