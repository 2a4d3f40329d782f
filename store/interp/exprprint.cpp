// Printing expressions back as source text.
//
// What a node prints, the compiler reads back into the same node: so
// literals keep the form they were written in (a Long its radix, a Double
// always a point or an exponent), texts escape what would end or break
// their line, and parentheses come back where the source had them.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "platform/util/uassert.h"
#include "store/idtype.h"
#include "store/interp/binop.h"
#include "store/interp/exprnode.h"
#include "store/interp/ident.h"
#include "store/interp/intfuncs.h"
#include "store/interp/mathfunc.h"
#include "store/interp/srcctl.h"
#include "store/interp/strfunc.h"

namespace tq {

namespace {

// The suffix a name was written with (x%, s$), or none.
void WriteSuffix(std::ostream& os, uint8_t typeByte) {
    static constexpr char kSuffixes[] = "%&!#@$";
    const unsigned t = typeByte & IDT_TYPEMASK;
    if (t >= IDT_SHORT && t <= IDT_STRING) os << kSuffixes[t - 1];
}

bool HasPointOrExponent(const char* s) {
    for (; *s; ++s)
        if (*s == '.' || *s == 'e' || *s == 'E' || *s == 'n' || *s == 'i') return true;
    return false;
}

}  // namespace

std::string DoubleLiteralText(double v) {
    if (std::isfinite(v) && v == std::trunc(v) && v > -2147483647.0 && v < 2147483647.0) {
        // -0.0 keeps its sign: it reads back as the negated literal 0.0.
        if (v == 0 && std::signbit(v)) return "-0.0";
        return std::to_string(static_cast<long long>(v)) + ".0";
    }
    // to_chars writes the "C" form whatever locale the host has set.
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf - 3, v, std::chars_format::general, 10);
    *r.ptr = '\0';
    double back = 0;
    std::from_chars(buf, r.ptr, back);
    if (back != v && std::isfinite(v)) {
        // Ten digits do not name this double: the shortest digits that do.
        r = std::to_chars(buf, buf + sizeof buf - 3, v);
        *r.ptr = '\0';
    }
    std::string text(buf);
    if (!HasPointOrExponent(buf)) text += ".0";
    return text;
}

std::string StringLiteralText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"') {
            out += "\"\"";
        } else if (c == '^') {
            out += "^^";
        } else if ((c >= 1 && c <= 31) || c == 127) {
            out += '^';
            out += static_cast<char>(c ^ 64);
        } else {
            out += ch;
        }
    }
    out += '"';
    return out;
}

void ExprNode::print(SourceControl& sc) const {
    const bool paren = isParenthesized();
    if (paren) sc.stream() << '(';
    switch (type()) {
        case EXPR_SID: static_cast<const Sid*>(this)->print(sc); break;
        case EXPR_CID: static_cast<const Cid*>(this)->print(sc); break;
        case EXPR_MID: static_cast<const Mid*>(this)->print(sc); break;
        case EXPR_LONG_CONSTANT: static_cast<const LongConstant*>(this)->print(sc); break;
        case EXPR_DOUBLE_CONSTANT: static_cast<const DoubleConstant*>(this)->print(sc); break;
        case EXPR_STRING_CONSTANT: static_cast<const StringConstant*>(this)->print(sc); break;
        case EXPR_BINARY_OP: static_cast<const BinaryOp*>(this)->print(sc); break;
        case EXPR_UNARY_OP: static_cast<const UnaryOp*>(this)->print(sc); break;
        case EXPR_INTR_MATH: static_cast<const IntrMath*>(this)->print(sc); break;
        case EXPR_INTR_STRING: static_cast<const IntrString*>(this)->print(sc); break;
        case EXPR_INTR_BOUND: static_cast<const IntrBound*>(this)->print(sc); break;
        case EXPR_NULL_OBJ_CONSTANT: static_cast<const NullObjConstant*>(this)->print(sc); break;
        case EXPR_INTR_COLOR: static_cast<const IntrColor*>(this)->print(sc); break;
        case EXPR_INTR_IIF: static_cast<const IntrIIf*>(this)->print(sc); break;
        // Blocks are checked when they are made or read: no other kind gets
        // here.
        default: utilsAssert("NULL", __FILE__, __LINE__);
    }
    if (paren) sc.stream() << ')';
}

// ---- constants -----------------------------------------------------------------------------

template <class T>
void Constant<T>::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    if constexpr (std::is_same_v<T, int32_t>) {
        const auto bits = static_cast<unsigned>(static_cast<uint32_t>(value()));
        char buf[16];
        if (flags() & kHexLiteral) {
            std::snprintf(buf, sizeof buf, "&H%X", bits);
        } else if (flags() & kOctalLiteral) {
            std::snprintf(buf, sizeof buf, "&O%o", bits);
        } else {
            std::snprintf(buf, sizeof buf, "%d", static_cast<int>(value()));
        }
        os << buf;
    } else {
        os << DoubleLiteralText(value());
    }
}

template void Constant<int32_t>::print(SourceControl&) const;
template void Constant<double>::print(SourceControl&) const;

void StringConstant::print(SourceControl& sc) const { sc.stream() << StringLiteralText(text()); }

void NullObjConstant::print(SourceControl& sc) const { sc.stream() << "Nothing"; }

// ---- identifiers ------------------------------------------------------------------------------

void Sid::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    if (isDotted()) os << '.';
    if (isMe())
        os << "Me";
    else if (idIndex() == kIdTrue)
        os << "True";
    else if (idIndex() == kIdFalse)
        os << "False";
    else
        sc.writeIdentifier(idIndex());
    WriteSuffix(os, type_);
    if (flags() & kArgsParenthesized) os << "()";
}

void Cid::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    if (isDotted()) os << '.';
    if (isMe()) {
        os << "Me";
    } else {
        sc.writeIdentifier(idIndex());
        WriteSuffix(os, type_);
    }
    const bool paren = (flags() & kArgsParenthesized) != 0;
    os << (paren ? '(' : ' ');
    const ExprNode* a = firstArg();
    for (uint16_t i = 0; i < argCount(); ++i) {
        if (i > 0) os << ", ";
        a->print(sc);
        a = a->nodeAt(a->size());
    }
    if (paren) os << ')';
}

void Mid::print(SourceControl& sc) const {
    const ExprNode* p = firstPiece();
    for (uint16_t i = 0; i < pieceCount(); ++i) {
        if (i > 0) sc.stream() << '.';
        p->print(sc);
        p = p->nodeAt(p->size());
    }
}

// ---- operators ----------------------------------------------------------------------------------

void BinaryOp::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    if (op() == BINOP_TYPEOF) {
        os << "TypeOf ";
        left()->print(sc);
        os << " Is ";
        right()->print(sc);
        return;
    }
    const char* spelling = BinOpSpelling(op());
    left()->print(sc);
    os << ' ' << (spelling ? spelling : "?") << ' ';
    right()->print(sc);
}

void UnaryOp::print(SourceControl& sc) const {
    sc.stream() << (op() == UNOP_NOT ? "Not " : "-");
    operand()->print(sc);
}

}  // namespace tq
