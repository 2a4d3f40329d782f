// Number parsing as the "C" locale reads numbers.
//
// The text form of a number the store writes always uses '.' as its decimal
// point, so reading it back must not depend on the LC_NUMERIC locale a host
// may have set with setlocale: "0.5" is one half in every locale. These are
// strtod and a 32-bit strtoul with exactly the C library's rules otherwise
// (leading blanks, sign, "inf"/"nan", hexadecimal forms, where the parse
// stops).
#pragma once

#include <cstdint>

namespace tq {

// strtod in the "C" locale. *end receives where the parse stopped (text
// itself when nothing was read).
double CStrToD(const char* text, const char** end);

// strtoul for a 32-bit unsigned long: radix 0 reads a "0x" prefix as
// hexadecimal and a leading "0" as octal; radix 16 accepts an optional "0x".
// A leading '-' negates modulo 2^32; a value past 0xFFFFFFFF gives
// 0xFFFFFFFF. *end as for CStrToD.
uint32_t CStrToUL32(const char* text, int radix, const char** end);

}  // namespace tq
