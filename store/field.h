// Fields: the named members of a signature.
//
// A field is a data field (its value lives in every object's data block), a
// property computed by Get and Set procedures, an object reference, an
// embedded object, an array, an enumeration-typed value or a method. The
// signature that owns a field keeps it in its FieldPtrList; every object of
// that signature and of its descendants carries the field's bytes at
//
//     parent-of-owner's iDataSize + the field's offset
//
// in its data block (the section rule of sigrep.h). A field never holds a
// pointer to an object: each operation is given the object and the owner
// signature.
//
// Invariants:
//  1. A field's name is a valid identifier, interned in the module of the
//     signature that holds it.
//  2. A field being removed (flag 0x80) answers no look-up by name and
//     compares unequal to every field.
//  3. size() bytes at the field's address belong to the field alone; the
//     field's constructor makes them sound after a byte copy of another
//     object's data, its destructor releases what they hold.
//
// Field record, one per field of a signature's list, ended by a 0 byte:
//
//   item  width  meaning
//   1     1      record kind (FieldRecordKind)
//   2     1      type code; kinds 2, 3, 5 and 9 only
//   3     5      name, an identifier reference
//   4     1      flags
//   5     4      offset, signed; data kinds only
//   6     ...    what the kind adds (intfld.h)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/cntedobj.h"
#include "store/dscrptr.h"
#include "store/idtype.h"
#include "store/model/fwd.h"
#include "store/persist/idstr.h"

namespace tq {

class OCLStream;

enum FieldRecordKind : uint8_t {
    FRK_END = 0,
    FRK_ENUM = 1,            // InterEnumField
    FRK_DATA = 2,            // InterField<T, code>, codes 1 to 6
    FRK_PROC_DATA = 3,       // TypedInterProcDataField<T, code>, codes 1 to 7
    FRK_ENUM_REFERENCE = 4,  // InterEnumReference
    FRK_REFERENCE = 5,       // InterReference<T, code>; InterObjReference for 7
    FRK_EMBED = 6,           // EmbedObjField
    FRK_OBJECT = 7,          // InterObjField
    FRK_STRICT_OBJECT = 8,   // StrictInterObjField
    FRK_ARRAY = 9,           // InterArray<T, code>
    FRK_ARRAY_REFERENCE = 11,
    FRK_FUNCTION = 14,       // InterFuncField
    FRK_PROCEDURE = 15,      // InterProcField
    FRK_DLL_PROCEDURE = 18,
    FRK_DLL_FUNCTION = 19,
    FRK_PROC_ENUM = 20,      // InterProcEnumField
    FRK_LIMIT = 21,
};

// Reads an identifier reference from a record of module m into the null
// name `out` and follows it. The bytes come from a file: anything but a
// direct, counted descriptor of a name that exists (or, when nullAllowed, the
// null reference) raises ObjectLoadFailed with `what` in its text.
void ReadIdReference(OCLStream& in, tModuleIndex m, IdString& out, bool nullAllowed, const char* what);

// Counts the changes to what looking a field up by name can answer, in any
// signature: a field listed, unlisted, renamed, marked for removal or given
// other flags, a signature given another parent or destroyed. A call site
// that remembers which field a name found on a signature may use it again
// only while the count is unchanged; the count never repeats, so a
// signature destroyed and another made at its address cannot pass for it.
class FieldLookupRevision {
public:
    static uint64_t current() { return count_; }
    static void advance() { ++count_; }

private:
    static inline uint64_t count_ = 1;
};

class Field : public CountedObject {
public:
    enum : uint8_t {
        kProtected = 0x10,  // refused to look-ups with the protection flag
        kConst = 0x40,      // a constant: refuses set, not unloaded as text
        kRemoving = 0x80,   // being removed: answers no look-up
    };

    // Checks the name (InvalidFieldName 32708 when it is no identifier) and
    // interns it in the current module.
    explicit Field(const char* name);
    Field(const Field& other);
    Field& operator=(const Field&) = delete;
    ~Field() override;

    // Reads one field record; null at the end marker. Every byte comes from
    // a file: a record that is not sound raises ObjectLoadFailed.
    static Field* makeFrom(OCLStream& in, tModuleIndex m);

    // Readers of the record kinds that other parts of the library build
    // (methods). A reader gets the stream positioned after the kind byte.
    using RecordReader = Field* (*)(OCLStream& in, tModuleIndex m, uint8_t kind);
    static void RegisterReader(uint8_t kind, RecordReader reader);

    // 1.
    virtual Field* clone() const = 0;

    // 2. What kind of field this is.
    virtual bool isMethod() const { return false; }
    virtual bool isFunction() const { return false; }
    virtual bool isProcedure() const { return false; }
    virtual bool isInterMethod() const { return false; }
    // A method of a built-in class, run on the object's compiled part.
    virtual bool isCompiledMethod() const { return false; }
    virtual bool isData() const { return false; }
    virtual bool isArrayData() const { return false; }
    virtual bool isEmbed() const { return false; }
    virtual bool isByReference() const { return false; }
    virtual bool isObjectDataField() const { return false; }
    virtual bool isCompDataField() const { return false; }
    virtual bool isInterDataField() const { return false; }
    virtual bool isProcDataField() const { return false; }
    virtual bool isInterProcDataField() const { return false; }
    virtual bool isNonWritingField() const { return false; }
    virtual bool isEditable() const { return false; }
    virtual bool isEnumeration() const { return false; }
    virtual bool isReadOnly() const { return false; }
    virtual bool isObjReference() const { return false; }

    // 3. A new value for the field of obj (TypeMismatch "Field::getValue()"
    // for kinds without one), and the evaluable member.
    virtual ValuePtr getValue(InterObjRep& obj, SignatureRep& owner);
    virtual MemberPtr getMember(InterObjRep& obj, SignatureRep& owner);

    // 4. Preparing data for storage. `at` is the field's bytes in a block of
    // obj's layout: a copy about to be written, the block just read, the
    // live block of an object moving to module m.
    virtual void conditionForWrite(uint8_t* at, InterObjRep& obj);
    virtual void conditionAfterRead(uint8_t* at, InterObjRep& obj);
    virtual void conditionForAttach(uint8_t* at, InterObjRep& obj, tModuleIndex m);

    // 5. Moves the field down or up when a field at `at` of the same
    // section changes size by delta; and the double dispatch into the
    // signature's kind-specific add and remove.
    virtual void adjustOffset(int32_t at, int32_t delta);
    virtual void removeField(SignatureRep& sig) = 0;
    virtual void addField(SignatureRep& sig, int prepend, Value* init) = 0;

    // 6. Makes the field's bytes in obj sound (after a byte copy or when
    // added), and releases what they hold before obj goes.
    virtual void fldConstructor(InterObjRep& obj, SignatureRep& owner);
    virtual void fldDestructor(InterObjRep& obj, SignatureRep& owner);
    // Releases what the bytes at `at` hold without the destruction
    // protocol: the object leaves memory with its module, and whatever the
    // bytes name is going with it or stays in its own module.
    virtual void releaseBytes(uint8_t* at);

    // 7. The record, and the move into another module.
    virtual void write(OCLStream& out) const = 0;
    virtual void attach(tModuleIndex m);

    // 8. Declaration text, appended to out.
    virtual void declarationText(std::string& out, InterObjRep* obj) const;
    // The enumeration of an enumeration field; null for other kinds.
    virtual EnumRep* enumeration() const { return nullptr; }
    virtual const char* typeName() const { return nullptr; }
    virtual IdType type() const { return IDT_UNTYPED; }

    // 9. Reading and writing the field's value on obj; TypeMismatch for the
    // combinations a kind does not support.
    virtual void get(int16_t& out, InterObjRep& obj, SignatureRep& owner);
    virtual void get(int32_t& out, InterObjRep& obj, SignatureRep& owner);
    virtual void get(float& out, InterObjRep& obj, SignatureRep& owner);
    virtual void get(double& out, InterObjRep& obj, SignatureRep& owner);
    virtual void get(Currency& out, InterObjRep& obj, SignatureRep& owner);
    virtual void get(ValString& out, InterObjRep& obj, SignatureRep& owner);
    virtual void get(InterObj& out, InterObjRep& obj, SignatureRep& owner);
    virtual void set(int16_t v, InterObjRep& obj, SignatureRep& owner);
    virtual void set(int32_t v, InterObjRep& obj, SignatureRep& owner);
    virtual void set(float v, InterObjRep& obj, SignatureRep& owner);
    virtual void set(double v, InterObjRep& obj, SignatureRep& owner);
    virtual void set(const Currency& v, InterObjRep& obj, SignatureRep& owner);
    virtual void set(const ValString& v, InterObjRep& obj, SignatureRep& owner);
    virtual void set(const InterObj& v, InterObjRep& obj, SignatureRep& owner);

    // 11. Module gone goes while the field stays in module holder: what the
    // field names (softenInto) and what obj's bytes at `at` name
    // (softenDataInto) in gone become proxies of holder, found by name
    // again when followed.
    virtual void softenInto(tModuleIndex holder, tModuleIndex gone);
    virtual void softenDataInto(uint8_t* at, tModuleIndex holder, tModuleIndex gone);

    // 10. The address of the stored datum, the bytes the field takes in the
    // data block, and the conversion of an argument before binding.
    virtual void* getVoidPtr(InterObjRep& obj, SignatureRep& owner);
    virtual int32_t size() const { return 0; }
    virtual bool typeConvert(ValuePtr& v) const;

    const IdString& fieldID() const { return name_; }
    const char* name() const { return static_cast<const char*>(name_); }
    uint8_t flags() const { return flags_; }
    void setFlags(uint8_t f) {
        flags_ = f;
        FieldLookupRevision::advance();
    }
    bool isProtected() const { return (flags_ & kProtected) != 0; }
    bool isConst() const { return (flags_ & kConst) != 0; }
    bool isBeingRemoved() const { return (flags_ & kRemoving) != 0; }
    void markRemoving(bool on) {
        FieldLookupRevision::advance();
        flags_ = on ? (flags_ | kRemoving) : (flags_ & static_cast<uint8_t>(~kRemoving));
    }

    // The identifier becomes `name`, interned in module m (no check: the
    // signature's callers check collisions first).
    void rename(const char* name, tModuleIndex m);

    // Neither being removed, names equal.
    friend bool operator==(const Field& a, const Field& b);

    void deref() {
        if (dropCount()) delete this;
    }

protected:
    // For readers: the name is read, not made.
    struct tFromRecord {};
    explicit Field(tFromRecord) {}
    // Items 3 and 4 of the record, and writing them back.
    void readNameAndFlags(OCLStream& in, tModuleIndex m);
    void writeNameAndFlags(OCLStream& out) const;

    uint8_t flags_ = 0;
    IdString name_;
};

// A counted field pointer.
class FieldPtr {
public:
    FieldPtr() = default;
    FieldPtr(Field* f) : f_(f) {
        if (f_) f_->ref();
    }
    FieldPtr(const FieldPtr& o) : FieldPtr(o.f_) {}
    FieldPtr& operator=(const FieldPtr& o) {
        if (o.f_) o.f_->ref();
        if (f_) f_->deref();
        f_ = o.f_;
        return *this;
    }
    ~FieldPtr() {
        if (f_) f_->deref();
    }
    Field* get() const { return f_; }
    Field* operator->() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }

private:
    Field* f_ = nullptr;
};

// DataField: a field whose value belongs to each object.
class DataField : public Field {
public:
    explicit DataField(const char* name) : Field(name) {}
    DataField(const DataField& o) : Field(o), offset_(o.offset_) {}

    bool isData() const override { return true; }

    int32_t fieldOffset() const { return offset_; }
    void fieldOffset(int32_t offset) { offset_ = offset; }
    void adjustOffset(int32_t at, int32_t delta) override;

    // Where the field's bytes lie in an object of owner's layout.
    int32_t dataOffset(const SignatureRep& owner) const;
    const uint8_t* RODataPtr(InterObjRep& obj, SignatureRep& owner) const;
    uint8_t* RWDataPtr(InterObjRep& obj, SignatureRep& owner) const;

    // Equal type codes and, for Object fields, type names that are not both
    // present and different.
    bool typeMatch(const DataField& other) const;
    // The prototype object named by the type name; null when there is none.
    InterObjRep* TypeObj() const;

protected:
    explicit DataField(tFromRecord t) : Field(t) {}
    void readOffset(OCLStream& in);

    int32_t offset_ = 0;
};

// FieldPtrList: the fields of one signature, in order, each counted.
//
// A look-up compares the hash of the wanted name (IdString::Hash, over at
// most 31 characters) with the hash kept beside each entry and the texts
// only when those agree, so finding a field costs no allocation and, for a
// name that is not there, almost no character comparison. A long list
// (a module's object of thousands of fields, a procedure of thousands of
// locals) also keeps the positions of its hashes in an index, so that
// adding each field does not compare it with all before it: the index is a
// cache, entered on append, made again from the list after anything else
// moves the positions, and never needed for a right answer (a list that
// cannot make it, short of memory, is searched entry by entry).
class FieldPtrList {
public:
    FieldPtrList() = default;
    ~FieldPtrList();
    FieldPtrList(const FieldPtrList&) = delete;
    FieldPtrList& operator=(const FieldPtrList&) = delete;

    // The field named `name` (over 31 characters) that is not being
    // removed; null when there is none.
    Field* pvalue(const char* name) const { return pvalue(name, IdString::Hash(name)); }
    Field* pvalue(const char* name, uint32_t hash) const;

    // Add f unless a field of the same name is in the list; true when added.
    bool append(Field* f);
    bool prepend(Field* f);
    // Removes the field named `name` (also one being removed) and drops
    // the list's count; false when there is none.
    bool punbind(const char* name);
    // Removes f itself.
    bool punbind(const Field* f);
    void clear();

    size_t length() const { return fields_.size(); }
    Field* at(size_t i) const { return fields_[i]; }
    bool contains(const Field* f) const;
    // A field was renamed: its hash follows.
    void renamed(const Field* f);
    // Makes room for one more field, so that the next append or prepend
    // cannot fail.
    void reserveOne();

private:
    // Whether a field of that name is listed, also one being removed. The
    // hashes are compared first: a signature read from a file may list tens
    // of thousands of fields, and each one read is checked against all
    // before it.
    bool holds(const char* name, uint32_t hash) const;
    // The position of the first entry named `name`, leaving out those being
    // removed when live; -1 when there is none.
    ptrdiff_t position(const char* name, uint32_t hash, bool live) const;
    // The index, made again when stale; null for a short list or when it
    // cannot be made.
    const std::unordered_multimap<uint32_t, uint32_t>* index() const;
    // Room for one more entry, growing by half again: appending field after
    // field moves each entry a few times, not once per field added.
    void makeRoom();

    // Lists shorter than this are searched entry by entry.
    static constexpr size_t kIndexFrom = 32;

    std::vector<Field*> fields_;
    std::vector<uint32_t> hashes_;
    // Hash -> position, for every entry while indexValid_.
    mutable std::unordered_multimap<uint32_t, uint32_t> index_;
    mutable bool indexValid_ = false;
};

class FieldPtrListIter {
public:
    explicit FieldPtrListIter(const FieldPtrList& list) : list_(list) {}
    // The next field, or null at the end.
    Field* operator()() { return next_ < list_.length() ? list_.at(next_++) : nullptr; }

private:
    const FieldPtrList& list_;
    size_t next_ = 0;
};

}  // namespace tq
