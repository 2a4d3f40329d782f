// The interpreted data fields: values, by-reference parameters, object
// references, embedded objects and properties computed by procedures.
//
// What each kind keeps in an object's data block, and what its record adds
// after the common items of field.h (kind, [type], name, flags, offset):
//
//   kind  class                         size  data block              record adds
//   2     InterField<T, code> 1-6       2,4,4,8,8,5
//                                             the datum, little-endian;
//                                             String: a string reference
//   3     TypedInterProcDataField 1-7   0     nothing                 Set name, Get name
//   5     InterReference<T, code> 1-6   4     handle id of the        -
//                                             caller's Value
//   5     InterObjReference (code 7)    4     as above                type name
//   6     EmbedObjField                 5     counted reference to    type name
//                                             the embedded object
//   7     InterObjField                 5     counted object          type name
//                                             reference
//   8     StrictInterObjField           5     as kind 7               type name
//
// A five-byte slot holds a Faultp placed in the block by the field's
// constructor and destroyed by its destructor. After a byte copy of another
// object's data (a new clone, a new field filled from a value) the slot
// names what the source named but holds no count: the constructor turns it
// into the object's own reference. On file the slot is a reference in its
// stream form (flags with bit 2, descriptor), and a freshly read slot is a
// descriptor that has not been followed.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "store/currency.h"
#include "store/field.h"
#include "store/model/fwd.h"
#include "store/persist/idstr.h"
#include "store/persist/vlstrrep.h"

namespace tq {

// Data are kept little-endian in blocks, as they lie in module files.
template <class T>
T LoadDatum(const uint8_t* at) {
    if constexpr (std::is_same_v<T, Currency>) {
        return Currency::FromHundredths(LoadDatum<double>(at));
    } else {
        T v;
        std::memcpy(&v, at, sizeof v);
        static_assert(std::endian::native == std::endian::little,
                      "data blocks are little-endian; a big-endian port swaps here");
        return v;
    }
}

template <class T>
void StoreDatum(uint8_t* at, const T& v) {
    if constexpr (std::is_same_v<T, Currency>) {
        StoreDatum<double>(at, v.hundredths());
    } else {
        std::memcpy(at, &v, sizeof v);
    }
}

// The size of a datum of type code in a data block.
int32_t DatumSize(IdType code);

// A five-byte reference slot of obj's data as it arrives from a file must be
// a counted descriptor of the module being read (or of one of its proxies,
// when proxies are allowed); it then names obj's module. Anything else
// raises ObjectLoadFailed.
void CheckReferenceSlot(uint8_t* at, InterObjRep& obj, bool proxiesAllowed);
// A String slot (of a field or an array element) as it arrives from a file:
// a sound reference slot that names nothing or an entry the module's
// "Strings" table holds; else ObjectLoadFailed naming obj's record.
void CheckStringSlot(uint8_t* at, InterObjRep& obj);

class InterDataField : public DataField {
public:
    explicit InterDataField(const char* name) : DataField(name) {}
    InterDataField(const InterDataField& o) : DataField(o) {}

    // An interpreted data field: for codes 1 to 6 an InterField (byValue)
    // or an InterReference; code 0 makes the Long forms; code 7 an
    // InterObjField with the type name (byValue) or an InterObjReference.
    // Code 9 reports "Field type: 9 Not implemented." on the error stream;
    // it and every other code give null.
    static InterDataField* make(const char* name, IdType type, int byValue,
                                const char* typeName = nullptr);

    bool isInterDataField() const override { return true; }
    bool isEditable() const override { return true; }

    // Same name (neither being removed), matching types, same offset.
    bool match(const InterDataField& other) const;

    void addField(SignatureRep& sig, int prepend, Value* init) override;
    void removeField(SignatureRep& sig) override;
    ValuePtr getValue(InterObjRep& obj, SignatureRep& owner) override;
    MemberPtr getMember(InterObjRep& obj, SignatureRep& owner) override;
    void declarationText(std::string& out, InterObjRep* obj) const override;
    bool typeConvert(ValuePtr& v) const override;
    void* getVoidPtr(InterObjRep& obj, SignatureRep& owner) override;

    // The bytes a new field gives every object: init's datum (init's type
    // must be the field's) or zeros. Strings and objects are given as the
    // bytes of a reference that `keep` holds until every object's
    // constructor has made them its own. Checks come first: a failure here
    // changes nothing.
    virtual void initialBytes(const Value* init, uint8_t* out, ValuePtr& keep);

    // Stores an argument into the field of a procedure's argument object,
    // and checks in advance that it would bind.
    virtual void bind(InterObjRep& obj, SignatureRep& owner, Value* v);
    virtual void checkBinding(const Value* v) const;

protected:
    explicit InterDataField(tFromRecord t) : DataField(t) {}
};

template <class T, IdType code>
class InterField final : public InterDataField {
public:
    explicit InterField(const char* name) : InterDataField(name) {}
    InterField(const InterField& o) : InterDataField(o) {}
    static InterField* Read(OCLStream& in, tModuleIndex m);

    Field* clone() const override { return new InterField(*this); }
    IdType type() const override { return code; }
    int32_t size() const override { return DatumSize(code); }
    void write(OCLStream& out) const override;

    void get(int16_t& out, InterObjRep& obj, SignatureRep& owner) override { read(out, obj, owner); }
    void get(int32_t& out, InterObjRep& obj, SignatureRep& owner) override { read(out, obj, owner); }
    void get(float& out, InterObjRep& obj, SignatureRep& owner) override { read(out, obj, owner); }
    void get(double& out, InterObjRep& obj, SignatureRep& owner) override { read(out, obj, owner); }
    void get(Currency& out, InterObjRep& obj, SignatureRep& owner) override { read(out, obj, owner); }
    void get(ValString& out, InterObjRep& obj, SignatureRep& owner) override { read(out, obj, owner); }
    void get(InterObj& out, InterObjRep& obj, SignatureRep& owner) override { read(out, obj, owner); }
    void set(int16_t v, InterObjRep& obj, SignatureRep& owner) override { store(v, obj, owner); }
    void set(int32_t v, InterObjRep& obj, SignatureRep& owner) override { store(v, obj, owner); }
    void set(float v, InterObjRep& obj, SignatureRep& owner) override { store(v, obj, owner); }
    void set(double v, InterObjRep& obj, SignatureRep& owner) override { store(v, obj, owner); }
    void set(const Currency& v, InterObjRep& obj, SignatureRep& owner) override { store(v, obj, owner); }
    void set(const ValString& v, InterObjRep& obj, SignatureRep& owner) override { store(v, obj, owner); }
    void set(const InterObj& v, InterObjRep& obj, SignatureRep& owner) override { store(v, obj, owner); }

    // A number field is kept by a lookup cache as a DatumFieldValue
    // (model/fldval.h), which reads and writes the datum in place.
    MemberPtr getMember(InterObjRep& obj, SignatureRep& owner) override;
    void initialBytes(const Value* init, uint8_t* out, ValuePtr& keep) override;
    void bind(InterObjRep& obj, SignatureRep& owner, Value* v) override;
    void checkBinding(const Value* v) const override;

    void fldConstructor(InterObjRep& obj, SignatureRep& owner) override;
    void fldDestructor(InterObjRep& obj, SignatureRep& owner) override;
    void conditionForWrite(uint8_t* at, InterObjRep& obj) override;
    void conditionAfterRead(uint8_t* at, InterObjRep& obj) override;
    void conditionForAttach(uint8_t* at, InterObjRep& obj, tModuleIndex m) override;
    void releaseBytes(uint8_t* at) override;

private:
    InterField() : InterDataField(tFromRecord{}) {}
    template <class X>
    void read(X& out, InterObjRep& obj, SignatureRep& owner);
    template <class X>
    void store(const X& v, InterObjRep& obj, SignatureRep& owner);
};

template <class T, IdType code>
class InterReference final : public InterDataField {
public:
    explicit InterReference(const char* name) : InterDataField(name) {}
    InterReference(const InterReference& o) : InterDataField(o) {}
    static InterReference* Read(OCLStream& in, tModuleIndex m);

    Field* clone() const override { return new InterReference(*this); }
    bool isByReference() const override { return true; }
    IdType type() const override { return code; }
    int32_t size() const override { return 4; }
    void write(OCLStream& out) const override;

    void get(int16_t& out, InterObjRep& obj, SignatureRep& owner) override { referred(obj, owner).get(out); }
    void get(int32_t& out, InterObjRep& obj, SignatureRep& owner) override { referred(obj, owner).get(out); }
    void get(float& out, InterObjRep& obj, SignatureRep& owner) override { referred(obj, owner).get(out); }
    void get(double& out, InterObjRep& obj, SignatureRep& owner) override { referred(obj, owner).get(out); }
    void get(Currency& out, InterObjRep& obj, SignatureRep& owner) override { referred(obj, owner).get(out); }
    void get(ValString& out, InterObjRep& obj, SignatureRep& owner) override { referred(obj, owner).get(out); }
    void get(InterObj& out, InterObjRep& obj, SignatureRep& owner) override { referred(obj, owner).get(out); }
    void set(int16_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(int32_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(float v, InterObjRep& obj, SignatureRep& owner) override;
    void set(double v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const Currency& v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const ValString& v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const InterObj& v, InterObjRep& obj, SignatureRep& owner) override;
    void* getVoidPtr(InterObjRep& obj, SignatureRep& owner) override;

    void initialBytes(const Value* init, uint8_t* out, ValuePtr& keep) override;
    void bind(InterObjRep& obj, SignatureRep& owner, Value* v) override;
    void checkBinding(const Value* v) const override;
    void conditionForWrite(uint8_t* at, InterObjRep& obj) override;
    void conditionAfterRead(uint8_t* at, InterObjRep& obj) override;

private:
    InterReference() : InterDataField(tFromRecord{}) {}
    Value& referred(InterObjRep& obj, SignatureRep& owner);
};

// The base of the fields whose value is an object: the type name restricts
// what they may hold (the name of a prototype; empty for any object).
class ObjectDataField : public InterDataField {
public:
    ObjectDataField(const char* name, const char* typeName);
    ObjectDataField(const ObjectDataField& o);

    bool isObjectDataField() const override { return true; }
    IdType type() const override { return IDT_OBJECT; }
    const char* typeName() const override { return typeName_.empty() ? nullptr : typeName_.c_str(); }
    void setTypeName(const char* typeName);
    void declarationText(std::string& out, InterObjRep* obj) const override;

    // The signature of the type name's prototype; null when there is no
    // type name or it does not resolve.
    SignatureRep* typeSignature();
    // True without a type name, for a null object, and for an object whose
    // signature has the type name's signature as itself or an ancestor.
    bool properlyTyped(InterObjRep* obj);

    // Object fields hold no numbers.
    void get(int16_t& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(int32_t& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(float& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(double& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(Currency& out, InterObjRep& obj, SignatureRep& owner) override;
    void set(int16_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(int32_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(float v, InterObjRep& obj, SignatureRep& owner) override;
    void set(double v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const Currency& v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const ValString& v, InterObjRep& obj, SignatureRep& owner) override;

protected:
    explicit ObjectDataField(tFromRecord t) : InterDataField(t) {}
    void readTypeName(OCLStream& in);
    void writeTail(OCLStream& out) const;

    std::string typeName_;
    Faultp<SignatureRep> typeSig_{UncountedIndirectReference, nullptr};
};

// A field whose five bytes are one counted object reference.
class ObjectSlotField : public ObjectDataField {
public:
    using ObjectDataField::ObjectDataField;

    int32_t size() const override { return 5; }
    using ObjectDataField::get;
    using ObjectDataField::set;
    void get(InterObj& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(ValString& out, InterObjRep& obj, SignatureRep& owner) override;
    void conditionForWrite(uint8_t* at, InterObjRep& obj) override;
    void conditionAfterRead(uint8_t* at, InterObjRep& obj) override;
    void conditionForAttach(uint8_t* at, InterObjRep& obj, tModuleIndex m) override;
    void fldDestructor(InterObjRep& obj, SignatureRep& owner) override;
    void releaseBytes(uint8_t* at) override;
    void softenDataInto(uint8_t* at, tModuleIndex holder, tModuleIndex gone) override;

    // The reference in obj's block.
    Faultp<InterObjRep>& slot(InterObjRep& obj, SignatureRep& owner);
};

class InterObjField : public ObjectSlotField {
public:
    InterObjField(const char* name, const char* typeName) : ObjectSlotField(name, typeName) {}
    InterObjField(const InterObjField& o) : ObjectSlotField(o) {}
    static InterObjField* Read(OCLStream& in, tModuleIndex m, bool strict);

    Field* clone() const override { return new InterObjField(*this); }
    bool isObjReference() const override { return true; }
    void write(OCLStream& out) const override;

    using ObjectSlotField::set;
    // TypeMismatch "InterObjField::set()" for an object not properly typed.
    void set(const InterObj& v, InterObjRep& obj, SignatureRep& owner) override;
    void initialBytes(const Value* init, uint8_t* out, ValuePtr& keep) override;
    void bind(InterObjRep& obj, SignatureRep& owner, Value* v) override;
    void checkBinding(const Value* v) const override;
    void fldConstructor(InterObjRep& obj, SignatureRep& owner) override;

protected:
    using ObjectSlotField::ObjectSlotField;
    virtual uint8_t recordKind() const;
};

class StrictInterObjField final : public InterObjField {
public:
    StrictInterObjField(const char* name, const char* typeName) : InterObjField(name, typeName) {}
    StrictInterObjField(const StrictInterObjField& o) : InterObjField(o) {}

    Field* clone() const override { return new StrictInterObjField(*this); }
    // TypeMismatch "InterObjField::getValue()" when the type name does not
    // resolve.
    ValuePtr getValue(InterObjRep& obj, SignatureRep& owner) override;

private:
    friend class InterObjField;
    explicit StrictInterObjField(tFromRecord t) : InterObjField(t) {}
    uint8_t recordKind() const override;
};

class InterObjReference final : public ObjectDataField {
public:
    InterObjReference(const char* name, const char* typeName) : ObjectDataField(name, typeName) {}
    InterObjReference(const InterObjReference& o) : ObjectDataField(o) {}
    static InterObjReference* Read(OCLStream& in, tModuleIndex m);

    Field* clone() const override { return new InterObjReference(*this); }
    bool isByReference() const override { return true; }
    bool isObjReference() const override { return true; }
    int32_t size() const override { return 4; }
    void write(OCLStream& out) const override;

    using ObjectDataField::get;
    using ObjectDataField::set;
    void get(InterObj& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(ValString& out, InterObjRep& obj, SignatureRep& owner) override;
    void set(const InterObj& v, InterObjRep& obj, SignatureRep& owner) override;
    void* getVoidPtr(InterObjRep& obj, SignatureRep& owner) override;
    void initialBytes(const Value* init, uint8_t* out, ValuePtr& keep) override;
    void bind(InterObjRep& obj, SignatureRep& owner, Value* v) override;
    void checkBinding(const Value* v) const override;
    void conditionForWrite(uint8_t* at, InterObjRep& obj) override;
    void conditionAfterRead(uint8_t* at, InterObjRep& obj) override;

private:
    explicit InterObjReference(tFromRecord t) : ObjectDataField(t) {}
    Value& referred(InterObjRep& obj, SignatureRep& owner);
};

// An embedded object: every object of the signature holds its own object in
// this field, made by the field's constructor and destroyed by its
// destructor.
class EmbedObjField final : public ObjectSlotField {
public:
    EmbedObjField(const char* name, const char* typeName) : ObjectSlotField(name, typeName) {}
    EmbedObjField(const EmbedObjField& o) : ObjectSlotField(o) {}
    static EmbedObjField* Read(OCLStream& in, tModuleIndex m);

    Field* clone() const override { return new EmbedObjField(*this); }
    bool isEmbed() const override { return true; }
    void write(OCLStream& out) const override;
    void addField(SignatureRep& sig, int prepend, Value* init) override;

    // Reading an embed whose slot is still empty makes the object first.
    ValuePtr getValue(InterObjRep& obj, SignatureRep& owner) override;
    using ObjectSlotField::get;
    using ObjectSlotField::set;
    void get(InterObj& out, InterObjRep& obj, SignatureRep& owner) override;
    void set(const InterObj& v, InterObjRep& obj, SignatureRep& owner) override;
    void initialBytes(const Value* init, uint8_t* out, ValuePtr& keep) override;
    void bind(InterObjRep& obj, SignatureRep& owner, Value* v) override;
    void checkBinding(const Value* v) const override;
    void fldConstructor(InterObjRep& obj, SignatureRep& owner) override;
    void fldDestructor(InterObjRep& obj, SignatureRep& owner) override;
    void declarationText(std::string& out, InterObjRep* obj) const override;
    void conditionAfterRead(uint8_t* at, InterObjRep& obj) override;

    // True when the type name's prototype subsumes host, so embedding an
    // object of that type in host would embed host in itself.
    bool circularEmbed(InterObjRep* host);
    // Makes the embedded object of obj when the slot is empty
    // (CircularEmbed "EmbedObjField::ensureEmbed" when it would contain
    // obj); returns it.
    InterObjRep* ensureEmbed(InterObjRep& obj, SignatureRep& owner);
    // Detaches the embedded object of host before the field is removed.
    void yieldEmbed(InterObjRep& host, SignatureRep& owner);

private:
    explicit EmbedObjField(tFromRecord t) : ObjectSlotField(t) {}
    InterObjRep* makeEmbed(InterObjRep& host, InterObjRep* copiedFrom);
};

// A property whose value is computed by a Get procedure and stored by a Set
// procedure of the object; it takes no bytes.
class InterProcDataField : public DataField {
public:
    bool isReadOnly() const override;
    InterProcDataField(const char* name, const char* setName, const char* getName);
    InterProcDataField(const InterProcDataField& o);

    bool isProcDataField() const override { return true; }
    bool isInterProcDataField() const override { return true; }
    int32_t size() const override { return 0; }
    void addField(SignatureRep& sig, int prepend, Value* init) override;
    void removeField(SignatureRep& sig) override;
    ValuePtr getValue(InterObjRep& obj, SignatureRep& owner) override;
    MemberPtr getMember(InterObjRep& obj, SignatureRep& owner) override;
    void attach(tModuleIndex m) override;

    const char* setName() const { return static_cast<const char*>(setName_); }
    const char* getName() const { return static_cast<const char*>(getName_); }

protected:
    explicit InterProcDataField(tFromRecord t) : DataField(t) {}
    void readProcNames(OCLStream& in, tModuleIndex m);
    void writeProcNames(OCLStream& out) const;

    // Runs the Get procedure on obj (flags 9); NotFound 32740 with the
    // procedure's name when no member handles it.
    ValuePtr callGet(InterObjRep& obj);
    // Runs the Set procedure on obj with v as its one argument (flags 10).
    void callSet(InterObjRep& obj, Value* v);

    IdString setName_;
    IdString getName_;
};

template <class T, IdType code>
class TypedInterProcDataField final : public InterProcDataField {
public:
    TypedInterProcDataField(const char* name, const char* setName, const char* getName)
        : InterProcDataField(name, setName, getName) {}
    TypedInterProcDataField(const TypedInterProcDataField& o) : InterProcDataField(o) {}
    static TypedInterProcDataField* Read(OCLStream& in, tModuleIndex m);

    Field* clone() const override { return new TypedInterProcDataField(*this); }
    IdType type() const override { return code; }
    void write(OCLStream& out) const override;

    // Defined beside read and store, with the class's instantiations.
    void get(int16_t& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(int32_t& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(float& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(double& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(Currency& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(ValString& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(InterObj& out, InterObjRep& obj, SignatureRep& owner) override;
    void set(int16_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(int32_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(float v, InterObjRep& obj, SignatureRep& owner) override;
    void set(double v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const Currency& v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const ValString& v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const InterObj& v, InterObjRep& obj, SignatureRep& owner) override;

private:
    TypedInterProcDataField() : InterProcDataField(tFromRecord{}) {}
    template <class X>
    void read(X& out, InterObjRep& obj, SignatureRep& owner);
    template <class X>
    void store(const X& v, InterObjRep& obj, SignatureRep& owner);
};

// Literal text of a String value for declarations and unloaded text: in
// double quotes, a quote doubled, and each control character written as
// " & Chr$(n) & " so that the text reads back as the same string.
std::string MakePrintableString(std::string_view text);

}  // namespace tq
