// RefList<T, Kind>: an ordered list of fault pointers that are all of one
// kind (primary, counted, uncounted indirect or counted indirect).
//
// The lists of the object model hold references, not things: a signature's
// objects and child signatures, a module's dynamic and preload objects, the
// members of a group. Each entry is a Faultp<T> of the list's kind, so an
// entry that was read from a file stays a descriptor until it is followed,
// and an uncounted indirect entry reads null once its thing is gone.
//
// A Faultp is five plain bytes whose meaning does not depend on where they
// lie (object data blocks move them with memcpy for the same reason), so
// the list keeps entries as byte slots in a deque and moves them as bytes:
// adding at either end is O(1) and never resolves, counts or copies a
// reference. Removal shifts the slots on the shorter side of the entry.
//
// Entries read from a file (appendDescriptor) are kept apart, in one
// array behind the deque, until the list is first reshaped behind its front
// (append, insertion or removal there, moveToEnd, removeIf), which moves them
// to the deque's end: a signature read with a hundred thousand objects costs
// one allocation and no per-entry work beyond the copy of its bytes, and
// giving it up again one pass over one array. Only prepend, which most of
// the model's changes are (a new clone goes in front), leaves them apart.
//
// A search runs from both ends at once. The entries a program adds and
// drops most (the newest and the oldest: objects made in a loop and
// released in that order or the reverse) lie near an end, so finding one
// costs no more than the removal that follows it, and making and releasing
// n objects stays linear. A search that finds nothing reads every entry:
// callers that often ask about things that are not listed keep their own
// record of membership and ask only when it says the thing may be there.
//
// Invariants:
//  1. Every slot in [0, length()) holds a live Faultp<T> of kind Kind; the
//     list constructs each on entry and destroys it on removal.
//  2. The lists of the model name each thing at most once (their owners
//     check before adding, and files that list a thing twice are refused),
//     so the entry a two-ended search finds is the entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <new>
#include <type_traits>
#include <vector>

#include "store/faultp.h"

namespace tq {

// The tag of the direct counted kind, which Faultp makes by default.
struct tCountedReference {};
inline constexpr tCountedReference CountedReference{};

template <class T, class Kind>
class RefList {
public:
    RefList() = default;
    ~RefList() { clear(); }
    RefList(const RefList&) = delete;
    RefList& operator=(const RefList&) = delete;

    size_t length() const { return slots_.size() + stored_.size(); }
    bool empty() const { return slots_.empty() && stored_.empty(); }

    Faultp<T>& operator[](size_t i) { return *ref(slotAt(i)); }
    const Faultp<T>& operator[](size_t i) const { return *ref(const_cast<RefList*>(this)->slotAt(i)); }
    Faultp<T>& first() { return (*this)[0]; }
    Faultp<T>& last() { return (*this)[length() - 1]; }

    void prepend(T* p) {
        Slot s;
        make(s, p);
        place([&] { slots_.push_front(s); }, s);
    }
    void append(T* p) {
        Slot s;
        make(s, p);
        place(
            [&] {
                spillStored();
                slots_.push_back(s);
            },
            s);
    }
    void insertAt(size_t i, T* p) {
        Slot s;
        make(s, p);
        place(
            [&] {
                if (i > slots_.size()) spillStored();
                slots_.insert(slots_.begin() + static_cast<ptrdiff_t>(i), s);
            },
            s);
    }
    // An entry that names d and has not been followed (as read from a file),
    // at the end. References to entries read so far do not stay valid.
    void appendDescriptor(tDescriptor d) {
        Slot s;
        new (s.bytes) Faultp<T>(d, KindFlags());
        stored_.push_back(s);
    }
    // Room for n more entries read from a file.
    void reserveDescriptors(size_t n) { stored_.reserve(stored_.size() + n); }
    // Gives up the entries read from a file that are still kept apart: a
    // reading that failed part-way leaves the list as it was before it.
    void discardStored() {
        for (Slot& s : stored_) ref(s)->~Faultp<T>();
        std::vector<Slot>().swap(stored_);
    }

    // The position of the entry that reaches p, or -1. Entries that are
    // still descriptors are compared by descriptor and never followed: a
    // thing of a module has exactly one.
    ptrdiff_t indexOf(const T* p) const {
        if (!p) return -1;
        const tDescriptor d = p->descriptor();
        const auto reaches = [&](size_t i) {
            const Faultp<T>& r = (*this)[i];
            return r.isDescriptor() ? (!d.isDetached() && r.descriptor() == d) : r.get() == p;
        };
        for (size_t lo = 0, hi = length(); lo < hi;) {
            if (reaches(lo)) return static_cast<ptrdiff_t>(lo);
            ++lo;
            if (lo == hi) break;
            --hi;
            if (reaches(hi)) return static_cast<ptrdiff_t>(hi);
        }
        return -1;
    }
    bool contains(const T* p) const { return indexOf(p) >= 0; }

    void removeAt(size_t i) {
        if (i >= slots_.size()) spillStored();
        ref(slots_[i])->~Faultp<T>();
        slots_.erase(slots_.begin() + static_cast<ptrdiff_t>(i));
    }
    // Removes the entry of p; false when there is none.
    bool remove(const T* p) {
        const ptrdiff_t i = indexOf(p);
        if (i < 0) return false;
        removeAt(static_cast<size_t>(i));
        return true;
    }
    // Removes every entry for which pred(entry) is true, in one pass;
    // returns how many went. pred must not change the list.
    template <class Pred>
    size_t removeIf(Pred&& pred) {
        spillStored();
        size_t kept = 0;
        const size_t n = slots_.size();
        for (size_t i = 0; i < n; ++i) {
            if (pred(*ref(slots_[i]))) {
                ref(slots_[i])->~Faultp<T>();
                continue;
            }
            if (kept != i) slots_[kept] = slots_[i];
            ++kept;
        }
        slots_.resize(kept);
        return n - kept;
    }
    // Moves the entry at `from` to the end, as bytes.
    void moveToEnd(size_t from) {
        spillStored();
        const Slot s = slots_[from];
        slots_.erase(slots_.begin() + static_cast<ptrdiff_t>(from));
        slots_.push_back(s);
    }

    // Calls f(thing) for every entry that has been followed (is no longer a
    // descriptor) and reaches a thing, in list order. The walks of an unload
    // look only at such entries: one that was never followed names a thing
    // of the list owner's module by its record. A signature read with a
    // hundred thousand objects is so walked with one test of a flags byte
    // per entry. f must not change the list.
    template <class F>
    void forEachFollowed(F&& f) {
        const auto visit = [&f](Slot& s) {
            Faultp<T>* r = ref(s);
            if (r->isDescriptor()) return;
            if (T* thing = r->get()) f(thing);
        };
        for (Slot& s : slots_) visit(s);
        for (Slot& s : stored_) visit(s);
    }

    void clear() {
        discardStored();
        while (!slots_.empty()) {
            ref(slots_.back())->~Faultp<T>();
            slots_.pop_back();
        }
    }

private:
    struct Slot {
        uint8_t bytes[sizeof(Faultp<T>)];
    };
    static_assert(sizeof(Faultp<T>) == 5, "a reference is five bytes");

    static Faultp<T>* ref(Slot& s) { return std::launder(reinterpret_cast<Faultp<T>*>(s.bytes)); }

    Slot& slotAt(size_t i) { return i < slots_.size() ? slots_[i] : stored_[i - slots_.size()]; }

    // Moves the entries read from a file to the deque's end, as bytes; when
    // that fails for want of memory the list is as it was.
    void spillStored() {
        if (stored_.empty()) return;
        const size_t before = slots_.size();
        try {
            for (const Slot& s : stored_) slots_.push_back(s);
        } catch (...) {
            slots_.resize(before);
            throw;
        }
        std::vector<Slot>().swap(stored_);
    }

    static uint8_t KindFlags() {
        if constexpr (std::is_same_v<Kind, tPrimaryReference>) return 0;
        else if constexpr (std::is_same_v<Kind, tUncountedIndirectReference>) return Faultp<T>::kIndirect;
        else if constexpr (std::is_same_v<Kind, tIndirectReference>)
            return Faultp<T>::kIndirect | Faultp<T>::kCounted;
        else return Faultp<T>::kCounted;
    }

    // Puts a made entry into the deque; when that fails, the entry is
    // destroyed again so its count does not leak.
    template <class Push>
    static void place(Push&& push, Slot& s) {
        try {
            push();
        } catch (...) {
            ref(s)->~Faultp<T>();
            throw;
        }
    }

    static void make(Slot& s, T* p) {
        if constexpr (std::is_same_v<Kind, tCountedReference>)
            new (s.bytes) Faultp<T>(p);
        else
            new (s.bytes) Faultp<T>(Kind{}, p);
    }

    std::deque<Slot> slots_;
    // Entries read from a file, behind those of the deque.
    std::vector<Slot> stored_;
};

}  // namespace tq
