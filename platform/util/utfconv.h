// Conversions between UTF-8 and UTF-16, for the names a compound file keeps
// in UTF-16 while the rest of the system speaks UTF-8.
//
// Both directions are strict and all-or-nothing: a sequence that is not a
// well-formed encoding of Unicode scalar values gives nullopt, never a
// partial result or a replacement character, so a damaged name in a file is
// refused rather than read as another name.
//  - UTF-8: no overlong forms, no encoded surrogates (U+D800..U+DFFF), nothing
//    above U+10FFFF, no stray or missing continuation bytes.
//  - UTF-16: a high surrogate must be followed by a low one and a low one
//    preceded by a high one.
// NUL is a character like any other here; callers that forbid it check it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tq {

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8);
std::optional<std::string> Utf16ToUtf8(std::u16string_view utf16);

}  // namespace tq
