// The string built-in functions (kind 10, IntrString).
//
//   kind 10, IntrString, size 11 + the arguments:
//     7   4   function word (StringType): the function number, plus 64 for
//             the functions whose first argument is a string (3 to 14) and
//             128 for those whose first is a number (15 to 19); Instr and
//             Str are stored as 1 and 2
//     11  ... the first argument, then up to three more; flags 32, 64 and
//             128 mark a second, third and fourth argument; flag 16 marks
//             the name written with "$"
//
// The name prints from the word's low 6 bits; evaluation dispatches on the
// whole word. Arguments are evaluated in order with a value required; s and
// t are read as texts, n, start and mode as Longs.
//
// Texts are byte strings: a text may hold bytes above 127 and, where the
// value came from Chr(0), NUL bytes; every function works on the text's
// length, never past it. Case (LCase, UCase, the comparisons that ignore
// case) is that of the ASCII letters only, so a UTF-8 text is never folded
// into another. Asc gives a byte's code from 0 to 255.
#pragma once

#include <cstdint>

#include "store/interp/exprnode.h"

namespace tq {

class NodeCheck;
class SourceControl;

enum StringType : uint32_t {
    STR_INSTR = 1,
    STR_STR = 2,
    STR_LCASE = 64 + 3,
    STR_UCASE = 64 + 4,
    STR_LEFT = 64 + 5,
    STR_RIGHT = 64 + 6,
    STR_MID = 64 + 7,
    STR_LEN = 64 + 8,
    STR_LTRIM = 64 + 9,
    STR_RTRIM = 64 + 10,
    STR_TRIM = 64 + 11,
    STR_ASC = 64 + 12,
    STR_VAL = 64 + 13,
    STR_STRCOMP = 64 + 14,
    STR_STRING = 128 + 15,
    STR_SPACE = 128 + 16,
    STR_CHR = 128 + 17,
    STR_HEX = 128 + 18,
    STR_OCT = 128 + 19,
};

class IntrString final : public ExprNode {
public:
    static constexpr uint32_t kArgOffset = 11;
    static constexpr uint8_t kDollar = 0x10;
    // Flags of the second, third and fourth argument.
    static constexpr uint8_t kArg2 = 0x20;
    static constexpr uint8_t kArg3 = 0x40;
    static constexpr uint8_t kArg4 = 0x80;

    // e1 is required; the later arguments follow without gaps, and their
    // number must suit the function (ArgumentRange). dollar: written "Left$".
    static ExprPtr make(StringType type, int dollar, ExprPtr e1, ExprPtr e2 = nullptr, ExprPtr e3 = nullptr,
                        ExprPtr e4 = nullptr);

    uint32_t word() const { return LoadLE32(type_); }
    bool hasDollar() const { return (flags() & kDollar) != 0; }
    int argCount() const;

    ValuePtr eval(Context& lookup, Context& args) const;
    // Function word applied to the n argument values v, in order: what eval
    // gives once its arguments are evaluated.
    static ValuePtr Apply(uint32_t word, const ValuePtr* v, int n);
    void print(SourceControl& sc) const;

    // The printed name of a function word; null for a word that is no
    // function.
    static const char* Name(uint32_t word);
    // The least and most arguments of a function word (false for a word
    // that is no function).
    static bool ArgumentRange(uint32_t word, int& least, int& most);

private:
    explicit IntrString(uint32_t word);
    uint8_t type_[4];
};

static_assert(sizeof(IntrString) == IntrString::kArgOffset, "a string function's head is 11 bytes");

void CheckIntrString(NodeCheck& c, uint32_t at, uint32_t end, int depth);
ValuePtr EvalIntrString(const ExprNode& node, Context& lookup, Context& args, int32_t how);

// Val's reading of a text: white space removed wherever it stands, at most
// 30 characters kept; "&H" hexadecimal, "&O" octal (32 bits, as a Long
// reads them), anything else a decimal number; 0 when nothing reads.
double ValOfText(const char* text, size_t length);

}  // namespace tq
