// Text: what programs do with texts beyond the language's own string
// functions (Len, Mid, Trim, UCase, InStr, ...): number patterns, splitting
// into a TextList and joining, replacing, padding to a width.
//
// Widths count characters, not bytes: a UTF-8 sequence is one character,
// so "né" pads as two.
#pragma once

#include <tqstore/tqstore.h>

namespace tq::sys {

class Text final : public IInterObj {
public:
    static PublishedClass& Class();
    explicit Text(DllServer* server) : IInterObj(server) {}

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "Text"; }

    ValString imFormat(double value, const char* pattern);
    InterObj imSplit(const char* text, const char* separator);
    int32_t imCountWords(const char* text);
    ValString imJoin(const InterObj* list, const char* separator);
    ValString imReplace(const char* text, const char* find, const char* replacement);
    ValString imPadLeft(const char* text, int32_t width);
    ValString imPadRight(const char* text, int32_t width);
    int32_t imStartsWith(const char* text, const char* prefix);
    int32_t imEndsWith(const char* text, const char* suffix);
};

}  // namespace tq::sys
