// InterArray<T, code>: the interpreted arrays of the seven element types.
//
//   instance                      element size  element bytes
//   InterArray<int16_t, 1>        2             the datum, little-endian
//   InterArray<int32_t, 2>        4             the datum
//   InterArray<float, 3>          4             the datum
//   InterArray<double, 4>         8             the datum
//   InterArray<Currency, 5>       8             the datum (hundredths, a double)
//   InterArray<ValString, 6>      5             a string reference
//   InterObjArrayField (code 7)   5             an object reference
//   InterArrayOfObjects (code 7)  5             an object reference of a named type
//
// Reference elements follow the rules of the single fields (intfld.h): after
// a byte copy of another object's data each element is made the object's
// own (a String element gets its own string with the same text, an Object
// element a counted reference to the object the bytes named), the
// destructor releases them, and they are stored as descriptors. An Object
// array in a frame's locals prototype leaves its elements as the prototype
// has them; in a frame's locals object they start empty.
//
// Indexing gives a value over the element that reads and writes it in place
// through the array field and its object (arrayfld.h, invariant 3); it makes
// no allocation but the value itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/arrayfld.h"

namespace tq {

template <class T, IdType code>
class ArrayElementValue;

template <class T, IdType code>
class InterArray : public InterArrayField {
public:
    InterArray(const char* name, int32_t dims);
    InterArray(const InterArray& o) : InterArrayField(o) {}
    static InterArray* Read(OCLStream& in, tModuleIndex m);

    Field* clone() const override { return new InterArray(*this); }
    InterArrayField* redimCopy(int32_t dims) const override { return new InterArray(*this, dims); }
    IdType type() const override { return code; }
    void write(OCLStream& out) const override;

    ValuePtr arrayElement(InterObjRep& obj, SignatureRep& owner, int32_t byteOffset) override;

    // An array cannot be bound to an argument: arrays are passed through
    // ArrayReferenceField (TypeMismatch "InterArray<class Type, IdType
    // TypeConst>::bind()").
    void bind(InterObjRep& obj, SignatureRep& owner, Value* v) override;
    void checkBinding(const Value* v) const override;

    void fldConstructor(InterObjRep& obj, SignatureRep& owner) override;
    void fldDestructor(InterObjRep& obj, SignatureRep& owner) override;
    void conditionForWrite(uint8_t* at, InterObjRep& obj) override;
    void conditionAfterRead(uint8_t* at, InterObjRep& obj) override;
    void conditionForAttach(uint8_t* at, InterObjRep& obj, tModuleIndex m) override;
    void releaseBytes(uint8_t* at) override;
    void softenDataInto(uint8_t* at, tModuleIndex holder, tModuleIndex gone) override;
    void rebuildElements(const InterArrayField& newField, uint8_t* oldBytes, uint8_t* newBytes, InterObjRep& obj,
                         bool preserve, std::vector<uint8_t>& dropped) const override;

protected:
    InterArray(const InterArray& o, int32_t dims) : InterArrayField(o, dims) {}
    explicit InterArray(tFromRecord t);
    // Whether o may be stored in an element (objects of a named type only).
    virtual bool acceptsElement(InterObjRep* o);

private:
    template <class U, IdType c>
    friend class ArrayElementValue;
    // Element access for the element values, which are defined with them.
    template <class X>
    void readElement(X& out, InterObjRep& obj, SignatureRep& owner, int32_t byteOffset);
    template <class X>
    void storeElement(const X& v, InterObjRep& obj, SignatureRep& owner, int32_t byteOffset);
    // Makes every element of the array at `at` empty, as a new object has it.
    void emptyElements(uint8_t* at, int64_t count, InterObjRep& obj) const;
    // Releases what one element holds, leaving it empty.
    void releaseElement(uint8_t* at) const;
};

using InterObjArrayField = InterArray<InterObj, IDT_OBJECT>;

// An array of objects restricted to a type name: the name of the prototype
// whose signature every element's object must have as itself or an
// ancestor. Its record is that of kind 9 with type code 0x87, followed by
// the type name.
class InterArrayOfObjects final : public InterObjArrayField {
public:
    static constexpr IdType kRecordCode = IDT_OBJECT | 0x80;

    InterArrayOfObjects(const char* name, int32_t dims, const char* typeName);
    InterArrayOfObjects(const InterArrayOfObjects& o);
    static InterArrayOfObjects* Read(OCLStream& in, tModuleIndex m);

    Field* clone() const override { return new InterArrayOfObjects(*this); }
    InterArrayField* redimCopy(int32_t dims) const override { return new InterArrayOfObjects(*this, dims); }
    const char* typeName() const override { return typeName_.c_str(); }
    void write(OCLStream& out) const override;

protected:
    // TypeMismatch "InterObjField::set()" is raised for the others.
    bool acceptsElement(InterObjRep* o) override;

private:
    InterArrayOfObjects(const InterArrayOfObjects& o, int32_t dims);
    explicit InterArrayOfObjects(tFromRecord t) : InterObjArrayField(t) {}

    std::string typeName_;
    Faultp<SignatureRep> typeSig_{UncountedIndirectReference, nullptr};
};

// Reads the rest of a kind 9 record (after the kind byte): the type code
// chooses the instance.
Field* ReadArrayField(OCLStream& in, tModuleIndex m);

extern template class InterArray<int16_t, IDT_SHORT>;
extern template class InterArray<int32_t, IDT_LONG>;
extern template class InterArray<float, IDT_FLOAT>;
extern template class InterArray<double, IDT_DOUBLE>;
extern template class InterArray<Currency, IDT_CURRENCY>;
extern template class InterArray<ValString, IDT_STRING>;
extern template class InterArray<InterObj, IDT_OBJECT>;

}  // namespace tq
