// Arrays: data fields whose bytes in an object's data block hold all their
// elements, laid out by fixed dimensions.
//
// ArrayField is the dimension descriptor every array field carries: the
// number of dimensions and, for each, its lower bound, upper bound and
// stride (the distance in bytes between consecutive indices). Elements lie
// row-major, the last index varying fastest:
//
//     stride(last)  = element size
//     stride(k)     = (upper(k+1) - lower(k+1) + 1) * stride(k+1)
//     array size    = (upper(0) - lower(0) + 1) * stride(0), 0 without dimensions
//     element (i0, ..., in) lies at  sum of (ik - lower(k)) * stride(k)
//
// from the array field's own address (the section rule of sigrep.h).
//
// InterArrayField is the base of the interpreted array fields (InterArray<T,
// code> in tarrfld.h). A signature swaps a resized copy in for one
// (redimArrayField): every object of the progeny gets a new block in which
// the array's bytes are rebuilt (InterObjRep::arrayFieldRedim).
// ArrayReferenceField is a by-reference array parameter: it names the
// caller's array, its owner signature and its object.
//
// Invariants:
//  1. The strides always agree with the bounds and the element size, and
//     the array's size, every stride and every element offset fit in a
//     signed 32-bit number: declarations and records that would overflow are
//     refused before anything changes.
//  2. An array field's dimensions never change while objects carry its
//     bytes (once it is in a signature): a resize makes a new field
//     (redimCopy) and swaps it in.
//  3. An element is reached through its array field and its object at each
//     access, never through a pointer kept into a data block: blocks are
//     rebuilt when fields change, and an element of an array that has been
//     resized or removed since it was indexed reads as gone.
//
// Array field record (after the common items of field.h: kind 9, type
// code, name, flags, offset):
//
//   item  width   meaning
//   1     4       number of dimensions n, unsigned (at most kMaxDimensions)
//   2     12 * n  for each dimension: lower bound, upper bound, stride,
//                 each signed 32-bit
//   3     ...     type code 0x87 (an array of objects of a named type) only:
//                 the type name, a string
//
// By-reference array parameter record (kind 11, after the name, flags and
// offset): one byte, the element type code with the array bit 0x20.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "store/faultp.h"
#include "store/handkind.h"
#include "store/model/intfld.h"

namespace tq {

class Context;
class ExprNode;
class ArrayReferenceFieldValue;

// The type-code bit that marks an array: parameters typed as arrays and the
// values of whole arrays carry it beside their element type.
constexpr IdType IDT_ARRAY = 0x20;

class ArrayField {
public:
    // Far beyond any real declaration; it bounds what a record can make
    // the reader allocate.
    static constexpr int32_t kMaxDimensions = 60;

    struct tDimension {
        int32_t lower;
        int32_t upper;
        int32_t stride;
    };

    // dims dimensions of bounds 0 To 0 (RangeError 32729 for a count
    // below 0 or above kMaxDimensions).
    ArrayField(int32_t dims, int32_t elementSize);

    int32_t dimensions() const { return static_cast<int32_t>(dim_.size()); }
    int32_t elementSize() const { return elementSize_; }
    // The bytes the array takes in a data block.
    int32_t arraySize() const { return size_; }
    // The number of elements.
    int64_t elementCount() const;

    // Sets dimension i from two bound expressions (lower 0 when lowerExpr
    // is null) and computes every stride: EvalBound of each, then
    // defineBounds. A failure changes nothing.
    void defineDimen(int32_t i, ExprNode* lowerExpr, ExprNode* upperExpr, Context& ctx);
    // A bound as a whole number: an integer constant as written, any other
    // expression evaluated in ctx and converted to a Long. ReDim sizes
    // arrays with what is known only when it runs; that is what dynamic
    // arrays are for.
    static int32_t EvalBound(const ExprNode* e, Context& ctx);
    // The value of a bound expression, which must be an integer constant
    // (else StoreException "Array dimension expressions must be integer
    // constants."); evaluating a constant needs no context.
    static int32_t ConstantBound(const ExprNode* e);
    // The same from the numbers themselves: a dimension the array lacks or
    // lower above upper raises RangeError 32729 with i, an array already
    // laid out StoreException, an array whose size would not fit 32 bits
    // StoreException 32742.
    void defineBounds(int32_t i, int32_t lower, int32_t upper);

    // Bounds and stride of dimension i; RangeError 32729 ("Illegal
    // dimension: %d") outside 0 to dimensions() - 1.
    int32_t getLBound(int32_t i) const;
    int32_t getUBound(int32_t i) const;
    int32_t stride(int32_t i) const { return dim_.at(static_cast<size_t>(i)).stride; }

    // The byte offset of the element that indices name. Entry 0 of the list
    // (the last pushed) indexes the last dimension, entry 1 the one before,
    // and so on. Fewer entries than dimensions raise TooFewArguments, more
    // TooManyArguments ("ArrayField::eval()"); an index outside its bounds
    // raises RangeError 32728 with the bounds and the index.
    int32_t elementOffset(const ValueList& indices) const;
    // The same from one index per dimension in the order written (indices[0]
    // for the first dimension); -1 when one lies outside its bounds. Inline:
    // the interpreter's unboxed readers find an element with it on every
    // access.
    int32_t offsetOf(const int32_t* indices) const {
        int64_t offset = 0;
        for (size_t k = 0; k < dim_.size(); ++k) {
            const tDimension& d = dim_[k];
            if (indices[k] < d.lower || indices[k] > d.upper) return -1;
            offset += (int64_t(indices[k]) - d.lower) * d.stride;
        }
        return static_cast<int32_t>(offset);
    }

    // "(", each dimension's bounds ("lower To upper", or just the upper bound
    // when the lower one is 0) separated by ", ", ") As " and the type name.
    void formatDecl(std::string& out, IdType type, const char* typeName = nullptr) const;

    // Calls f(oldOffset, newOffset, count) for every run of consecutive
    // elements whose indices exist both in this shape and in `other`: the
    // elements a resize that keeps the values carries over. Shapes of
    // different dimension counts share no indices.
    template <class F>
    void forCommonRuns(const ArrayField& other, F&& f) const;
    // How many elements forCommonRuns covers.
    int64_t commonElements(const ArrayField& other) const;

    // Once its field is in a signature, objects carry the array's bytes:
    // its dimensions are fixed (defineBounds refuses).
    bool isLaidOut() const { return laidOut_; }
    void laidOut() { laidOut_ = true; }

protected:
    // Items 1 and 2 of the record. Bytes that do not make a sound shape for
    // this element size raise ObjectLoadFailed naming `what`.
    void readDimensions(OCLStream& in, const char* what);
    void writeDimensions(OCLStream& out) const;

private:
    // The strides and size of `dims`, or false when they overflow.
    bool layOut(std::vector<tDimension>& dims, int32_t& size) const;
    void checkDimension(int32_t i) const;

    std::vector<tDimension> dim_;
    int32_t elementSize_;
    int32_t size_ = 0;
    bool laidOut_ = false;
};

static_assert(sizeof(ArrayField::tDimension) == 12, "a dimension record is 12 bytes");

class InterArrayField : public InterDataField, public ArrayField {
public:
    // Array reference slots name their array by handle id.
    static constexpr HandleTable::Kind kHandleKind = HK_ARRAY_FIELD;
    InterArrayField(const char* name, int32_t dims, int32_t elementSize);
    InterArrayField(const InterArrayField& o);
    ~InterArrayField() override;

    // A new interpreted array of element type `type` (codes 1 to 7; an
    // Object array of a named type when typeName is given) with dims
    // dimensions of bounds 0 To 0; null for other codes.
    static InterArrayField* make(const char* name, IdType type, int32_t dims, const char* typeName = nullptr);

    bool isArrayData() const override { return true; }
    int32_t size() const override { return arraySize(); }
    void declarationText(std::string& out, InterObjRep* obj) const override;
    // Arrays go to procedures through ArrayReferenceField only.
    bool typeConvert(ValuePtr& v) const override;
    void addField(SignatureRep& sig, int prepend, Value* init) override;

    // The whole array (with no or empty indices) or one element of obj.
    ValuePtr eval(InterObjRep& obj, SignatureRep& owner, const ValueList* indices);
    ValuePtr getValue(InterObjRep& obj, SignatureRep& owner) override;
    MemberPtr getMember(InterObjRep& obj, SignatureRep& owner) override;

    // A value over the element at byteOffset of obj's array: reading and
    // assigning it read and write the element in place.
    virtual ValuePtr arrayElement(InterObjRep& obj, SignatureRep& owner, int32_t byteOffset) = 0;
    // A new field of the same name and type with dims dimensions, to be
    // filled by defineDimen and swapped in by redimArrayField.
    virtual InterArrayField* redimCopy(int32_t dims) const = 0;

    // The element bytes of obj's array at byteOffset, for size bytes.
    // Raises StoreException 32745 when this field has been resized or
    // removed since the element was indexed.
    uint8_t* elementBytes(InterObjRep& obj, SignatureRep& owner, int32_t byteOffset, int32_t size);

    // ---- resizing --------------------------------------------------------------

    // Whether the elements hold object references, which a resize releases
    // only after every object has its new block.
    bool holdsObjects() const { return (type() & IDT_TYPEMASK) == IDT_OBJECT; }

    // Produces newField's array in one object at newBytes from this
    // field's array at oldBytes: with `preserve` the elements whose indices
    // exist in both shapes move over with what they hold, every other new
    // element starts empty (zero, empty string, no object), and what the
    // old elements that are not kept hold is released; object references
    // go to `dropped`, released by the caller later. Cannot fail.
    virtual void rebuildElements(const InterArrayField& newField, uint8_t* oldBytes, uint8_t* newBytes,
                                 InterObjRep& obj, bool preserve, std::vector<uint8_t>& dropped) const = 0;

    // The id under which a by-reference array slot names this field.
    HandleTable::Id selfId() const;

protected:
    InterArrayField(tFromRecord t, int32_t elementSize);
    InterArrayField(const InterArrayField& o, int32_t dims);
    // Items 3 to 5 of the common record and the dimensions.
    void readArrayRecord(OCLStream& in, tModuleIndex m);
    void writeArrayRecord(OCLStream& out, IdType code) const;

private:
    mutable HandleTable::Id selfId_ = 0;
};

// A by-reference array parameter. Its 12 bytes in a frame's locals object
// hold three counted ids: the caller's array field, its owner signature and
// the caller's object.
class ArrayReferenceField final : public InterDataField {
public:
    // elementType: the element type code, with or without IDT_ARRAY.
    ArrayReferenceField(const char* name, IdType elementType);
    ArrayReferenceField(const ArrayReferenceField& o);
    static ArrayReferenceField* Read(OCLStream& in, tModuleIndex m);

    Field* clone() const override { return new ArrayReferenceField(*this); }
    bool isByReference() const override { return true; }
    IdType type() const override { return elementType_ | IDT_ARRAY; }
    int32_t size() const override { return 12; }
    void write(OCLStream& out) const override;
    void declarationText(std::string& out, InterObjRep* obj) const override;

    // The caller's array; Is_Null "ArrayReferenceField::getValue()" when
    // nothing is bound.
    ValuePtr getValue(InterObjRep& obj, SignatureRep& owner) override;
    MemberPtr getMember(InterObjRep& obj, SignatureRep& owner) override;

    // The argument must be a whole array of the element type (TypeMismatch
    // "ArrayReferenceField::bind()").
    void bind(InterObjRep& obj, SignatureRep& owner, Value* v) override;
    void checkBinding(const Value* v) const override;
    bool typeConvert(ValuePtr& v) const override;

    void initialBytes(const Value* init, uint8_t* out, ValuePtr& keep) override;
    void fldConstructor(InterObjRep& obj, SignatureRep& owner) override;
    void fldDestructor(InterObjRep& obj, SignatureRep& owner) override;
    void releaseBytes(uint8_t* at) override;
    // A reference to a caller's array means nothing outside the call.
    void conditionForWrite(uint8_t* at, InterObjRep& obj) override;
    void conditionAfterRead(uint8_t* at, InterObjRep& obj) override;

private:
    explicit ArrayReferenceField(tFromRecord t) : InterDataField(t) {}
    const ArrayReferenceFieldValue* boundArray(const Value* v) const;

    IdType elementType_ = IDT_UNTYPED;
};

template <class F>
void ArrayField::forCommonRuns(const ArrayField& other, F&& f) const {
    const size_t n = dim_.size();
    if (n == 0 || n != other.dim_.size()) return;
    std::vector<int32_t> lo(n), hi(n);
    for (size_t k = 0; k < n; ++k) {
        lo[k] = std::max(dim_[k].lower, other.dim_[k].lower);
        hi[k] = std::min(dim_[k].upper, other.dim_[k].upper);
        if (lo[k] > hi[k]) return;
    }
    // An odometer over every dimension but the last; the last one's common
    // indices are one run in both layouts.
    const size_t last = n - 1;
    const int32_t count = hi[last] - lo[last] + 1;
    std::vector<int32_t> idx(lo.begin(), lo.end());
    for (;;) {
        int64_t from = 0, to = 0;
        for (size_t k = 0; k < n; ++k) {
            from += int64_t(idx[k] - dim_[k].lower) * dim_[k].stride;
            to += int64_t(idx[k] - other.dim_[k].lower) * other.dim_[k].stride;
        }
        f(static_cast<int32_t>(from), static_cast<int32_t>(to), count);
        bool wrapped = true;
        for (size_t k = last; k-- > 0;) {
            if (idx[k] < hi[k]) {
                ++idx[k];
                wrapped = false;
                break;
            }
            idx[k] = lo[k];
        }
        if (wrapped) return;
    }
}

}  // namespace tq
