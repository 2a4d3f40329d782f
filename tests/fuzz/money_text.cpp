// Money text from programs and files: any text either fails to parse or gives
// an amount whose money text parses back to the same amount, in a plain
// locale and in locales with grouping, symbols and every sign position.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/util/money.h"

namespace {

tq::MoneyFormat Described(uint8_t selector) {
    tq::MoneyFormat f = tq::MoneyFormat::Plain();
    if (selector % 4 == 0) return f;
    f.currencySymbol = selector & 8 ? "\xE2\x82\xAC" : "$";
    f.intCurrSymbol = "XTS ";
    f.decimalPoint = selector & 16 ? "," : ".";
    f.thousandsSep = selector & 16 ? "." : ",";
    f.grouping = selector & 32 ? "\3\2" : "\3";
    f.positiveSign = selector & 64 ? "+" : "";
    f.negativeSign = "-";
    f.fracDigits = f.intFracDigits = static_cast<char>(selector % 4);
    f.pCsPrecedes = f.nCsPrecedes = static_cast<char>((selector >> 7) & 1);
    f.pSepBySpace = f.nSepBySpace = static_cast<char>(selector % 3);
    f.pSignPosn = f.nSignPosn = static_cast<char>(selector % 5);
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const tq::RWLocale loc(Described(data[0]));
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    double amount = 0;
    if (!loc.stringToMoney(&amount, text.c_str())) return 0;
    if (amount != amount) std::abort();  // a parse never yields NaN
    const std::string again = loc.moneyAsString(amount);
    double back = 0;
    if (!loc.stringToMoney(&back, again.c_str())) std::abort();
    // Formatting rounds to whole hundredths; the rounded amount is stable.
    if (loc.moneyAsString(back) != again) std::abort();
    return 0;
}
