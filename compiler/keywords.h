// The words of the language that are not names.
//
// The compiler's own copy of the language's keyword table: the same words as
// the store's KeyTabStringToId (a test holds the two together), with the
// spelling messages use and a lookup that costs no allocation and no sort.
// Words compare without case. "Left" is a keyword that is also a valid name
// (fields and objects are called Left): the parser decides by context.
//
// Two words have a meaning without being keywords, so programs may still use
// them as names: "Enum" opens an enumeration at the top of a text module, and
// "ByRef" may stand before a parameter.
#pragma once

#include <cstdint>
#include <string_view>

namespace tq::compiler {

enum class Kw : uint8_t {
    None,
    // types
    Integer, Long, Single, Double, Currency, String, Variant, Object,
    // constants and objects
    True, False, Nothing, Null, Me, New,
    // declarations
    Rem, Dim, Protected, ReDim, Strictly, As, From, End, Type, Begin, Code,
    Function, Sub, Property, Declare, Event, Lib, Alias, Const, Preserve,
    Global, Static, Private, ByVal,
    // operators
    Mod, Not, And, Or, Xor, Imp, Eqv, TypeOf, Like, Is,
    // statements
    If, Then, Else, ElseIf, Select, Case, To, With, Do, While, Until, Loop,
    Exit, For, Each, In, EmbeddedIn, CopiedFrom, Step, Next, Wend, Let, Set,
    Get, Call, Try, Catch, Throw, Randomize, Print, Spc, Tab, SendEvent, Stop,
    // intrinsic functions
    UBound, LBound, IIf, Abs, Atn, Cos, Exp, Fix, Int, Log, Rnd, Sgn, Sin, Sqr,
    Tan, RGB, QBColor, Asc, Chr, Hex, Instr, LCase, Left, Len, LTrim, Mid, Oct,
    Right, RTrim, Space, Str, StrComp, Trim, UCase, Val,
    Count_
};

inline constexpr int kKeywordCount = static_cast<int>(Kw::Count_) - 1;

// The keyword a word is, without regard to case; Kw::None for a name.
Kw LookupKeyword(std::string_view word);

// The keyword as messages write it ("ElseIf", "QBColor").
std::string_view KeywordSpelling(Kw kw);

// The store's token number of the keyword (KeyTabStringToId).
int KeywordToken(Kw kw);

}  // namespace tq::compiler
