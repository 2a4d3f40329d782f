// The expression dispatcher, constants, and the builders' common steps.
#include "store/interp/exprnode.h"

#include <bit>
#include <cstring>

#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/interp/binop.h"
#include "store/interp/ident.h"
#include "store/interp/nodekinds.h"
#include "store/model/objval.h"

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

uint32_t ExprNode::embed(uint32_t at, ExprPtr node) {
    const uint32_t n = node->size();
    std::memcpy(bytes() + at, node->bytes(), n);
    return at + n;
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

void ExprNode::markAsDotted() {
    switch (type()) {
        case EXPR_SID:
        case EXPR_CID: addFlags(kDotted); return;
        case EXPR_MID:
            if (static_cast<Mid*>(this)->pieceCount() > 0) nodeAt(Mid::kPiecesOffset)->addFlags(kDotted);
            return;
        default: utilsAssert("Illegal ExprNode type for markAsDotted", __FILE__, __LINE__);
    }
}

ExprPtr ExprNode::convertToComplex(ExprPtr self, std::unique_ptr<Cid> c) {
    if (self && c) {
        if (self->type() == EXPR_SID) {
            c->defineBaseId(std::unique_ptr<Sid>(static_cast<Sid*>(self.release())));
            return ExprPtr(c.release());
        }
        if (self->type() == EXPR_MID) {
            const ExprNode* last = static_cast<Mid*>(self.get())->lastPiece();
            if (last && last->type() == EXPR_SID)
                return Mid::endWith(std::unique_ptr<Mid>(static_cast<Mid*>(self.release())), std::move(c));
        }
    }
    throw IllegalConversion("Cid::convertToComplex()", 32757);
}

// ---- numeric constants ------------------------------------------------------------------

template <class T>
Constant<T>::Constant(T value, int radix)
    : ExprNode(KindOf<T>(), sizeof(Constant),
               static_cast<uint8_t>(radix == 1 ? kHexLiteral : radix == 2 ? kOctalLiteral : 0)) {
    setValue(value);
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

// ---- text and Nothing --------------------------------------------------------------------

StringConstant::StringConstant(uint32_t length) : ExprNode(EXPR_STRING_CONSTANT, kTextOffset + length) {
    StoreLE32(length_, length);
}

ExprPtr StringConstant::make(const char* text) {
    const size_t n = std::strlen(text ? text : "");
    TQ_ASSERT(n < 0x7FFFFFF0, "text length");
    const uint32_t length = static_cast<uint32_t>(n) + 1;
    auto* node = ::new (Allocate(kTextOffset + length)) StringConstant(length);
    std::memcpy(node->bytes() + kTextOffset, text ? text : "", length);
    return ExprPtr(node);
}

ValuePtr StringConstant::eval() const { return ValuePtr(new StringValue(ValString(text()))); }

ValuePtr NullObjConstant::eval() const { return ValuePtr(new ObjectValue()); }

// ---- bounds pairs ----------------------------------------------------------------------------

ExprNodePair::ExprNodePair() : ExprNode(1, kFixedSize) {
    StoreLE32(first_, 0);
    StoreLE32(second_, 0);
}

std::unique_ptr<ExprNodePair> ExprNodePair::make(ExprPtr first, ExprPtr second) {
    const uint32_t a = first ? first->size() : 0;
    const uint32_t b = second ? second->size() : 0;
    auto* pair = ::new (Allocate(kFixedSize + a + b)) ExprNodePair();
    pair->setSize(kFixedSize + a + b);
    uint32_t at = kFixedSize;
    if (first) {
        StoreLE32(pair->first_, at);
        at = pair->embed(at, std::move(first));
    }
    if (second) {
        StoreLE32(pair->second_, at);
        pair->embed(at, std::move(second));
    }
    return std::unique_ptr<ExprNodePair>(pair);
}

}  // namespace tq
