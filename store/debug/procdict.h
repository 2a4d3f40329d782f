// ProcedureDictionary: the stop-point tables' map from procedure to list.
//
// The procedure's address (shifted right by 2, the low bits of an aligned
// address carry nothing) picks one of 64 buckets; a bucket holds the few
// procedures that share it. The check before a statement looks up the
// running procedure, so a procedure without stop points costs one bucket
// scan.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tq {

class InterProcField;

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

// What both tables do with their lists.
namespace stoplist {

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

// Moves the list of old to now and makes its stop points name now; add
// puts each into its new list (a procedure remapped onto one with stop
// points of its own joins them).
template <class Dict, class Add>
void Remap(Dict& dict, const InterProcField* old, InterProcField* now, Add add) {
    if (!old || !now || old == now || !dict.find(old)) return;
    auto moved = dict.take(old);
    for (auto* p : moved) {
        p->setProc(now);
        add(p);
    }
}

}  // namespace stoplist

}  // namespace tq
