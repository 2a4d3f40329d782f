#include "store/currency.h"

#include "store/errors/extexcep.h"

namespace tq {

namespace {

// The 32-bit division of the stored numbers. It is done in 64 bits so that
// the one quotient that does not fit (-2^31 / -1) wraps instead of trapping.
struct Division {
    int64_t quotient;
    int64_t remainder;
};

Division DivideHundredths(double a, double b) {
    const int64_t dividend = TruncateToLong(a);
    const int64_t divisor = TruncateToLong(b);
    if (divisor == 0) throw MathError(32715u);
    return {dividend / divisor, dividend % divisor};
}

int32_t Low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

}  // namespace

int32_t Currency::intDiv(Currency b) const {
    return Low32(DivideHundredths(hundredths_, b.hundredths_).quotient);
}

Currency operator%(Currency a, Currency b) {
    return Currency::FromHundredths(
        static_cast<double>(DivideHundredths(a.hundredths_, b.hundredths_).remainder));
}

}  // namespace tq
