#include "sys/textlist.h"

#include <algorithm>

#include "sys/sysexcep.h"

namespace tq::sys {

PublishedClass& TextList::Class() {
    static PublishedClass cls("Tessaro.TextList", "TextList", "{3E1A7C20-5B7D-4C1E-9A64-1D2B3C4E5F03}",
                              [](DllServer* server) -> IInterObj* { return new TextList(server); });
    return cls;
}

InterObj TextList::Make(std::vector<std::string> items) {
    InterObjRep* made = InterObjRep::NewCopy(*Class().PO_GetObject(), DETACHED_MODULE, IOT_ORDINARY);
    InterObj held(made);
    if (TextList* list = dynamic_cast<TextList*>(made->compiledPart())) list->items_ = std::move(items);
    return held;
}

TextList* TextList::Of(const InterObj* obj) {
    InterObjRep* o = obj ? obj->get() : nullptr;
    return o ? dynamic_cast<TextList*>(o->compiledPart()) : nullptr;
}

void TextList::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        sig.addField(CompProcDataField::make("Count", IDT_LONG, NoSetter, Method(&TextList::pdGetCount)), nullptr, 0);
        ParseCppField("Function Item(ByVal index As Long) As String", sig, &TextList::imItem);
        ParseCppField("Sub Add(ByVal text As String)", sig, &TextList::imAdd);
        ParseCppField("Sub Clear()", sig, &TextList::imClear);
        ParseCppField("Sub Sort()", sig, &TextList::imSort);
        ParseCppField("Function Join(ByVal separator As String) As String", sig, &TextList::imJoin);
    });
}

void TextList::PO_Read(OCLStream& in, uint32_t) {
    const uint32_t n = in.readU32();
    std::vector<std::string> items;
    // Each text takes at least its 4-byte length: a count the stream
    // cannot hold fails on reading, never by reserving.
    for (uint32_t i = 0; i < n; ++i) items.push_back(in.readString());
    items_ = std::move(items);
}

void TextList::PO_Write(OCLStream& out) {
    out.writeU32(static_cast<uint32_t>(items_.size()));
    for (const std::string& t : items_) out.writeString(t);
}

void TextList::clone(const IInterObj& other) {
    if (const auto* from = dynamic_cast<const TextList*>(&other)) items_ = from->items_;
}

const std::string& TextList::at(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= items_.size())
        ThrowOutOfRange("Index", index, 0, static_cast<double>(items_.size()) - 1);
    return items_[static_cast<size_t>(index)];
}

ValuePtr TextList::eval(const ValueList* args, int* handled) {
    if (handled) *handled = 1;
    if (!args || args->length() != 1) return ValuePtr();
    const int32_t index = args->at(0)->as<int32_t>();
    return ValuePtr(new StringValue(ValString(at(index))));
}

ValString TextList::imItem(int32_t index) { return ValString(at(index)); }

void TextList::imAdd(const char* text) {
    items_.emplace_back(text ? text : "");
    markChanged();
}

void TextList::imClear() {
    items_.clear();
    markChanged();
}

// Byte order: UTF-8 text sorts by code point, the same on every machine.
void TextList::imSort() {
    std::sort(items_.begin(), items_.end());
    markChanged();
}

std::string TextList::join(std::string_view separator) const {
    std::string out;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (i) out += separator;
        out += items_[i];
    }
    return out;
}

ValString TextList::imJoin(const char* separator) { return ValString(join(separator ? separator : "")); }

}  // namespace tq::sys
