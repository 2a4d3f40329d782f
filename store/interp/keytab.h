// The keyword table of the language: which words are keywords, their token
// numbers, and the test for a valid identifier that every name of a field,
// object or variable passes before it is interned.
//
// Words are compared without case over their first 16 characters (the
// longest keyword is 10), so "Dim", "DIM" and "dim" are one keyword. Every
// word that is not a keyword is the identifier token.
#pragma once

#include <cstdint>
#include <string_view>

namespace tq {

inline constexpr int16_t kIdentifierToken = 265;

// The token number of a word, or kIdentifierToken; a word with a NUL in
// it is no keyword.
int16_t KeyTabStringToId(const char* word);
int16_t KeyTabStringToId(std::string_view word);

// The lower-case keyword text of a token number; null for a number that is
// no keyword.
const char* KeyTabIdToString(int token);

// True when the text is not empty, starts with a letter, continues with
// letters, digits or "_", and is not a keyword; "left" is accepted although
// it is one, because programs name fields and objects "Left".
bool IsIdentifierValid(const char* text);

}  // namespace tq
