// The debugger's tables of stop points, keyed by procedure.
//
// Both tables hash the procedure's address (shifted right by 2, the low
// bits of an aligned address carry nothing) into 64 buckets; a bucket
// holds the few procedures that share it. The check before a statement
// looks up the running procedure, so a procedure without stop points
// costs one bucket scan.
//
// A breakpoint list is kept in descending order of line: a new breakpoint
// goes before the first entry with a smaller line, and finding the
// breakpoint of a line stops at the first entry whose line is smaller.
//
// The tables own their stop points; a removed stop point belongs to the
// caller. Nothing here raises.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tq {

class BreakPoint;
class InterProcField;
class WatchPoint;

using BreakPointList = std::vector<BreakPoint*>;
using WatchPointList = std::vector<WatchPoint*>;

// Procedure -> list of its stop points, for either kind.
template <class List>
class ProcedureDictionary {
public:
    static constexpr size_t kBuckets = 64;

    List* find(const InterProcField* proc) {
        for (auto& e : bucket(proc))
            if (e.first == proc) return &e.second;
        return nullptr;
    }
    // Drops proc's entry (its list must already be empty or handed on).
    void erase(const InterProcField* proc) {
        auto& b = bucket(proc);
        for (size_t i = 0; i < b.size(); ++i)
            if (b[i].first == proc) {
                b.erase(b.begin() + static_cast<std::ptrdiff_t>(i));
                --count_;
                return;
            }
    }
    // Takes proc's list out of the dictionary.
    List take(const InterProcField* proc) {
        List out;
        if (List* l = find(proc)) out = std::move(*l);
        erase(proc);
        return out;
    }
    // proc's list, made empty when it has none.
    List& add(InterProcField* proc) {
        if (List* l = find(proc)) return *l;
        ++count_;
        return bucket(proc).emplace_back(proc, List()).second;
    }
    size_t procedureCount() const { return count_; }
    template <class F>
    void forEach(F f) const {
        for (const auto& b : buckets_)
            for (const auto& e : b) f(e.first, e.second);
    }

private:
    using Bucket = std::vector<std::pair<InterProcField*, List>>;
    Bucket& bucket(const InterProcField* proc) {
        return buckets_[(reinterpret_cast<uintptr_t>(proc) >> 2) & (kBuckets - 1)];
    }
    std::array<Bucket, kBuckets> buckets_;
    size_t count_ = 0;
};

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
