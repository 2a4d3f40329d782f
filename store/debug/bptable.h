// BreakPointTable: the debugger's breakpoints, by procedure.
//
// A procedure's list is kept in descending order of line: a new breakpoint
// goes before the first entry with a smaller line, and finding the
// breakpoint of a line stops at the first entry whose line is smaller.
//
// The table owns its breakpoints; a removed one belongs to the caller.
// Nothing here raises.
#pragma once

#include <cstdint>
#include <vector>

#include "store/debug/procdict.h"

namespace tq {

class BreakPoint;

using BreakPointList = std::vector<BreakPoint*>;

class BreakPointTable {
public:
    BreakPointTable() = default;
    ~BreakPointTable();
    BreakPointTable(const BreakPointTable&) = delete;
    BreakPointTable& operator=(const BreakPointTable&) = delete;

    void add(BreakPoint* bp);
    // Takes bp out of its procedure's list; bp when it was there, else null.
    BreakPoint* remove(BreakPoint* bp);
    // Takes the breakpoint of proc at line out (returned, not freed); line
    // 0 removes and frees every breakpoint of proc and returns null.
    BreakPoint* remove(const InterProcField* proc, int32_t line);
    BreakPoint* find(const InterProcField* proc, int32_t line);
    const BreakPointList* list(const InterProcField* proc) { return dict_.find(proc); }
    // Moves old's breakpoints to now, which they then name.
    void remap(const InterProcField* old, InterProcField* now);
    bool isEmpty() const { return dict_.procedureCount() == 0; }
    // Every breakpoint, by procedure and then by descending line.
    std::vector<BreakPoint*> all() const;

private:
    ProcedureDictionary<BreakPointList> dict_;
};

}  // namespace tq
