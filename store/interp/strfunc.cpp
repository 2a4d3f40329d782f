#include "store/interp/strfunc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/util/cnumber.h"
#include "platform/util/strutil.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/interp/nodechk.h"
#include "store/interp/srcctl.h"
#include "store/persist/vlstrrep.h"
#include "store/vals.h"

namespace tq {

namespace {

struct Function {
    const char* name;
    int least;
    int most;
};

// Indexed by the function number (the word's low 6 bits).
constexpr Function kFunctions[] = {
    {nullptr, 0, 0},  {"Instr", 2, 4}, {"Str", 1, 1},     {"LCase", 1, 1},  {"UCase", 1, 1},
    {"Left", 2, 2},   {"Right", 2, 2}, {"Mid", 2, 3},     {"Len", 1, 1},    {"LTrim", 1, 1},
    {"RTrim", 1, 1},  {"Trim", 1, 1},  {"Asc", 1, 1},     {"Val", 1, 1},    {"StrComp", 2, 3},
    {"String", 2, 2}, {"Space", 1, 1}, {"Chr", 1, 1},     {"Hex", 1, 1},    {"Oct", 1, 1},
};
constexpr uint32_t kFunctionCount = sizeof kFunctions / sizeof kFunctions[0];

// The class bit a function number is stored with.
uint32_t ClassBits(uint32_t number) {
    if (number >= 3 && number <= 14) return 64;
    if (number >= 15 && number <= 19) return 128;
    return 0;
}

const Function* Find(uint32_t word) {
    const uint32_t number = word & 63;
    if (number == 0 || number >= kFunctionCount || (word & ~63u) != ClassBits(number)) return nullptr;
    return &kFunctions[number];
}

constexpr uint8_t kArgFlags[3] = {IntrString::kArg2, IntrString::kArg3, IntrString::kArg4};

// An argument read as a text. The view is valid while the text is held.
struct Text {
    ValString held;
    std::string_view view;
};

Text TextOf(const Value& v) {
    Text t;
    v.get(t.held);
    if (t.held.get()) t.view = t.held->text();
    return t;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsValBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

ValuePtr MakeText(std::string_view s) { return ValuePtr(new StringValue(ValString(s))); }
ValuePtr MakeLong(int64_t n) { return ValuePtr(new LongValue(static_cast<int32_t>(n))); }

// Where t first stands in s at or after from (0-based), or npos.
size_t Find(std::string_view s, std::string_view t, size_t from, bool ignoreCase) {
    if (!ignoreCase) return s.find(t, from);
    if (t.size() > s.size()) return std::string_view::npos;
    for (size_t i = from; i + t.size() <= s.size(); ++i) {
        size_t k = 0;
        while (k < t.size() && LowerAscii(s[i + k]) == LowerAscii(t[k])) ++k;
        if (k == t.size()) return i;
    }
    return std::string_view::npos;
}

int32_t Instr(int32_t start, std::string_view s, std::string_view t, bool ignoreCase) {
    if (start < 1) start = 1;
    if (t.empty()) return start;
    const size_t from = static_cast<size_t>(start) - 1;
    if (from >= s.size()) return 0;
    const size_t at = Find(s, t, from, ignoreCase);
    return at == std::string_view::npos ? 0 : static_cast<int32_t>(at + 1);
}

int32_t StrComp(std::string_view s, std::string_view t, bool ignoreCase) {
    const int r = ignoreCase ? CompareIgnoringCase(s, t) : s.compare(t);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// The character of a code: its low 8 bits.
char CharOfCode(int32_t code) { return static_cast<char>(code & 0xFF); }

bool IsNumberValue(const Value& v) {
    const IdType t = v.type() & IDT_TYPEMASK;
    return t >= IDT_SHORT && t <= IDT_CURRENCY;
}

// A count from a Long: negative counts are 0.
size_t Count(int32_t n) { return n < 0 ? 0 : static_cast<size_t>(n); }

std::string Trimmed(std::string_view s, bool leading, bool trailing) {
    while (leading && !s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (trailing && !s.empty() && s.back() == ' ') s.remove_suffix(1);
    return std::string(s);
}

std::string Formatted(const char* format, int32_t n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, format, static_cast<unsigned>(static_cast<uint32_t>(n)));
    return buf;
}

// The longest decimal number at the start of text (sign, digits, a point,
// digits, an exponent), as the C library's "%lf" reads one without its
// "inf", "nan" and hexadecimal forms; empty when there is none.
std::string_view DecimalPrefix(std::string_view text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return {};
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && text[j] >= '0' && text[j] <= '9') {
            while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
            i = j;
        }
    }
    return text.substr(0, i);
}

}  // namespace

double ValOfText(const char* text, size_t length) {
    // White space goes wherever it stands; the text ends at its first NUL,
    // as the C library's readers see it.
    std::string compact;
    for (size_t i = 0; i < length && text[i] != '\0' && compact.size() < 30; ++i)
        if (!IsValBlank(text[i])) compact += text[i];
    if (compact.size() >= 2 && compact[0] == '&') {
        const char r = UpperAscii(compact[1]);
        if (r == 'H' || r == 'O') {
            const char* digits = compact.c_str() + 2;
            const char* end = digits;
            const uint32_t v = CStrToUL32(digits, r == 'H' ? 16 : 8, &end);
            // A hexadecimal or octal number has 32 bits and reads as a Long.
            return end == digits ? 0.0 : static_cast<double>(static_cast<int32_t>(v));
        }
    }
    std::string_view rest(compact);
    if (!rest.empty() && rest[0] == '&') rest.remove_prefix(1);
    const std::string number(DecimalPrefix(rest));
    if (number.empty()) return 0.0;
    const char* end = nullptr;
    const double v = CStrToD(number.c_str(), &end);
    if (std::isinf(v)) throw FPException(32703, nullptr);
    return v;
}

// ---- the node ----------------------------------------------------------------------------

IntrString::IntrString(uint32_t word) : ExprNode(EXPR_INTR_STRING, kArgOffset) { StoreLE32(type_, word); }

const char* IntrString::Name(uint32_t word) {
    const Function* f = Find(word);
    return f ? f->name : nullptr;
}

bool IntrString::ArgumentRange(uint32_t word, int& least, int& most) {
    const Function* f = Find(word);
    if (!f) return false;
    least = f->least;
    most = f->most;
    return true;
}

ExprPtr IntrString::make(StringType type, int dollar, ExprPtr e1, ExprPtr e2, ExprPtr e3, ExprPtr e4) {
    TQ_ASSERT(e1 != nullptr, "e1");
    TQ_ASSERT((e2 || !e3) && (e3 || !e4), "arguments follow without gaps");
    int least = 0, most = 0;
    TQ_ASSERT(ArgumentRange(type, least, most), "StringType");
    const int n = 1 + (e2 ? 1 : 0) + (e3 ? 1 : 0) + (e4 ? 1 : 0);
    TQ_ASSERT(n >= least && n <= most, "argument count of the string function");
    ExprPtr given[4] = {std::move(e1), std::move(e2), std::move(e3), std::move(e4)};
    uint32_t size = kArgOffset;
    for (const ExprPtr& e : given)
        if (e) size += e->size();
    auto* node = ::new (Allocate(size)) IntrString(type);
    node->setSize(size);
    if (dollar) node->addFlags(kDollar);
    uint32_t at = kArgOffset;
    for (int i = 0; i < n; ++i) {
        if (i > 0) node->addFlags(kArgFlags[i - 1]);
        at = node->embed(at, std::move(given[i]));
    }
    return ExprPtr(node);
}

int IntrString::argCount() const {
    int n = 1;
    for (uint8_t f : kArgFlags)
        if (flags() & f) ++n;
    return n;
}

ValuePtr IntrString::eval(Context& lookup, Context& args) const {
    // Every argument is evaluated, in order, before the function looks at
    // any of them.
    const int n = argCount();
    ValuePtr v[4];
    const ExprNode* e = nodeAt(kArgOffset);
    for (int i = 0; i < n; ++i) {
        v[i] = e->eval(lookup, args, EVAL_VALUE_REQUIRED);
        e = e->nodeAt(e->size());
    }
    return Apply(word(), v, n);
}

ValuePtr IntrString::Apply(uint32_t word, const ValuePtr* v, int n) {
    auto num = [&v](int i) { return v[i]->as<int32_t>(); };
    switch (word) {
        case STR_INSTR: {
            if (n == 2) return MakeLong(Instr(1, TextOf(*v[0]).view, TextOf(*v[1]).view, false));
            const bool ignoreCase = n == 4 && num(3) != 0;
            const int32_t start = num(0);
            return MakeLong(Instr(start, TextOf(*v[1]).view, TextOf(*v[2]).view, ignoreCase));
        }
        case STR_STR: return MakeText(TextOf(*v[0]).view);
        case STR_LCASE:
        case STR_UCASE: {
            std::string s(TextOf(*v[0]).view);
            for (char& c : s) c = word == STR_LCASE ? LowerAscii(c) : UpperAscii(c);
            return MakeText(s);
        }
        case STR_LEFT: {
            const Text s = TextOf(*v[0]);
            return MakeText(s.view.substr(0, std::min(Count(num(1)), s.view.size())));
        }
        case STR_RIGHT: {
            const Text s = TextOf(*v[0]);
            const size_t k = std::min(Count(num(1)), s.view.size());
            return MakeText(s.view.substr(s.view.size() - k));
        }
        case STR_MID: {
            const Text s = TextOf(*v[0]);
            const int32_t start = num(1);
            const size_t from = start < 1 ? 0 : static_cast<size_t>(start) - 1;
            if (from >= s.view.size()) return MakeText({});
            const size_t k = n == 3 ? Count(num(2)) : s.view.size();
            return MakeText(s.view.substr(from, k));
        }
        case STR_LEN: return MakeLong(static_cast<int64_t>(TextOf(*v[0]).view.size()));
        case STR_LTRIM: return MakeText(Trimmed(TextOf(*v[0]).view, true, false));
        case STR_RTRIM: return MakeText(Trimmed(TextOf(*v[0]).view, false, true));
        case STR_TRIM: return MakeText(Trimmed(TextOf(*v[0]).view, true, true));
        case STR_ASC: {
            // The empty text's first character is its end: 0.
            const Text s = TextOf(*v[0]);
            return MakeLong(s.view.empty() ? 0 : static_cast<unsigned char>(s.view[0]));
        }
        case STR_VAL: {
            const Text s = TextOf(*v[0]);
            return ValuePtr(new DoubleValue(ValOfText(s.view.data(), s.view.size())));
        }
        case STR_STRCOMP: {
            const bool ignoreCase = n == 3 && num(2) != 0;
            return MakeLong(StrComp(TextOf(*v[0]).view, TextOf(*v[1]).view, ignoreCase));
        }
        case STR_STRING: {
            // A number c is a character code, as Chr reads it: String(3, 65)
            // is "AAA", never copies of the first digit of "65". A text c
            // gives its first character; an empty one has none, and gives
            // the empty text.
            const size_t k = Count(num(0));
            if (IsNumberValue(*v[1])) return MakeText(std::string(k, CharOfCode(num(1))));
            const Text c = TextOf(*v[1]);
            if (c.view.empty()) return MakeText({});
            return MakeText(std::string(k, c.view[0]));
        }
        case STR_SPACE: return MakeText(std::string(Count(num(0)), ' '));
        case STR_CHR: return MakeText(std::string(1, CharOfCode(num(0))));
        case STR_HEX: return MakeText(Formatted("%X", num(0)));
        case STR_OCT: return MakeText(Formatted("%o", num(0)));
        default: utilsAssert("StringType", __FILE__, __LINE__);
    }
}

void IntrString::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    const char* name = Name(word());
    os << (name ? name : "?");
    if (hasDollar()) os << '$';
    os << '(';
    const int n = argCount();
    const ExprNode* e = nodeAt(kArgOffset);
    for (int i = 0; i < n; ++i) {
        if (i > 0) os << ", ";
        e->print(sc);
        e = e->nodeAt(e->size());
    }
    os << ')';
}

void CheckIntrString(NodeCheck& c, uint32_t at, uint32_t end, int depth) {
    const uint32_t word = c.u32(at + 7);
    int least = 0, most = 0;
    if (!IntrString::ArgumentRange(word, least, most)) c.fail(at, "unknown string function " + std::to_string(word));
    const uint8_t flags = c.u8(at + 6);
    int n = 1;
    for (uint8_t f : kArgFlags) {
        if (!(flags & f)) break;
        ++n;
    }
    for (int i = n - 1; i < 3; ++i)
        if (flags & kArgFlags[i]) c.fail(at, "the arguments of a string function have a gap");
    if (n < least || n > most)
        c.fail(at, std::string(IntrString::Name(word)) + " takes " + std::to_string(least) + " to " +
                       std::to_string(most) + " arguments, not " + std::to_string(n));
    uint32_t pos = at + IntrString::kArgOffset;
    for (int i = 0; i < n; ++i) pos = c.expression(pos, end, depth + 1);
    if (pos != end) c.fail(pos, "the size of IntrString does not match what it holds");
}

ValuePtr EvalIntrString(const ExprNode& node, Context& lookup, Context& args, int32_t) {
    return static_cast<const IntrString&>(node).eval(lookup, args);
}

}  // namespace tq
