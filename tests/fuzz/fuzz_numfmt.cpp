// Number patterns from programs (Text.Format): any pattern either is
// refused with FormatError or lays the number out in text bounded by the
// pattern and the number's digits, never crashing or running away.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sys/numfmt.h"
#include "sys/sysexcep.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(double)) return 0;
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    const std::string pattern(reinterpret_cast<const char*>(data + sizeof value), size - sizeof value);
    try {
        const std::string text = tq::sys::FormatNumber(value, pattern);
        // Digits of a double (at most 309 before the point, and the
        // pattern's own places after it) and group separators, plus the
        // pattern's literal text.
        if (text.size() > 2 * pattern.size() + 800) std::abort();
    } catch (const tq::sys::SysError& e) {
        if (std::strcmp(e.name(), "FormatError") != 0) std::abort();
    }
    return 0;
}
