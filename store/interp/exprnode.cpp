#include "store/interp/exprnode.h"

#include <bit>
#include <cstring>

#include "platform/util/uassert.h"

namespace tq {

namespace {

template <class T>
constexpr uint16_t KindOf() {
    return std::is_same_v<T, int32_t> ? EXPR_LONG_CONSTANT : EXPR_DOUBLE_CONSTANT;
}

template <class T>
using Bits = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;

}  // namespace

ExprNode::ExprNode(uint16_t kind, uint32_t size, uint8_t flags) : flags_(flags) {
    StoreLE16(kind_, kind);
    StoreLE32(size_, size);
}

ValuePtr ExprNode::eval(Context&, Context&, int32_t) {
    switch (type()) {
        case EXPR_LONG_CONSTANT: return static_cast<const LongConstant*>(this)->eval();
        case EXPR_DOUBLE_CONSTANT: return static_cast<const DoubleConstant*>(this)->eval();
        default: TQ_ASSERT(false, "NULL"); return ValuePtr();
    }
}

int ExprNode::negate() {
    switch (type()) {
        case EXPR_LONG_CONSTANT: {
            auto* c = static_cast<LongConstant*>(this);
            // The most negative Long has no opposite; it wraps as the
            // language's integer negation does.
            c->setValue(static_cast<int32_t>(0u - static_cast<uint32_t>(c->value())));
            return 1;
        }
        case EXPR_DOUBLE_CONSTANT: {
            auto* c = static_cast<DoubleConstant*>(this);
            c->setValue(-c->value());
            return 1;
        }
        default: return 0;
    }
}

// ---- constants ----------------------------------------------------------------------

template <class T>
Constant<T>::Constant(T value, int radix)
    : ExprNode(KindOf<T>(), sizeof(Constant),
               static_cast<uint8_t>(radix == 1 ? kHexLiteral : radix == 2 ? kOctalLiteral : 0)) {
    setValue(value);
}

template <class T>
T Constant<T>::value() const {
    Bits<T> bits = 0;
    for (size_t i = 0; i < sizeof(T); ++i) bits |= static_cast<Bits<T>>(value_[i]) << (8 * i);
    return std::bit_cast<T>(bits);
}

template <class T>
void Constant<T>::setValue(T v) {
    const auto bits = std::bit_cast<Bits<T>>(v);
    for (size_t i = 0; i < sizeof(T); ++i) value_[i] = static_cast<uint8_t>(bits >> (8 * i));
}

template <class T>
ValuePtr Constant<T>::eval() const {
    if constexpr (std::is_same_v<T, int32_t>)
        return ValuePtr(new LongValue(value()));
    else
        return ValuePtr(new DoubleValue(value()));
}

template class Constant<int32_t>;
template class Constant<double>;

}  // namespace tq
