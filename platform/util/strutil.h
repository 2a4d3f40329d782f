// Byte-string comparisons shared by the language and the path helpers.
//
// smart_strcmp is the comparison behind the language's relational operators
// on strings (<, <=, =, <>, >=, >). Its callers use only the sign of the
// result. It compares bytes as unsigned values, case-sensitively, the way a
// program that sorts names expects "B" < "a" and "a" < "\xE9"; a null
// pointer is the empty string, because a string value may be unset.
#pragma once

#include <string_view>

namespace tq {

// Negative, zero or positive as a sorts before, equal to or after b.
int smart_strcmp(const char* a, const char* b);
// The same over whole texts: a string value holds its length and may hold
// NUL characters, which count as characters (code 0 sorts first), so
// Chr(0) is not the empty text.
int smart_strcmp(std::string_view a, std::string_view b);

// Like smart_strcmp, but ASCII letters compare without regard to case
// ("Module.QBO" equals "module.qbo"). Bytes above 127 compare exactly, so a
// UTF-8 name is never folded into another one.
int CompareIgnoringCase(std::string_view a, std::string_view b);

}  // namespace tq
