#include "store/valops.h"

#include <cmath>
#include <string_view>

#include "platform/util/strutil.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/valconv.h"
#include "store/vals.h"

namespace tq {
namespace {

// The single-precision limit of the promotion rule: a Single result beyond
// it becomes a Double.
constexpr double kSingleLimit = 3.37e38;

// FPException for id: 32703 overflow, 32704 divide by zero, 32705 invalid.
[[noreturn]] void ThrowFP(unsigned id) { throw FPException(id, nullptr); }

// The result of a floating operation on a and b, or the fault it stands for.
double CheckFloatResult(double result, double a, double b) {
    if (std::isnan(result)) ThrowFP(32705);
    if (std::isinf(result) && std::isfinite(a) && std::isfinite(b)) ThrowFP(32703);
    return result;
}

template <class V>
ValuePtr Make(const auto& datum) {
    return ValuePtr(new V(datum));
}

ValuePtr MakeSingleOrDouble(double r) {
    if (r > kSingleLimit || r < -kSingleLimit) return Make<DoubleValue>(r);
    return Make<SingleValue>(static_cast<float>(r));
}

ValuePtr MakeLongOrWider(double r) {
    if (r > 2147483647.0 || r < -2147483648.0) return MakeSingleOrDouble(r);
    return Make<LongValue>(static_cast<int32_t>(std::trunc(r)));
}

}  // namespace

ValuePtr MakeArithResult(IdType code, double r) {
    switch (code) {
    case IDT_SHORT:
        if (r > 32767.0 || r < -32768.0) return MakeLongOrWider(r);
        return Make<IntegerValue>(static_cast<int16_t>(std::trunc(r)));
    case IDT_LONG:
        return MakeLongOrWider(r);
    case IDT_FLOAT:
        return MakeSingleOrDouble(r);
    case IDT_DOUBLE:
        return Make<DoubleValue>(r);
    case IDT_CURRENCY:
        return Make<CurrencyValue>(Currency(r));
    case IDT_STRING:
        return Make<StringValue>(ValString(r));
    default:
        // Object operands fail when they are read as numbers, before any
        // result is made; other codes have no value class.
        utilsAssert("type >= IDT_SHORT && type <= IDT_STRING", __FILE__, __LINE__);
    }
}

ValuePtr ValueArith(tArithOp op, const Value& l, const Value& r) {
    const IdType code = std::max(l.type(), r.type());
    double a = 0.0, b = 0.0;
    l.get(a);
    r.get(b);
    double result = 0.0;
    switch (op) {
    case ARITH_ADD:
        result = a + b;
        break;
    case ARITH_SUB:
        result = a - b;
        break;
    case ARITH_MUL:
        result = a * b;
        break;
    case ARITH_DIV:
        if (b == 0.0) ThrowFP(32704);
        result = a / b;
        break;
    }
    return MakeArithResult(code, CheckFloatResult(result, a, b));
}

ValuePtr ValueIntDiv(const Value& l, const Value& r) {
    int32_t a = 0, b = 0;
    l.get(a);
    r.get(b);
    if (b == 0) throw MathError(32715u);
    // The one quotient of two Longs that no Long holds; the hardware would
    // trap on it.
    if (a == INT32_MIN && b == -1) throw FPException(32707, nullptr);
    return Make<LongValue>(a / b);
}

ValuePtr ValueMod(const Value& l, const Value& r) {
    int32_t a = 0, b = 0;
    l.get(a);
    r.get(b);
    if (b == 0) throw MathError(32715u);
    // Every number divides by -1 without remainder; computing it would trap
    // for -2147483648.
    if (b == -1) return Make<LongValue>(0);
    return Make<LongValue>(a % b);
}

ValuePtr ValuePower(const Value& l, const Value& r) {
    double a = 0.0, b = 0.0;
    l.get(a);
    r.get(b);
    // Zero to a negative power is a division by zero, not an overflow.
    if (a == 0.0 && b < 0.0) ThrowFP(32704);
    return Make<DoubleValue>(CheckFloatResult(std::pow(a, b), a, b));
}

int32_t ValueCompare(tRelOp op, const Value& l, const Value& r) {
    int sign;
    if (l.type() == IDT_STRING && r.type() == IDT_STRING) {
        ValString a, b;
        l.get(a);
        r.get(b);
        sign = smart_strcmp(a.view(), b.view());
        sign = sign < 0 ? -1 : (sign > 0 ? 1 : 0);
        bool holds = false;
        switch (op) {
        case REL_GT: holds = sign > 0; break;
        case REL_LT: holds = sign < 0; break;
        case REL_EQ: holds = sign == 0; break;
        case REL_NE: holds = sign != 0; break;
        case REL_GE: holds = sign >= 0; break;
        case REL_LE: holds = sign <= 0; break;
        }
        return holds ? -1 : 0;
    }
    double a = 0.0, b = 0.0;
    l.get(a);
    r.get(b);
    bool holds = false;
    switch (op) {
    case REL_GT: holds = a > b; break;
    case REL_LT: holds = a < b; break;
    case REL_EQ: holds = a == b; break;
    case REL_NE: holds = a != b; break;
    case REL_GE: holds = a >= b; break;
    case REL_LE: holds = a <= b; break;
    }
    return holds ? -1 : 0;
}

int32_t ValueLogic(tLogicOp op, const Value& l, const Value& r) {
    int32_t a = 0, b = 0;
    l.get(a);
    r.get(b);
    switch (op) {
    case LOGIC_AND: return a & b;
    case LOGIC_OR: return a | b;
    case LOGIC_XOR: return a ^ b;
    case LOGIC_EQV: return ~(a ^ b);
    case LOGIC_IMP: return ~a | b;
    }
    return 0;
}

int32_t ValueNot(const Value& v) {
    int32_t a = 0;
    v.get(a);
    return ~a;
}

StoreException OutOfMemory() { return StoreException("Out of memory", "OutOfMemory"); }

void CheckStringLength(size_t n) {
    if (n > kMaxStringLength)
        throw StoreException("String too long: a String holds at most 2147483647 characters", "OutOfMemory");
}

ValuePtr ValueConcat(const Value& l, const Value& r) {
    ValString a, b;
    l.get(a);
    r.get(b);
    const std::string_view left = a.get() ? std::string_view(a->text()) : std::string_view();
    const std::string_view right = b.get() ? std::string_view(b->text()) : std::string_view();
    CheckStringLength(left.size() + right.size());
    ValString text(ConstructWithSize, left.size() + right.size());
    text->append(left);
    text->append(right);
    return Make<StringValue>(text);
}

}  // namespace tq
