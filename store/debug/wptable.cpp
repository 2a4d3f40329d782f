// The table of watchpoints.
#include "store/debug/wptable.h"

#include "store/debug/watchpt.h"

namespace tq {

using namespace stoplist;

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
