// WatchPointTable: the debugger's watchpoints, by procedure, and the
// global ones (no procedure) in a list of their own.
//
// The table owns its watchpoints; a removed one belongs to the caller.
// Nothing here raises.
#pragma once

#include <vector>

#include "store/debug/procdict.h"

namespace tq {

class WatchPoint;

using WatchPointList = std::vector<WatchPoint*>;

class WatchPointTable {
public:
    WatchPointTable() { globals_.reserve(64); }
    ~WatchPointTable();
    WatchPointTable(const WatchPointTable&) = delete;
    WatchPointTable& operator=(const WatchPointTable&) = delete;

    // A watchpoint without a procedure goes to the global list.
    void add(WatchPoint* wp);
    // Takes wp out; wp when it was there, else null.
    WatchPoint* remove(WatchPoint* wp);
    // Removes and frees every watchpoint of proc; a null proc means the
    // global ones.
    void remove(const InterProcField* proc);
    const WatchPointList* list(const InterProcField* proc) { return dict_.find(proc); }
    const WatchPointList& globals() const { return globals_; }
    void remap(const InterProcField* old, InterProcField* now);
    bool isEmpty() const { return dict_.procedureCount() == 0 && globals_.empty(); }
    std::vector<WatchPoint*> all() const;

private:
    ProcedureDictionary<WatchPointList> dict_;
    WatchPointList globals_;
};

}  // namespace tq
