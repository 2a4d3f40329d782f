#include "compiler/keywords.h"

#include <array>

namespace tq::compiler {

namespace {

struct Entry {
    Kw kw;
    std::string_view spelling;
    int token;
};

// In the order of Kw. Token numbers are those of the store's keyword table.
constexpr Entry kEntries[] = {
    {Kw::Integer, "Integer", 266},   {Kw::Long, "Long", 267},
    {Kw::Single, "Single", 268},     {Kw::Double, "Double", 269},
    {Kw::Currency, "Currency", 270}, {Kw::String, "String", 271},
    {Kw::Variant, "Variant", 272},   {Kw::Object, "Object", 280},
    {Kw::True, "True", 273},         {Kw::False, "False", 274},
    {Kw::Nothing, "Nothing", 288},   {Kw::Null, "Null", 289},
    {Kw::Me, "Me", 287},             {Kw::New, "New", 283},
    {Kw::Rem, "Rem", 275},           {Kw::Dim, "Dim", 277},
    {Kw::Protected, "Protected", 278}, {Kw::ReDim, "ReDim", 279},
    {Kw::Strictly, "Strictly", 281}, {Kw::As, "As", 282},
    {Kw::From, "From", 284},         {Kw::End, "End", 285},
    {Kw::Type, "Type", 286},         {Kw::Begin, "Begin", 290},
    {Kw::Code, "Code", 291},         {Kw::Function, "Function", 292},
    {Kw::Sub, "Sub", 293},           {Kw::Property, "Property", 294},
    {Kw::Declare, "Declare", 295},   {Kw::Event, "Event", 296},
    {Kw::Lib, "Lib", 297},           {Kw::Alias, "Alias", 298},
    {Kw::Const, "Const", 299},       {Kw::Preserve, "Preserve", 300},
    {Kw::Global, "Global", 301},     {Kw::Static, "Static", 302},
    {Kw::Private, "Private", 303},   {Kw::ByVal, "ByVal", 304},
    {Kw::Mod, "Mod", 312},           {Kw::Not, "Not", 313},
    {Kw::And, "And", 314},           {Kw::Or, "Or", 315},
    {Kw::Xor, "Xor", 316},           {Kw::Imp, "Imp", 317},
    {Kw::Eqv, "Eqv", 318},           {Kw::TypeOf, "TypeOf", 319},
    {Kw::Like, "Like", 392},         {Kw::Is, "Is", 393},
    {Kw::If, "If", 320},             {Kw::Then, "Then", 321},
    {Kw::Else, "Else", 322},         {Kw::ElseIf, "ElseIf", 323},
    {Kw::Select, "Select", 324},     {Kw::Case, "Case", 325},
    {Kw::To, "To", 326},             {Kw::With, "With", 327},
    {Kw::Do, "Do", 328},             {Kw::While, "While", 329},
    {Kw::Until, "Until", 330},       {Kw::Loop, "Loop", 331},
    {Kw::Exit, "Exit", 332},         {Kw::For, "For", 333},
    {Kw::Each, "Each", 334},         {Kw::In, "In", 335},
    {Kw::EmbeddedIn, "EmbeddedIn", 336}, {Kw::CopiedFrom, "CopiedFrom", 337},
    {Kw::Step, "Step", 338},         {Kw::Next, "Next", 339},
    {Kw::Wend, "Wend", 340},         {Kw::Let, "Let", 341},
    {Kw::Set, "Set", 342},           {Kw::Get, "Get", 343},
    {Kw::Call, "Call", 344},         {Kw::Try, "Try", 345},
    {Kw::Catch, "Catch", 346},       {Kw::Throw, "Throw", 347},
    {Kw::Randomize, "Randomize", 348}, {Kw::Print, "Print", 349},
    {Kw::Spc, "Spc", 350},           {Kw::Tab, "Tab", 351},
    {Kw::SendEvent, "SendEvent", 352}, {Kw::Stop, "Stop", 353},
    {Kw::UBound, "UBound", 354},     {Kw::LBound, "LBound", 355},
    {Kw::IIf, "IIf", 356},           {Kw::Abs, "Abs", 357},
    {Kw::Atn, "Atn", 358},           {Kw::Cos, "Cos", 359},
    {Kw::Exp, "Exp", 360},           {Kw::Fix, "Fix", 361},
    {Kw::Int, "Int", 362},           {Kw::Log, "Log", 363},
    {Kw::Rnd, "Rnd", 364},           {Kw::Sgn, "Sgn", 365},
    {Kw::Sin, "Sin", 366},           {Kw::Sqr, "Sqr", 367},
    {Kw::Tan, "Tan", 368},           {Kw::RGB, "RGB", 369},
    {Kw::QBColor, "QBColor", 370},   {Kw::Asc, "Asc", 371},
    {Kw::Chr, "Chr", 372},           {Kw::Hex, "Hex", 373},
    {Kw::Instr, "Instr", 374},       {Kw::LCase, "LCase", 375},
    {Kw::Left, "Left", 376},         {Kw::Len, "Len", 377},
    {Kw::LTrim, "LTrim", 378},       {Kw::Mid, "Mid", 379},
    {Kw::Oct, "Oct", 380},           {Kw::Right, "Right", 381},
    {Kw::RTrim, "RTrim", 382},       {Kw::Space, "Space", 383},
    {Kw::Str, "Str", 384},           {Kw::StrComp, "StrComp", 385},
    {Kw::Trim, "Trim", 386},         {Kw::UCase, "UCase", 387},
    {Kw::Val, "Val", 388},
};
static_assert(std::size(kEntries) == kKeywordCount);
static_assert([] {
    for (size_t i = 0; i < std::size(kEntries); ++i)
        if (static_cast<size_t>(kEntries[i].kw) != i + 1) return false;
    return true;
}(), "entries must follow the order of Kw");

constexpr char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

constexpr uint32_t Hash(std::string_view w) {
    uint32_t h = 2166136261u;
    for (char c : w) h = (h ^ static_cast<uint8_t>(Lower(c))) * 16777619u;
    return h;
}

constexpr bool SameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// Open addressing over 512 slots (a quarter full): a look-up hashes the word
// once and compares one or two entries.
constexpr size_t kSlots = 512;
constexpr size_t kLongestKeyword = 10;

constexpr auto kTable = [] {
    std::array<uint8_t, kSlots> slots{};
    for (size_t i = 0; i < std::size(kEntries); ++i) {
        size_t at = Hash(kEntries[i].spelling) % kSlots;
        while (slots[at] != 0) at = (at + 1) % kSlots;
        slots[at] = static_cast<uint8_t>(i + 1);
    }
    return slots;
}();

}  // namespace

Kw LookupKeyword(std::string_view word) {
    if (word.empty() || word.size() > kLongestKeyword) return Kw::None;
    size_t at = Hash(word) % kSlots;
    while (const uint8_t slot = kTable[at]) {
        const Entry& e = kEntries[slot - 1];
        if (SameWord(e.spelling, word)) return e.kw;
        at = (at + 1) % kSlots;
    }
    return Kw::None;
}

std::string_view KeywordSpelling(Kw kw) {
    const int i = static_cast<int>(kw) - 1;
    if (i < 0 || i >= kKeywordCount) return {};
    return kEntries[i].spelling;
}

int KeywordToken(Kw kw) {
    const int i = static_cast<int>(kw) - 1;
    if (i < 0 || i >= kKeywordCount) return 265;
    return kEntries[i].token;
}

}  // namespace tq::compiler
