// The tables of breakpoints and watchpoints.
#include "store/debug/bptable.h"

#include <algorithm>

#include "store/debug/stoppoint.h"
#include "store/debug/watchpt.h"

namespace tq {

namespace {

template <class List, class T>
bool Erase(List& list, T* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

template <class List>
void FreeAll(const List& list) {
    for (auto* p : list) delete p;
}

// Moves the list of old to now and makes its stop points name now. A
// list that now already has (a procedure remapped onto one with stop
// points of its own) is joined to it.
template <class Dict, class Add>
void Remap(Dict& dict, const InterProcField* old, InterProcField* now, Add add) {
    if (!old || !now || old == now || !dict.find(old)) return;
    auto moved = dict.take(old);
    for (auto* p : moved) {
        p->setProc(now);
        add(p);
    }
}

}  // namespace

// ---- breakpoints -------------------------------------------------------------------------

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

// ---- watchpoints -------------------------------------------------------------------------

WatchPointTable::~WatchPointTable() {
    dict_.forEach([](const InterProcField*, const WatchPointList& l) { FreeAll(l); });
    FreeAll(globals_);
}

void WatchPointTable::add(WatchPoint* wp) {
    if (!wp->proc())
        globals_.push_back(wp);
    else
        dict_.add(wp->proc()).push_back(wp);
}

WatchPoint* WatchPointTable::remove(WatchPoint* wp) {
    if (!wp->proc()) return Erase(globals_, wp) ? wp : nullptr;
    WatchPointList* l = dict_.find(wp->proc());
    if (!l || !Erase(*l, wp)) return nullptr;
    if (l->empty()) dict_.erase(wp->proc());
    return wp;
}

void WatchPointTable::remove(const InterProcField* proc) {
    if (!proc) {
        FreeAll(globals_);
        globals_.clear();
        return;
    }
    FreeAll(dict_.take(proc));
}

void WatchPointTable::remap(const InterProcField* old, InterProcField* now) {
    Remap(dict_, old, now, [this](WatchPoint* wp) { add(wp); });
}

std::vector<WatchPoint*> WatchPointTable::all() const {
    std::vector<WatchPoint*> out(globals_.begin(), globals_.end());
    dict_.forEach([&out](const InterProcField*, const WatchPointList& l) { out.insert(out.end(), l.begin(), l.end()); });
    return out;
}

}  // namespace tq
