#include "store/vals.h"

#include "platform/util/smallblk.h"
#include "store/errors/extexcep.h"
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
    pusher.pushAddress(storage);
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

ValuePtr ValueList::pop() {
    TQ_ASSERT(!entries_.empty(), "length() > 0");
    ValuePtr top = std::move(entries_.front());
    entries_.erase(entries_.begin());
    return top;
}

Value* ValueList::at(int32_t i) const {
    TQ_ASSERT(i >= 0 && i < length(), "i >= 0 && i < length()");
    return entries_[static_cast<size_t>(i)].get();
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
