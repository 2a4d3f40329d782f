#include "compiler/ast.h"

namespace tq::compiler {

namespace {

constexpr uint32_t S(uint32_t n) { return n >= 15 ? n + 128 : n >= 3 ? n + 64 : n; }

// In the order of Builtin.
constexpr BuiltinInfo kBuiltins[] = {
    {Builtin::Abs, BuiltinFamily::Math, "abs", 1, 1, 1},
    {Builtin::Atn, BuiltinFamily::Math, "atn", 2, 1, 1},
    {Builtin::Cos, BuiltinFamily::Math, "cos", 3, 1, 1},
    {Builtin::Exp, BuiltinFamily::Math, "exp", 4, 1, 1},
    {Builtin::Fix, BuiltinFamily::Math, "fix", 5, 1, 1},
    {Builtin::Int, BuiltinFamily::Math, "int", 6, 1, 1},
    {Builtin::Log, BuiltinFamily::Math, "log", 7, 1, 1},
    {Builtin::Rnd, BuiltinFamily::Math, "rnd", 8, 0, 1},
    {Builtin::Sgn, BuiltinFamily::Math, "sgn", 9, 1, 1},
    {Builtin::Sin, BuiltinFamily::Math, "sin", 10, 1, 1},
    {Builtin::Sqr, BuiltinFamily::Math, "sqr", 11, 1, 1},
    {Builtin::Tan, BuiltinFamily::Math, "tan", 12, 1, 1},
    {Builtin::Instr, BuiltinFamily::String, "Instr", S(1), 2, 4},
    {Builtin::Str, BuiltinFamily::String, "Str", S(2), 1, 1},
    {Builtin::LCase, BuiltinFamily::String, "LCase", S(3), 1, 1},
    {Builtin::UCase, BuiltinFamily::String, "UCase", S(4), 1, 1},
    {Builtin::Left, BuiltinFamily::String, "Left", S(5), 2, 2},
    {Builtin::Right, BuiltinFamily::String, "Right", S(6), 2, 2},
    {Builtin::Mid, BuiltinFamily::String, "Mid", S(7), 2, 3},
    {Builtin::Len, BuiltinFamily::String, "Len", S(8), 1, 1},
    {Builtin::LTrim, BuiltinFamily::String, "LTrim", S(9), 1, 1},
    {Builtin::RTrim, BuiltinFamily::String, "RTrim", S(10), 1, 1},
    {Builtin::Trim, BuiltinFamily::String, "Trim", S(11), 1, 1},
    {Builtin::Asc, BuiltinFamily::String, "Asc", S(12), 1, 1},
    {Builtin::Val, BuiltinFamily::String, "Val", S(13), 1, 1},
    {Builtin::StrComp, BuiltinFamily::String, "StrComp", S(14), 2, 3},
    {Builtin::String, BuiltinFamily::String, "String", S(15), 2, 2},
    {Builtin::Space, BuiltinFamily::String, "Space", S(16), 1, 1},
    {Builtin::Chr, BuiltinFamily::String, "Chr", S(17), 1, 1},
    {Builtin::Hex, BuiltinFamily::String, "Hex", S(18), 1, 1},
    {Builtin::Oct, BuiltinFamily::String, "Oct", S(19), 1, 1},
    {Builtin::LBound, BuiltinFamily::Bound, "LBound", 1, 1, 2},
    {Builtin::UBound, BuiltinFamily::Bound, "UBound", 2, 1, 2},
    {Builtin::RGB, BuiltinFamily::Color, "RGB", 1, 3, 3},
    {Builtin::QBColor, BuiltinFamily::Color, "QBColor", 2, 1, 1},
    {Builtin::IIf, BuiltinFamily::IIf, "IIf", 0, 3, 3},
};

static_assert([] {
    for (size_t i = 0; i < std::size(kBuiltins); ++i)
        if (static_cast<size_t>(kBuiltins[i].fn) != i) return false;
    return true;
}(), "entries must follow the order of Builtin");

}  // namespace

const BuiltinInfo& InfoOf(Builtin fn) { return kBuiltins[static_cast<size_t>(fn)]; }

}  // namespace tq::compiler
