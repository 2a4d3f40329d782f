// TextList: an ordered list of texts, what Text.Split and
// FileSystem.ListFolder give and Text.Join takes. Indexed from 0, as Group
// is: list.Item(0) or list(0).
//
// PO_Write layout (after the revision byte), revision 1:
//
//   offset  width  meaning
//   0       4      n, the number of texts
//   4       ...    n texts, each in the stream's string form (oclstream.h)
#pragma once

#include <string>
#include <vector>

#include <tqstore/tqstore.h>

namespace tq::sys {

class TextList final : public IInterObj {
public:
    static PublishedClass& Class();
    explicit TextList(DllServer* server) : IInterObj(server) {}
    // A new detached list holding items; it goes with its last reference.
    static InterObj Make(std::vector<std::string> items);
    // The list part of obj; null when obj is no TextList.
    static TextList* Of(const InterObj* obj);

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream& in, uint32_t revision) override;
    void PO_Write(OCLStream& out) override;
    const char* className() const override { return "TextList"; }
    void clone(const IInterObj& other) override;
    // list(i): the text at i.
    ValuePtr eval(const ValueList* args, int* handled) override;

    int32_t pdGetCount() { return static_cast<int32_t>(items_.size()); }
    ValString imItem(int32_t index);
    void imAdd(const char* text);
    void imClear();
    void imSort();
    ValString imJoin(const char* separator);

    const std::vector<std::string>& items() const { return items_; }
    std::string join(std::string_view separator) const;

private:
    const std::string& at(int32_t index) const;
    std::vector<std::string> items_;
};

}  // namespace tq::sys
