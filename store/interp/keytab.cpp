#include "store/interp/keytab.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tq {

namespace {

struct Keyword {
    int16_t token;
    std::string_view text;  // a literal's, so its data() ends with a NUL
};

// Token numbers are part of compiled node streams: never renumber them.
constexpr Keyword kKeywords[] = {
    {266, "integer"},   {267, "long"},       {268, "single"},     {269, "double"},
    {270, "currency"},  {271, "string"},     {272, "variant"},    {273, "true"},
    {274, "false"},     {275, "rem"},        {277, "dim"},        {278, "protected"},
    {279, "redim"},     {280, "object"},     {281, "strictly"},   {282, "as"},
    {283, "new"},       {284, "from"},       {285, "end"},        {286, "type"},
    {287, "me"},        {288, "nothing"},    {289, "null"},       {290, "begin"},
    {291, "code"},      {292, "function"},   {293, "sub"},        {294, "property"},
    {295, "declare"},   {296, "event"},      {297, "lib"},        {298, "alias"},
    {299, "const"},     {300, "preserve"},   {301, "global"},     {302, "static"},
    {303, "private"},   {304, "byval"},      {312, "mod"},        {313, "not"},
    {314, "and"},       {315, "or"},         {316, "xor"},        {317, "imp"},
    {318, "eqv"},       {319, "typeof"},     {320, "if"},         {321, "then"},
    {322, "else"},      {323, "elseif"},     {324, "select"},     {325, "case"},
    {326, "to"},        {327, "with"},       {328, "do"},         {329, "while"},
    {330, "until"},     {331, "loop"},       {332, "exit"},       {333, "for"},
    {334, "each"},      {335, "in"},         {336, "embeddedin"}, {337, "copiedfrom"},
    {338, "step"},      {339, "next"},       {340, "wend"},       {341, "let"},
    {342, "set"},       {343, "get"},        {344, "call"},       {345, "try"},
    {346, "catch"},     {347, "throw"},      {348, "randomize"},  {349, "print"},
    {350, "spc"},       {351, "tab"},        {352, "sendevent"},  {353, "stop"},
    {354, "ubound"},    {355, "lbound"},     {356, "iif"},        {357, "abs"},
    {358, "atn"},       {359, "cos"},        {360, "exp"},        {361, "fix"},
    {362, "int"},       {363, "log"},        {364, "rnd"},        {365, "sgn"},
    {366, "sin"},       {367, "sqr"},        {368, "tan"},        {369, "rgb"},
    {370, "qbcolor"},   {371, "asc"},        {372, "chr"},        {373, "hex"},
    {374, "instr"},     {375, "lcase"},      {376, "left"},       {377, "len"},
    {378, "ltrim"},     {379, "mid"},        {380, "oct"},        {381, "right"},
    {382, "rtrim"},     {383, "space"},      {384, "str"},        {385, "strcomp"},
    {386, "trim"},      {387, "ucase"},      {388, "val"},        {392, "like"},
    {393, "is"},
};

constexpr size_t kKeywordCount = std::size(kKeywords);
constexpr size_t kCompared = 16;
constexpr size_t kLongest = [] {
    size_t longest = 0;
    for (const Keyword& k : kKeywords) longest = std::max(longest, k.text.size());
    return longest;
}();
static_assert(kLongest < kCompared);
constexpr int16_t kFirstToken = [] {
    int16_t first = kKeywords[0].token;
    for (const Keyword& k : kKeywords) first = std::min(first, k.token);
    return first;
}();
constexpr int16_t kLastToken = [] {
    int16_t last = kKeywords[0].token;
    for (const Keyword& k : kKeywords) last = std::max(last, k.token);
    return last;
}();

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A word of at most kCompared characters packed into two words, NUL-padded,
// so that two words compare in two integer comparisons.
struct Packed {
    uint64_t lo = 0, hi = 0;
    friend constexpr bool operator==(const Packed&, const Packed&) = default;
};

constexpr void PackByte(Packed& p, size_t i, unsigned char c) {
    if (i < 8)
        p.lo |= uint64_t{c} << (8 * i);
    else
        p.hi |= uint64_t{c} << (8 * (i - 8));
}

// FNV-1a over the lower-case bytes; the table's slot is its low bits.
constexpr uint32_t kFnvBasis = 2166136261u;
constexpr uint32_t HashStep(uint32_t h, unsigned char c) { return (h ^ c) * 16777619u; }

// Every name a program declares and every word the built-in classes'
// declarations hold is looked up here, most of them no keyword: a look-up
// is one pass over the word's bytes and, mostly, one probe of an
// open-addressed table built while compiling. Slots hold an index into
// kKeywords plus one; zero is an empty slot, which ends a probe. The table
// is kept at most half full so that a miss meets an empty slot soon.
constexpr size_t kSlots = 256;
static_assert(kKeywordCount * 2 <= kSlots);

constexpr std::array<uint8_t, kSlots> kSlotOf = [] {
    std::array<uint8_t, kSlots> slots{};
    for (size_t k = 0; k < kKeywordCount; ++k) {
        uint32_t h = kFnvBasis;
        for (char c : kKeywords[k].text) h = HashStep(h, static_cast<unsigned char>(c));
        size_t s = h % kSlots;
        while (slots[s] != 0) s = (s + 1) % kSlots;
        slots[s] = static_cast<uint8_t>(k + 1);
    }
    return slots;
}();

constexpr std::array<Packed, kKeywordCount> kPacked = [] {
    std::array<Packed, kKeywordCount> packed{};
    for (size_t k = 0; k < kKeywordCount; ++k)
        for (size_t i = 0; i < kKeywords[k].text.size(); ++i)
            PackByte(packed[k], i, static_cast<unsigned char>(kKeywords[k].text[i]));
    return packed;
}();

// The keyword text of each token number from kFirstToken, null for a gap.
constexpr std::array<const char*, kLastToken - kFirstToken + 1> kTextOf = [] {
    std::array<const char*, kLastToken - kFirstToken + 1> text{};
    for (const Keyword& k : kKeywords) text[k.token - kFirstToken] = k.text.data();
    return text;
}();

}  // namespace

int16_t KeyTabStringToId(const char* word) {
    if (!word) return kIdentifierToken;
    return KeyTabStringToId(std::string_view(word, strnlen(word, kCompared)));
}

int16_t KeyTabStringToId(std::string_view word) {
    // Within the compared length only a word of a keyword's length can be
    // one; past it, none is.
    if (word.size() > kLongest) return kIdentifierToken;
    Packed key;
    uint32_t h = kFnvBasis;
    for (size_t n = 0; n < word.size(); ++n) {
        const auto c = static_cast<unsigned char>(LowerAscii(word[n]));
        if (c == 0) return kIdentifierToken;
        PackByte(key, n, c);
        h = HashStep(h, c);
    }
    for (size_t s = h % kSlots; kSlotOf[s] != 0; s = (s + 1) % kSlots)
        if (kPacked[kSlotOf[s] - 1] == key) return kKeywords[kSlotOf[s] - 1].token;
    return kIdentifierToken;
}

const char* KeyTabIdToString(int token) {
    if (token < kFirstToken || token > kLastToken) return nullptr;
    return kTextOf[static_cast<size_t>(token - kFirstToken)];
}

bool IsIdentifierValid(const char* text) {
    if (!text || !IsLetter(text[0])) return false;
    for (const char* p = text + 1; *p; ++p)
        if (!IsLetter(*p) && !IsDigit(*p) && *p != '_') return false;
    const int16_t token = KeyTabStringToId(text);
    return token == kIdentifierToken || token == 376;
}

}  // namespace tq
