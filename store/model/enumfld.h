// Enumeration fields: values of an enumeration type (enum.h), kept as longs
// and written and read as names.
//
// Whatever is written to such a field, a number or a text, is stored as
// validLong of it, so only values of the enumeration are ever stored; read
// as a number it gives the long, read as a String what the value's entry
// shows. Object reads and writes fail with TypeMismatch.
//
//   kind  class               size  data block                       record adds
//   1     InterEnumField      4     the value, a long                 enumeration reference
//   4     InterEnumReference  4     handle id of the caller's Value   enumeration reference
//   20    InterProcEnumField  0     nothing (Get and Set procedures)  Set name, Get name,
//                                                                     enumeration reference
//
// The enumeration reference is a counted reference through the
// enumeration's handle cell (stream flags 0x07): a field can outlive the
// module whose enumeration types it, and then reads as having none, which
// accepts no value.
#pragma once

#include <cstdint>
#include <string>

#include "store/faultp.h"
#include "store/model/enum.h"
#include "store/model/fldval.h"
#include "store/model/intfld.h"

namespace tq {

// The enumeration a field is typed by.
class EnumTypeRef {
public:
    explicit EnumTypeRef(EnumRep* e = nullptr) : enum_(IndirectReference, e) {}
    EnumTypeRef(const EnumTypeRef& o) : enum_(IndirectReference, o.enum_) {}
    EnumTypeRef& operator=(const EnumTypeRef&) = delete;

    // Null once the enumeration is gone (or, across modules, until proxies
    // resolve it).
    EnumRep* get() const { return enum_.get(); }

    // validLong through the enumeration; with none, every value is refused
    // as no entry's.
    int32_t validLong(const Value& v) const;
    int32_t validLong(int32_t v) const;
    int32_t validLong(const char* text) const;
    // What the value shows; a value that is no entry's reads as its number.
    ValString text(int32_t value) const;

    // The five-byte reference of the record; anything but a counted
    // indirect descriptor raises ObjectLoadFailed naming `what`.
    void read(OCLStream& in, tModuleIndex m, const char* what);
    void write(OCLStream& out) const { enum_.write(out); }
    // The enumeration lies in module gone, which goes: the reference
    // becomes a proxy of module holder.
    void softenFrom(tModuleIndex gone, tModuleIndex holder) { enum_.softenFrom(gone, holder); }

private:
    Faultp<EnumRep> enum_;
};

// What the two kinds stored in the object's data share: the enumeration,
// and reads and writes through validLong and the entries' texts. A kind
// says only where its long lies (load, store).
class EnumDataField : public InterDataField {
public:
    bool isEnumeration() const override { return true; }
    EnumRep* enumeration() const override { return enum_.get(); }
    void softenInto(tModuleIndex holder, tModuleIndex gone) override { enum_.softenFrom(gone, holder); }
    IdType type() const override { return IDT_LONG; }
    int32_t size() const override { return 4; }
    void declarationText(std::string& out, InterObjRep* obj) const override;
    ValuePtr getValue(InterObjRep& obj, SignatureRep& owner) override;

    using InterDataField::get;
    using InterDataField::set;
    void get(int16_t& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(int32_t& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(float& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(double& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(Currency& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(ValString& out, InterObjRep& obj, SignatureRep& owner) override;
    void set(int16_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(int32_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(float v, InterObjRep& obj, SignatureRep& owner) override;
    void set(double v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const Currency& v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const ValString& v, InterObjRep& obj, SignatureRep& owner) override;

protected:
    EnumDataField(const char* name, EnumRep* e) : InterDataField(name), enum_(e) {}
    EnumDataField(const EnumDataField& o) : InterDataField(o), enum_(o.enum_) {}
    explicit EnumDataField(tFromRecord t) : InterDataField(t) {}

    // The record after the kind byte: name and flags, offset, enumeration
    // (`what` names it when it is not sound).
    void readRecord(OCLStream& in, tModuleIndex m, const char* what);
    void writeRecord(OCLStream& out, uint8_t kind) const;

    virtual int32_t load(InterObjRep& obj, SignatureRep& owner) = 0;
    virtual void store(int32_t v, InterObjRep& obj, SignatureRep& owner) = 0;

    EnumTypeRef enum_;
};

class InterEnumField final : public EnumDataField {
public:
    InterEnumField(const char* name, EnumRep* e) : EnumDataField(name, e) {}
    // An InterEnumField (byValue) or an InterEnumReference.
    static InterDataField* make(const char* name, EnumRep* e, int byValue);
    static InterEnumField* Read(OCLStream& in, tModuleIndex m);

    Field* clone() const override { return new InterEnumField(*this); }
    void write(OCLStream& out) const override { writeRecord(out, FRK_ENUM); }

    // A new Long of validLong of any argument that is not a Long already.
    bool typeConvert(ValuePtr& v) const override;
    void initialBytes(const Value* init, uint8_t* out, ValuePtr& keep) override;
    void bind(InterObjRep& obj, SignatureRep& owner, Value* v) override;
    void checkBinding(const Value* v) const override;

private:
    explicit InterEnumField(tFromRecord t) : EnumDataField(t) {}
    int32_t load(InterObjRep& obj, SignatureRep& owner) override;
    void store(int32_t v, InterObjRep& obj, SignatureRep& owner) override;
};

class InterEnumReference final : public EnumDataField {
public:
    InterEnumReference(const char* name, EnumRep* e) : EnumDataField(name, e) {}
    static InterEnumReference* Read(OCLStream& in, tModuleIndex m);

    Field* clone() const override { return new InterEnumReference(*this); }
    bool isByReference() const override { return true; }
    void write(OCLStream& out) const override { writeRecord(out, FRK_ENUM_REFERENCE); }
    void* getVoidPtr(InterObjRep& obj, SignatureRep& owner) override;

    // Only a temporary argument is converted; a variable passed by
    // reference must be a Long (TypeMismatch "InterReference::bind()").
    bool typeConvert(ValuePtr& v) const override;
    void initialBytes(const Value* init, uint8_t* out, ValuePtr& keep) override;
    void bind(InterObjRep& obj, SignatureRep& owner, Value* v) override;
    void checkBinding(const Value* v) const override;
    // A reference to a caller's value means nothing outside the call.
    void conditionForWrite(uint8_t* at, InterObjRep& obj) override;
    void conditionAfterRead(uint8_t* at, InterObjRep& obj) override;

private:
    explicit InterEnumReference(tFromRecord t) : EnumDataField(t) {}
    // The caller's value; Is_Null "InterReference::get()" when unbound.
    Value& referred(InterObjRep& obj, SignatureRep& owner);
    int32_t load(InterObjRep& obj, SignatureRep& owner) override;
    void store(int32_t v, InterObjRep& obj, SignatureRep& owner) override;
};


// A property of an enumeration type, computed by its Get and Set procedures.
class InterProcEnumField final : public InterProcDataField {
public:
    InterProcEnumField(const char* name, const char* setName, const char* getName, EnumRep* e)
        : InterProcDataField(name, setName, getName), enum_(e) {}
    InterProcEnumField(const InterProcEnumField& o) : InterProcDataField(o), enum_(o.enum_) {}
    static InterProcEnumField* Read(OCLStream& in, tModuleIndex m);

    Field* clone() const override { return new InterProcEnumField(*this); }
    bool isEnumeration() const override { return true; }
    EnumRep* enumeration() const override { return enum_.get(); }
    void softenInto(tModuleIndex holder, tModuleIndex gone) override { enum_.softenFrom(gone, holder); }
    IdType type() const override { return IDT_LONG; }
    void write(OCLStream& out) const override;
    ValuePtr getValue(InterObjRep& obj, SignatureRep& owner) override;

    using InterProcDataField::get;
    using InterProcDataField::set;
    void get(int16_t& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(int32_t& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(float& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(double& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(Currency& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(ValString& out, InterObjRep& obj, SignatureRep& owner) override;
    void set(int16_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(int32_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(float v, InterObjRep& obj, SignatureRep& owner) override;
    void set(double v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const Currency& v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const ValString& v, InterObjRep& obj, SignatureRep& owner) override;

private:
    explicit InterProcEnumField(tFromRecord t) : InterProcDataField(t) {}
    // The Get procedure's value as a long (AccessDenied "ProcDataField::get()"
    // when reading is not allowed), and the Set procedure with validLong of v.
    int32_t fetch(InterObjRep& obj);
    void store(int32_t v, InterObjRep& obj);

    EnumTypeRef enum_;
};

// The value of an enumeration field. Assignment stores validLong of what is
// assigned; the six comparisons compare numerically, a String operand first
// turned into the enumeration's value, so a Boolean field compared with
// "True" compares with -1.
class EnumFieldValue final : public FieldValue<int32_t, IDT_LONG> {
public:
    EnumFieldValue(Field& f, InterObjRep& obj, SignatureRep& owner) : FieldValue(f, obj, owner) {}

    Value& operator=(const Value& r) override;
    int32_t operator>(const Value& r) const override;
    int32_t operator<(const Value& r) const override;
    int32_t operator==(const Value& r) const override;
    int32_t operator!=(const Value& r) const override;
    int32_t operator>=(const Value& r) const override;
    int32_t operator<=(const Value& r) const override;

private:
    // r as the enumeration's value when it is a String; null otherwise.
    ValuePtr asEnumValue(const Value& r) const;
};

}  // namespace tq
