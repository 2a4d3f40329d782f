#include "store/interp/keytab.h"

#include <algorithm>
#include <array>
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

// The keywords ordered by text, sorted while compiling, so a look-up is a
// binary search over a fixed table with the lengths at hand: the built-in
// classes check every member name they declare against it at start-up.
constexpr std::array<Keyword, kKeywordCount> kByText = [] {
    std::array<Keyword, kKeywordCount> a{};
    std::copy(std::begin(kKeywords), std::end(kKeywords), a.begin());
    std::sort(a.begin(), a.end(),
              [](const Keyword& x, const Keyword& y) { return x.text < y.text; });
    return a;
}();

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int16_t KeyTabStringToId(const char* word) {
    if (!word) return kIdentifierToken;
    char lower[kCompared];
    size_t n = 0;
    while (n < kCompared && word[n]) {
        lower[n] = LowerAscii(word[n]);
        ++n;
    }
    const std::string_view key(lower, n);
    const auto it = std::lower_bound(kByText.begin(), kByText.end(), key,
                                     [](const Keyword& k, std::string_view w) {
                                         return k.text < w;
                                     });
    if (it != kByText.end() && it->text == key) return it->token;
    return kIdentifierToken;
}

const char* KeyTabIdToString(int token) {
    for (const Keyword& k : kKeywords)
        if (k.token == token) return k.text.data();
    return nullptr;
}

bool IsIdentifierValid(const char* text) {
    if (!text || !IsLetter(text[0])) return false;
    for (const char* p = text + 1; *p; ++p)
        if (!IsLetter(*p) && !IsDigit(*p) && *p != '_') return false;
    const int16_t token = KeyTabStringToId(text);
    return token == kIdentifierToken || token == 376;
}

}  // namespace tq
