// The table of breakpoints.
#include "store/debug/bptable.h"

#include <algorithm>

#include "store/debug/brkpoint.h"

namespace tq {

using namespace stoplist;

BreakPointTable::~BreakPointTable() {
    dict_.forEach([](const InterProcField*, const BreakPointList& l) { FreeAll(l); });
}

void BreakPointTable::add(BreakPoint* bp) {
    BreakPointList& l = dict_.add(bp->proc());
    auto at = std::find_if(l.begin(), l.end(), [bp](const BreakPoint* e) { return e->line() < bp->line(); });
    l.insert(at, bp);
}

BreakPoint* BreakPointTable::remove(BreakPoint* bp) {
    BreakPointList* l = dict_.find(bp->proc());
    if (!l || !Erase(*l, bp)) return nullptr;
    if (l->empty()) dict_.erase(bp->proc());
    return bp;
}

BreakPoint* BreakPointTable::remove(const InterProcField* proc, int32_t line) {
    if (line == 0) {
        FreeAll(dict_.take(proc));
        return nullptr;
    }
    BreakPoint* bp = find(proc, line);
    return bp ? remove(bp) : nullptr;
}

BreakPoint* BreakPointTable::find(const InterProcField* proc, int32_t line) {
    const BreakPointList* l = dict_.find(proc);
    if (!l) return nullptr;
    for (BreakPoint* bp : *l) {
        if (bp->line() == line) return bp;
        if (bp->line() < line) break;
    }
    return nullptr;
}

void BreakPointTable::remap(const InterProcField* old, InterProcField* now) {
    Remap(dict_, old, now, [this](BreakPoint* bp) { add(bp); });
}

std::vector<BreakPoint*> BreakPointTable::all() const {
    std::vector<BreakPoint*> out;
    dict_.forEach([&out](const InterProcField*, const BreakPointList& l) { out.insert(out.end(), l.begin(), l.end()); });
    return out;
}

}  // namespace tq
