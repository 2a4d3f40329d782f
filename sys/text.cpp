#include "sys/text.h"

#include <string>
#include <string_view>
#include <vector>

#include "sys/numfmt.h"
#include "sys/sysexcep.h"
#include "sys/textlist.h"

namespace tq::sys {

namespace {

std::string_view View(const char* t) { return t ? std::string_view(t) : std::string_view(); }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// Characters of UTF-8 text: every byte that does not continue a sequence.
size_t Characters(std::string_view t) {
    size_t n = 0;
    for (char c : t) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

std::string Padding(std::string_view text, int32_t width) {
    if (width < 0) ThrowOutOfRange("Width", width, 0, 2147483647.0);
    const size_t have = Characters(text);
    return std::string(have < static_cast<size_t>(width) ? static_cast<size_t>(width) - have : 0, ' ');
}

}  // namespace

PublishedClass& Text::Class() {
    static PublishedClass cls("Tessaro.Text", "Text", "{3E1A7C20-5B7D-4C1E-9A64-1D2B3C4E5F04}",
                              [](DllServer* server) -> IInterObj* { return new Text(server); });
    return cls;
}

void Text::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        EnsureBooleanEnum();
        ParseCppField("Function Format(ByVal value As Double, ByVal pattern As String) As String", sig,
                      &Text::imFormat);
        ParseCppField("Function Split(ByVal text As String, ByVal separator As String) As TextList", sig,
                      &Text::imSplit);
        ParseCppField("Function CountWords(ByVal text As String) As Long", sig, &Text::imCountWords);
        ParseCppField("Function Join(list As TextList, ByVal separator As String) As String", sig, &Text::imJoin);
        ParseCppField("Function Replace(ByVal text As String, ByVal find As String, ByVal replacement As String) "
                      "As String",
                      sig, &Text::imReplace);
        ParseCppField("Function PadLeft(ByVal text As String, ByVal width As Long) As String", sig, &Text::imPadLeft);
        ParseCppField("Function PadRight(ByVal text As String, ByVal width As Long) As String", sig,
                      &Text::imPadRight);
        ParseCppField("Function StartsWith(ByVal text As String, ByVal prefix As String) As Boolean", sig,
                      &Text::imStartsWith);
        ParseCppField("Function EndsWith(ByVal text As String, ByVal suffix As String) As Boolean", sig,
                      &Text::imEndsWith);
    });
}

ValString Text::imFormat(double value, const char* pattern) {
    return ValString(FormatNumber(value, std::string(View(pattern))));
}

// With a separator: the pieces between its occurrences, empty ones too
// ("a,,b" is three). With an empty one: the words, runs of anything but
// blanks.
InterObj Text::imSplit(const char* text, const char* separator) {
    const std::string_view t = View(text);
    const std::string_view sep = View(separator);
    std::vector<std::string> pieces;
    if (sep.empty()) {
        size_t i = 0;
        while (i < t.size()) {
            while (i < t.size() && IsBlank(t[i])) ++i;
            const size_t start = i;
            while (i < t.size() && !IsBlank(t[i])) ++i;
            if (i > start) pieces.emplace_back(t.substr(start, i - start));
        }
    } else {
        size_t start = 0;
        for (;;) {
            const size_t at = t.find(sep, start);
            pieces.emplace_back(t.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
            if (at == std::string_view::npos) break;
            start = at + sep.size();
        }
    }
    return TextList::Make(std::move(pieces));
}

int32_t Text::imCountWords(const char* text) {
    int32_t n = 0;
    bool inWord = false;
    for (const char* p = text ? text : ""; *p; ++p) {
        const bool blank = IsBlank(*p);
        if (!blank && !inWord) ++n;
        inWord = !blank;
    }
    return n;
}

ValString Text::imJoin(const InterObj* list, const char* separator) {
    const TextList* l = TextList::Of(list);
    if (!l) throw SysError("ArgumentError", "Join takes a TextList", "");
    return ValString(l->join(View(separator)));
}

ValString Text::imReplace(const char* text, const char* find, const char* replacement) {
    const std::string_view t = View(text);
    const std::string_view f = View(find);
    if (f.empty()) return ValString(t);
    const std::string_view r = View(replacement);
    std::string out;
    size_t start = 0;
    for (size_t at; (at = t.find(f, start)) != std::string_view::npos; start = at + f.size()) {
        out.append(t.substr(start, at - start));
        out.append(r);
    }
    out.append(t.substr(start));
    return ValString(out);
}

ValString Text::imPadLeft(const char* text, int32_t width) {
    return ValString(Padding(View(text), width) + std::string(View(text)));
}

ValString Text::imPadRight(const char* text, int32_t width) {
    return ValString(std::string(View(text)) + Padding(View(text), width));
}

int32_t Text::imStartsWith(const char* text, const char* prefix) { return View(text).starts_with(View(prefix)) ? -1 : 0; }

int32_t Text::imEndsWith(const char* text, const char* suffix) { return View(text).ends_with(View(suffix)) ? -1 : 0; }

}  // namespace tq::sys
