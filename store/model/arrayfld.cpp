#include "store/arrayfld.h"

#include <climits>
#include <cstring>
#include <string>

#include "platform/storage/oclstream.h"
#include "store/arfldval.h"
#include "store/errors/extexcep.h"
#include "store/interp/exprnode.h"
#include "store/model/interobj.h"
#include "store/model/sigrep.h"

namespace tq {

namespace {

[[noreturn]] void BadArray(const char* what, const std::string& why) {
    const std::string text = std::string(what) + ": " + why;
    throw ObjectLoadFailed(text.c_str());
}

const char* const kNotConstant = "Array dimension expressions must be integer constants.";

}  // namespace

// ---- ArrayField --------------------------------------------------------------------

ArrayField::ArrayField(int32_t dims, int32_t elementSize) : elementSize_(elementSize) {
    if (dims < 0 || dims > kMaxDimensions) throw RangeError(32729, 0, kMaxDimensions, dims);
    dim_.assign(static_cast<size_t>(dims), tDimension{0, 0, 0});
    layOut(dim_, size_);
}

bool ArrayField::layOut(std::vector<tDimension>& dims, int32_t& size) const {
    int64_t stride = elementSize_;
    for (size_t k = dims.size(); k-- > 0;) {
        dims[k].stride = static_cast<int32_t>(stride);
        stride *= int64_t(dims[k].upper) - dims[k].lower + 1;
        if (stride > INT32_MAX) return false;
    }
    size = dims.empty() ? 0 : static_cast<int32_t>(stride);
    return true;
}

int64_t ArrayField::elementCount() const { return elementSize_ ? size_ / elementSize_ : 0; }

int32_t ArrayField::ConstantBound(const ExprNode* e) {
    if (!e || !e->isIntegerConstant()) throw StoreException(kNotConstant, nullptr);
    return static_cast<const LongConstant*>(e)->value();
}

int32_t ArrayField::EvalBound(const ExprNode* e, Context& ctx) {
    if (e->isIntegerConstant()) return ConstantBound(e);
    return e->eval(ctx, EVAL_VALUE_REQUIRED)->as<int32_t>();
}

void ArrayField::defineDimen(int32_t i, ExprNode* lowerExpr, ExprNode* upperExpr, Context& ctx) {
    TQ_ASSERT(upperExpr, "upperExpr");
    const int32_t lower = lowerExpr ? EvalBound(lowerExpr, ctx) : 0;
    defineBounds(i, lower, EvalBound(upperExpr, ctx));
}

void ArrayField::defineBounds(int32_t i, int32_t lower, int32_t upper) {
    // Bounds come from a program or a host: a dimension the array lacks,
    // bounds set on an array that objects already hold, and reversed bounds
    // are their fault, reported, not asserted.
    checkDimension(i);
    if (isLaidOut())
        throw StoreException("ArrayField::defineBounds: the array is in use; ReDim changes its bounds");
    if (lower > upper) throw RangeError(32729, lower, upper, i);
    std::vector<tDimension> dims = dim_;
    dims[static_cast<size_t>(i)].lower = lower;
    dims[static_cast<size_t>(i)].upper = upper;
    int32_t size = 0;
    if (!layOut(dims, size)) throw StoreException(32742u);
    dim_ = std::move(dims);
    size_ = size;
}

void ArrayField::checkDimension(int32_t i) const {
    if (i < 0 || i >= dimensions()) throw RangeError(32729, 0, dimensions() - 1, i);
}

int32_t ArrayField::getLBound(int32_t i) const {
    checkDimension(i);
    return dim_[static_cast<size_t>(i)].lower;
}

int32_t ArrayField::getUBound(int32_t i) const {
    checkDimension(i);
    return dim_[static_cast<size_t>(i)].upper;
}

int32_t ArrayField::elementOffset(const ValueList& indices) const {
    const int32_t n = dimensions();
    if (indices.length() < n) throw TooFewArguments("ArrayField::eval()", 32762);
    if (indices.length() > n) throw TooManyArguments("ArrayField::eval()", 32763);
    int64_t offset = 0;
    for (int32_t k = 0; k < n; ++k) {
        const tDimension& d = dim_[static_cast<size_t>(n - 1 - k)];
        int32_t index = 0;
        indices.at(k)->get(index);
        if (index < d.lower || index > d.upper) throw RangeError(32728, d.lower, d.upper, index);
        offset += (int64_t(index) - d.lower) * d.stride;
    }
    return static_cast<int32_t>(offset);
}

void ArrayField::formatDecl(std::string& out, IdType type, const char* typeName) const {
    out += "(";
    for (size_t k = 0; k < dim_.size(); ++k) {
        if (k) out += ", ";
        if (dim_[k].lower != 0) {
            out += std::to_string(dim_[k].lower);
            out += " To ";
        }
        out += std::to_string(dim_[k].upper);
    }
    out += ") As ";
    const IdType t = type & IDT_TYPEMASK;
    if (t == IDT_OBJECT)
        out += typeName && *typeName ? typeName : "Object";
    else
        out += IdTypeString(t).string();
}

int64_t ArrayField::commonElements(const ArrayField& other) const {
    int64_t n = 0;
    forCommonRuns(other, [&](int32_t, int32_t, int32_t count) { n += count; });
    return n;
}

void ArrayField::readDimensions(OCLStream& in, const char* what) {
    const uint32_t n = in.readU32();
    if (n > static_cast<uint32_t>(kMaxDimensions))
        BadArray(what, std::to_string(n) + " dimensions is more than an array has");
    std::vector<tDimension> dims(n);
    for (tDimension& d : dims) {
        d.lower = in.readI32();
        d.upper = in.readI32();
        d.stride = in.readI32();
        if (d.lower > d.upper) BadArray(what, "a dimension's lower bound exceeds its upper bound");
    }
    // The strides are stored, but the layout is what the bounds and the
    // element size make it: a record that disagrees would index outside the
    // array's bytes.
    std::vector<tDimension> laid = dims;
    int32_t size = 0;
    if (!layOut(laid, size)) BadArray(what, "its dimensions make an array larger than 2 GB");
    for (size_t k = 0; k < n; ++k)
        if (laid[k].stride != dims[k].stride) BadArray(what, "its strides disagree with its bounds");
    dim_ = std::move(dims);
    size_ = size;
}

void ArrayField::writeDimensions(OCLStream& out) const {
    out.writeU32(static_cast<uint32_t>(dim_.size()));
    for (const tDimension& d : dim_) {
        out.writeI32(d.lower);
        out.writeI32(d.upper);
        out.writeI32(d.stride);
    }
}

// ---- InterArrayField ------------------------------------------------------------------

InterArrayField::InterArrayField(const char* name, int32_t dims, int32_t elementSize)
    : InterDataField(name), ArrayField(dims, elementSize) {}

InterArrayField::InterArrayField(const InterArrayField& o) : InterDataField(o), ArrayField(o) {}

InterArrayField::InterArrayField(const InterArrayField& o, int32_t dims)
    : InterDataField(o), ArrayField(dims, o.elementSize()) {}

InterArrayField::InterArrayField(tFromRecord t, int32_t elementSize) : InterDataField(t), ArrayField(0, elementSize) {}

InterArrayField::~InterArrayField() {
    if (selfId_) HandleTable::Global().release(selfId_);
}

HandleTable::Id InterArrayField::selfId() const {
    if (!selfId_) selfId_ = HandleTable::Global().add(const_cast<InterArrayField*>(this));
    return selfId_;
}

void InterArrayField::declarationText(std::string& out, InterObjRep*) const {
    out += isProtected() ? "Protected " : "Dim ";
    out += name();
    formatDecl(out, type(), typeName());
}

bool InterArrayField::typeConvert(ValuePtr&) const { return false; }

void InterArrayField::addField(SignatureRep& sig, int prepend, Value* init) {
    InterDataField::addField(sig, prepend, init);
    laidOut();
}

ValuePtr InterArrayField::eval(InterObjRep& obj, SignatureRep& owner, const ValueList* indices) {
    if (!indices || indices->isEmpty()) return getValue(obj, owner);
    return arrayElement(obj, owner, elementOffset(*indices));
}

ValuePtr InterArrayField::getValue(InterObjRep& obj, SignatureRep& owner) {
    return ValuePtr(new ArrayReferenceFieldValue(*this, obj, owner));
}

MemberPtr InterArrayField::getMember(InterObjRep& obj, SignatureRep& owner) { return getValue(obj, owner); }

uint8_t* InterArrayField::elementBytes(InterObjRep& obj, SignatureRep& owner, int32_t byteOffset, int32_t size) {
    // An element indexed before a resize names bytes of a layout that is no
    // longer there.
    if (isBeingRemoved() || byteOffset < 0 || byteOffset > arraySize() - size) throw StoreException(32745u);
    return obj.RWIDataPtr(dataOffset(owner) + byteOffset, size);
}

void InterArrayField::readArrayRecord(OCLStream& in, tModuleIndex m) {
    readNameAndFlags(in, m);
    readOffset(in);
    const std::string what = std::string("field record: the dimensions of array ") + name();
    readDimensions(in, what.c_str());
    laidOut();
}

void InterArrayField::writeArrayRecord(OCLStream& out, IdType code) const {
    out.writeU8(FRK_ARRAY);
    out.writeU8(code);
    writeNameAndFlags(out);
    out.writeI32(offset_);
    writeDimensions(out);
}

// ---- ArrayReferenceField ------------------------------------------------------------------

namespace {

// The three ids of a by-reference array slot, each holding one count.
struct ArraySlot {
    explicit ArraySlot(const uint8_t* at)
        : array(HandleTable::Global().getAs<InterArrayField>(LoadLE32(at))),
          owner(HandleTable::Global().getAs<SignatureRep>(LoadLE32(at + 4))),
          object(HandleTable::Global().getAs<InterObjRep>(LoadLE32(at + 8))) {}
    InterArrayField* array;
    SignatureRep* owner;
    InterObjRep* object;
};

// Releases what a slot holds and leaves it naming nothing.
void ReleaseSlot(uint8_t* at) {
    const ArraySlot held(at);
    std::memset(at, 0, 12);
    if (held.array) held.array->deref();
    if (held.owner) held.owner->deref();
    if (held.object) held.object->deref();
}

}  // namespace

ArrayReferenceField::ArrayReferenceField(const char* name, IdType elementType)
    : InterDataField(name), elementType_(static_cast<IdType>(elementType & IDT_TYPEMASK)) {}

ArrayReferenceField::ArrayReferenceField(const ArrayReferenceField& o)
    : InterDataField(o), elementType_(o.elementType_) {}

ArrayReferenceField* ArrayReferenceField::Read(OCLStream& in, tModuleIndex m) {
    std::unique_ptr<ArrayReferenceField> f(new ArrayReferenceField(tFromRecord{}));
    f->readNameAndFlags(in, m);
    f->readOffset(in);
    const IdType code = in.readU8();
    const IdType element = code & IDT_TYPEMASK;
    if (element < IDT_SHORT || element > IDT_OBJECT)
        BadArray("field record", "array parameter type code " + std::to_string(code) + " is not an element type");
    f->elementType_ = element;
    return f.release();
}

void ArrayReferenceField::write(OCLStream& out) const {
    out.writeU8(FRK_ARRAY_REFERENCE);
    writeNameAndFlags(out);
    out.writeI32(offset_);
    out.writeU8(type());
}

void ArrayReferenceField::declarationText(std::string& out, InterObjRep*) const {
    out += "Dim ";
    out += name();
    out += "() As ";
    out += elementType_ == IDT_OBJECT ? "Object" : IdTypeString(elementType_).string();
}

ValuePtr ArrayReferenceField::getValue(InterObjRep& obj, SignatureRep& owner) {
    const ArraySlot bound(RODataPtr(obj, owner));
    if (!bound.array || !bound.owner || !bound.object)
        throw Is_Null("ArrayReferenceField::getValue()", 32744);
    return ValuePtr(new ArrayReferenceFieldValue(*bound.array, *bound.object, *bound.owner));
}

MemberPtr ArrayReferenceField::getMember(InterObjRep& obj, SignatureRep& owner) { return getValue(obj, owner); }

const ArrayReferenceFieldValue* ArrayReferenceField::boundArray(const Value* v) const {
    const auto* array = dynamic_cast<const ArrayReferenceFieldValue*>(v);
    if (!array || (array->arrayField()->type() & IDT_TYPEMASK) != elementType_)
        throw TypeMismatch("ArrayReferenceField::bind()", 32765);
    return array;
}

void ArrayReferenceField::checkBinding(const Value* v) const { boundArray(v); }

void ArrayReferenceField::bind(InterObjRep& obj, SignatureRep& owner, Value* v) {
    const ArrayReferenceFieldValue* array = boundArray(v);
    InterArrayField* field = array->arrayField();
    SignatureRep* arrayOwner = array->ownerSignature();
    InterObjRep* arrayObject = array->object();
    uint8_t* at = RWDataPtr(obj, owner);
    // The new counts are taken before the old ones go, so rebinding a slot
    // to what it already names keeps it alive.
    field->ref();
    arrayOwner->ref();
    arrayObject->ref();
    ReleaseSlot(at);
    StoreLE32(at, field->selfId());
    StoreLE32(at + 4, arrayOwner->selfId());
    StoreLE32(at + 8, arrayObject->selfId());
}

bool ArrayReferenceField::typeConvert(ValuePtr&) const { return false; }

void ArrayReferenceField::initialBytes(const Value*, uint8_t* out, ValuePtr&) { std::memset(out, 0, 12); }

// A new object's slot refers to nothing until an argument is bound to it:
// copied ids hold no counts of their own.
void ArrayReferenceField::fldConstructor(InterObjRep& obj, SignatureRep& owner) {
    std::memset(RWDataPtr(obj, owner), 0, 12);
}

void ArrayReferenceField::fldDestructor(InterObjRep& obj, SignatureRep& owner) { ReleaseSlot(RWDataPtr(obj, owner)); }

void ArrayReferenceField::releaseBytes(uint8_t* at) { ReleaseSlot(at); }

void ArrayReferenceField::conditionForWrite(uint8_t* at, InterObjRep&) { std::memset(at, 0, 12); }
void ArrayReferenceField::conditionAfterRead(uint8_t* at, InterObjRep&) { std::memset(at, 0, 12); }

}  // namespace tq
