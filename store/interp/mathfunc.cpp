#include "store/interp/mathfunc.h"

#include <cmath>
#include <ostream>
#include <string>

#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/interp/nodechk.h"
#include "store/interp/srcctl.h"
#include "store/vals.h"

namespace tq {

namespace {

constexpr const char* kNames[MATH_LIMIT] = {nullptr, "abs", "atn", "cos", "exp", "fix", "int",
                                            "log",   "rnd", "sgn", "sin", "sqr", "tan"};

// rnd's state. The generator is the classic linear congruence of the C
// libraries whose rand() gives 0 to 32767, so a seed gives the same series
// on every platform (glibc's rand() has another range and series).
uint32_t randomState = 1;
int32_t lastRandom = 0;

constexpr double kRandomScale = 1.0 / 32767.0;

// The result of f(x), or the floating-point fault it stands for.
double Checked(MathType t, double x, double r) {
    if (std::isnan(r)) throw FPException(32705, nullptr);
    if (std::isinf(r) && std::isfinite(x)) throw FPException(t == MATH_LOG ? 32704 : 32703, nullptr);
    return r;
}

double Rnd(double x) {
    if (x > 0) {
        lastRandom = RandomNext();
    } else if (x < 0) {
        // Truncated, as the integer conversion of the language does; the
        // least Long stands for anything below it.
        lastRandom = x <= -2147483648.0 ? INT32_MIN : static_cast<int32_t>(std::trunc(x));
    }
    return lastRandom * kRandomScale;
}

}  // namespace

int32_t RandomNext() {
    randomState = randomState * 214013u + 2531011u;
    return static_cast<int32_t>((randomState >> 16) & 0x7FFF);
}

void RandomSeed(uint32_t seed) { randomState = seed; }
int32_t LastRandom() { return lastRandom; }
void SetLastRandom(int32_t r) { lastRandom = r; }

const char* IntrMath::Name(uint32_t type) { return type > 0 && type < MATH_LIMIT ? kNames[type] : nullptr; }

IntrMath::IntrMath(MathType type) : ExprNode(EXPR_INTR_MATH, kArgOffset) { StoreLE32(type_, type); }

ExprPtr IntrMath::make(MathType type, ExprPtr arg) {
    TQ_ASSERT(Name(type) != nullptr, "MathType");
    const uint32_t size = kArgOffset + (arg ? arg->size() : 0);
    auto* node = ::new (Allocate(size)) IntrMath(type);
    node->setSize(size);
    if (arg)
        node->embed(kArgOffset, std::move(arg));
    else
        node->addFlags(kNoArgument);
    return ExprPtr(node);
}

ValuePtr IntrMath::eval(Context& lookup, Context& args) const {
    double x = 1.0;
    if (const ExprNode* a = argument()) x = a->eval(lookup, args, EVAL_VALUE_REQUIRED)->as<double>();
    const MathType t = mathType();
    double r = 0;
    switch (t) {
        case MATH_ABS: r = x < 0 ? -x : x; break;
        case MATH_ATN: r = std::atan(x); break;
        case MATH_COS: r = std::cos(x); break;
        case MATH_EXP: r = std::exp(x); break;
        case MATH_FIX: r = x >= 0 ? std::floor(x) : std::ceil(x); break;
        case MATH_INT: r = std::floor(x); break;
        case MATH_LOG: r = std::log(x); break;
        case MATH_RND: r = Rnd(x); break;
        case MATH_SGN: r = x < 0 ? -1.0 : (x > 0 ? 1.0 : 0.0); break;
        case MATH_SIN: r = std::sin(x); break;
        case MATH_SQR: r = std::sqrt(x); break;
        case MATH_TAN: r = std::tan(x); break;
        default: utilsAssert("MathType", __FILE__, __LINE__);
    }
    return ValuePtr(new DoubleValue(Checked(t, x, r)));
}

void IntrMath::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    const char* name = Name(mathType());
    os << (name ? name : "?") << '(';
    if (const ExprNode* a = argument()) a->print(sc);
    os << ')';
}

void CheckIntrMath(NodeCheck& c, uint32_t at, uint32_t end, int depth) {
    const uint32_t type = c.u32(at + 7);
    if (!IntrMath::Name(type)) c.fail(at, "unknown math function " + std::to_string(type));
    uint32_t reached = at + IntrMath::kArgOffset;
    if (!(c.u8(at + 6) & IntrMath::kNoArgument)) reached = c.expression(reached, end, depth + 1);
    if (reached != end) c.fail(reached, "the size of IntrMath does not match what it holds");
}

ValuePtr EvalIntrMath(const ExprNode& node, Context& lookup, Context& args, int32_t) {
    return static_cast<const IntrMath&>(node).eval(lookup, args);
}

}  // namespace tq
