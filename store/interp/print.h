// Print (statement kind 9): "[obj.]Print item; item, Spc(n) Tab(n) ...".
//
//   offset  width  meaning
//   0       15     statement head (execnode.h); flag 4: no target object
//   15      4      the last separator (written after the last item)
//   19      4      offset of the separator table
//   23      4      offset of the item-kind table
//   27      4      offset of the first item expression
//   31      4      number of items n
//   35      ...    the target object expression, when there is one
//   ...     4n     the separator written before each item: 0 comma, 1
//                  semicolon, 2 none (printable.h)
//   ...     4n     the kind of each item: 1 Spc(n), 2 Tab(n), 3 a value
//   ...     ...    the n item expressions
//
// The sink is the target's (the sink its compiled part offers) or the
// host's current one (StoreApplication::GetCurrentPrintable). Each item's
// separator goes to the sink before the item is evaluated; Integer, Long,
// Single and Double values go in their own type, everything else as its
// string conversion; Spc and Tab pass their Integer value. The last
// separator ends the statement. A host that has no sink gets nothing, but
// the items are still evaluated.
#pragma once

#include <cstdint>
#include <vector>

#include "store/interp/compound.h"
#include "store/printable.h"

namespace tq {

class SourceControl;

class InterObjRep;

enum PrintItemKind : uint32_t {
    PRINT_SPC = 1,
    PRINT_TAB = 2,
    PRINT_VALUE = 3,
};

// One item, for the builder: the separator written before it, its kind and
// its expression.
struct PrintItem {
    PrintSeparator separator;
    PrintItemKind kind;
    ExprPtr expr;
};

class Print final : public ExecNode {
public:
    static constexpr uint32_t kTargetOffset = 35;
    enum : uint8_t { kNoTarget = 0x04 };

    static StmtPtr make(int32_t line, std::vector<PrintItem> items, PrintSeparator last,
                        ExprPtr target = nullptr);

    PrintSeparator lastSeparator() const { return static_cast<PrintSeparator>(LoadLE32(bytes() + 15)); }
    uint32_t itemCount() const { return LoadLE32(bytes() + 31); }
    const ExprNode* target() const { return (flags() & kNoTarget) ? nullptr : ExprAt(this, kTargetOffset); }
    PrintSeparator separator(uint32_t i) const {
        return static_cast<PrintSeparator>(LoadLE32(bytes() + LoadLE32(bytes() + 19) + 4 * i));
    }
    PrintItemKind itemKind(uint32_t i) const {
        return static_cast<PrintItemKind>(LoadLE32(bytes() + LoadLE32(bytes() + 23) + 4 * i));
    }
    const ExprNode* firstItem() const { return ExprAt(this, LoadLE32(bytes() + 27)); }

    void eval(Context& ctx) const;
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

    // The sink an object offers as a Print target, or null. Objects with
    // compiled parts install it; until then no object has a sink.
    using TargetSink = Printable* (*)(InterObjRep* obj);
    static inline TargetSink targetSink = nullptr;

private:
    explicit Print(int32_t line) : ExecNode(STMT_PRINT, line) {}
    uint8_t data_[kTargetOffset - kHeadSize];
};

static_assert(sizeof(Print) == Print::kTargetOffset, "a Print's head is 35 bytes");

}  // namespace tq
