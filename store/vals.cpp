#include "store/vals.h"

#include "platform/util/smallblk.h"
#include "store/errors/extexcep.h"
#include "store/model/objval.h"
#include "store/stkpush.h"
#include "store/valtmpl.h"

namespace tq {
namespace {

size_t liveValues = 0;

template <class V>
ValuePtr MakeDirect(const Value* init) {
    return ValuePtr(init ? new V(*init) : new V());
}

}  // namespace

// ---- Value -------------------------------------------------------------------

Value::Value() { ++liveValues; }

Value::Value(const Value& other) : Member(other) { ++liveValues; }

Value::~Value() {
    if (refId_) HandleTable::Global().release(refId_);
    --liveValues;
}

Member::tMemberKind Value::memberKind() const { return MEMBER_VALUE; }

Value* Value::asValue() { return this; }

ValuePtr Value::virtualMemberEval(const ValueList* args) {
    if (args && !args->isEmpty()) throw NonNullArguments("Value::eval()", 32760);
    return ValuePtr(this);
}

void* Value::getVoidPtr() { return nullptr; }

void Value::getStackPusher(GenericStackPusher&) const {
    throw Is_Null("Value::getStackPusher()", 32744);
}

void Value::getByRefStackPusher(GenericStackPusher& pusher) {
    void* storage = getVoidPtr();
    if (!storage) throw InvalidByRef(nullptr, 32754);
    // A Currency (a double of hundredths) and a String (a shared
    // representation) have no storage a C callee could use as it is: each
    // passes a copy that is stored back after the call. An object handle
    // written by native code would corrupt the store's counts.
    switch (type() & IDT_TYPEMASK) {
        case IDT_CURRENCY: pusher.pushCurrencyRef(*this); break;
        case IDT_STRING: pusher.pushStringRef(*this); break;
        case IDT_OBJECT: throw InvalidByRef(nullptr, 32754);
        default: pusher.pushAddress(storage); break;
    }
}

HandleTable::Id Value::refId() {
    if (!refId_) refId_ = HandleTable::Global().add(this);
    return refId_;
}

Value* Value::FromRefId(HandleTable::Id id) { return HandleTable::Global().getAs<Value>(id); }

size_t Value::LiveCount() { return liveValues; }

void* Value::operator new(std::size_t size) { return SmallBlockAllocator::Allocate(size); }

void Value::operator delete(void* p, std::size_t size) noexcept {
    SmallBlockAllocator::Free(p, size);
}

// ---- ValueList ---------------------------------------------------------------

void ValueList::insertSpilling(uint32_t at, ValuePtr v) {
    if (spilled_) {
        more_.insert(more_.begin() + at, std::move(v));
    } else {
        std::vector<ValuePtr> grown;
        grown.reserve(2 * kInline);
        for (uint32_t i = 0; i < size_; ++i) grown.push_back(inline_[i]);
        grown.insert(grown.begin() + at, std::move(v));
        // Nothing can fail from here: the entries move over.
        for (uint32_t i = 0; i < size_; ++i) inline_[i].reset();
        more_ = std::move(grown);
        spilled_ = true;
    }
    ++size_;
}

ValuePtr ValueList::pop() {
    TQ_ASSERT(size_ > 0, "length() > 0");
    ValuePtr top;
    if (spilled_) {
        top = std::move(more_.front());
        more_.erase(more_.begin());
    } else {
        top = std::move(inline_[0]);
        for (uint32_t i = 1; i < size_; ++i) inline_[i - 1] = std::move(inline_[i]);
    }
    --size_;
    return top;
}

void ValueList::clear() {
    for (uint32_t i = 0; i < kInline; ++i) inline_[i].reset();
    more_.clear();
    size_ = 0;
    spilled_ = false;
}

void ValueList::take(ValueList& other) noexcept {
    for (uint32_t i = 0; i < kInline; ++i) inline_[i] = std::move(other.inline_[i]);
    more_ = std::move(other.more_);
    size_ = other.size_;
    spilled_ = other.spilled_;
    other.more_.clear();
    other.size_ = 0;
    other.spilled_ = false;
}

// ---- the factory ---------------------------------------------------------------

ValuePtr DirectValueClassFactory(IdType code, const Value* init) {
    switch (code & IDT_TYPEMASK) {
    case IDT_SHORT: return MakeDirect<IntegerValue>(init);
    case IDT_LONG: return MakeDirect<LongValue>(init);
    case IDT_FLOAT: return MakeDirect<SingleValue>(init);
    case IDT_DOUBLE: return MakeDirect<DoubleValue>(init);
    case IDT_CURRENCY: return MakeDirect<CurrencyValue>(init);
    case IDT_STRING: return MakeDirect<StringValue>(init);
    case IDT_OBJECT: return MakeDirect<ObjectValue>(init);
    default: throw TypeMismatch("DirectValueClassFactory", 32765);
    }
}

// ---- strings written through storage owned elsewhere ---------------------------

void DatumConv<ValString>::store(ValString& slot, const ValString& d) {
    ValStringRep* rep = slot.get();
    ValStringRep* source = d.get();
    if (rep == source) return;
    const char* text = d;
    if (!rep) {
        slot = ValString(text ? text : "");
        return;
    }
    if (rep->refCount() == 1) {
        rep->assign(text ? text : "");
        return;
    }
    ValString fresh(text ? text : "");
    if (!rep->isDetached()) fresh->attach(rep->moduleIndex());
    slot = fresh;
}

// ---- the instances of codes 1 to 6 ---------------------------------------------

#define TQ_INSTANTIATE_VALUES(T, code)      \
    template class TypedValue<T, code>;     \
    template class DirectValue<T, code>;    \
    template class IndirectValue<T, code>;

TQ_INSTANTIATE_VALUES(int16_t, IDT_SHORT)
TQ_INSTANTIATE_VALUES(int32_t, IDT_LONG)
TQ_INSTANTIATE_VALUES(float, IDT_FLOAT)
TQ_INSTANTIATE_VALUES(double, IDT_DOUBLE)
TQ_INSTANTIATE_VALUES(Currency, IDT_CURRENCY)
TQ_INSTANTIATE_VALUES(ValString, IDT_STRING)

#undef TQ_INSTANTIATE_VALUES

}  // namespace tq
