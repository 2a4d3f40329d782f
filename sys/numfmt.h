// Number patterns: the familiar Format$ forms.
//
//   0      a digit, or 0 where the number has none ("00000" pads to five)
//   #      a digit, or nothing where the number has none
//   .      the decimal point (one per section); left out when no digit
//          follows it ("#.##" of 5 is "5")
//   ,      between integer placeholders: thousands separators ("#,##0");
//          right after the last one (before the point or at the end): the
//          number is divided by 1000 for each
//   %      the number is multiplied by 100 and the sign shown
//   E+ E-  scientific form ("0.00E+00"): E+ always shows the exponent's
//          sign, E- only a minus; the zeros after it give its least digits
//   "..."  text shown as it is; \c shows the character c
//   ;      sections: positive;negative[;zero]. A negative number shown by
//          its own section has no minus sign; an empty section takes the
//          first one's form
//   other  characters are shown as they are ("$#,##0.00")
//
// Digits round half away from zero in the decimal digits the number prints
// with. An empty pattern gives the number's plain string form.
//
// A pattern is refused (FormatError, naming the pattern and the fault):
// an unclosed quote, a '\' at the end, two decimal points or two exponents
// in a section, an exponent without digits after it, more than three
// sections, a first section without any digit placeholder.
#pragma once

#include <string>

namespace tq::sys {

std::string FormatNumber(double value, const std::string& pattern);

}  // namespace tq::sys
