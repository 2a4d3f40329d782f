// RadixSort: a stable sort of unsigned words by a range of their bits.
//
// Opening a module sorts lists of a hundred thousand places (record offsets
// packed with an entry number) that are nearly in order already; a
// comparison sort spends hundreds of instructions a word on them, this a
// few per byte sorted on, whatever the order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace tq {

// Sorts v by bits [fromBit, toBit) of each word, least significant byte
// first; words equal in those bits keep their order. fromBit and toBit are
// multiples of 8.
template <class T>
void RadixSort(std::vector<T>& v, unsigned fromBit = 0, unsigned toBit = sizeof(T) * 8) {
    static_assert(std::is_unsigned_v<T>, "RadixSort sorts unsigned words");
    std::vector<T> out(v.size());
    for (unsigned shift = fromBit; shift < toBit; shift += 8) {
        size_t start[257] = {};
        for (T x : v) ++start[((x >> shift) & 0xFF) + 1];
        for (size_t b = 0; b < 256; ++b) start[b + 1] += start[b];
        for (T x : v) out[start[(x >> shift) & 0xFF]++] = x;
        v.swap(out);
    }
}

// The order RadixSort gives, for a list that is nearly in order already (a
// few words out of place, as a prototype whose name sorts last but whose
// record comes first): an insertion sort while it moves few words, and the
// radix sort once it would move many. A list in reverse order is turned
// round first (a list kept newest first).
template <class T>
void SortNearlyInOrder(std::vector<T>& v, unsigned fromBit = 0, unsigned toBit = sizeof(T) * 8) {
    static_assert(std::is_unsigned_v<T>, "SortNearlyInOrder sorts unsigned words");
    const unsigned width = toBit - fromBit;
    const T mask = width >= sizeof(T) * 8 ? ~T(0) : static_cast<T>((T(1) << width) - 1);
    auto key = [fromBit, mask](T x) { return static_cast<T>((x >> fromBit) & mask); };
    auto before = [&key](T a, T b) { return key(a) < key(b); };
    if (std::is_sorted(v.begin(), v.end(), before)) return;
    // Turned round only when strictly descending, so that words of one key
    // keep their order.
    if (std::adjacent_find(v.begin(), v.end(), [&key](T a, T b) { return key(a) <= key(b); }) == v.end()) {
        std::reverse(v.begin(), v.end());
        return;
    }
    size_t budget = 4 * v.size() + 64;
    for (size_t i = 1; i < v.size(); ++i) {
        const T x = v[i];
        size_t j = i;
        for (; j > 0 && key(x) < key(v[j - 1]); --j) {
            if (budget-- == 0) {
                // x has passed only words of a greater key: with it put back
                // the list is whole again, and the stable radix sort keeps
                // the order of words of one key.
                v[j] = x;
                RadixSort(v, fromBit, toBit);
                return;
            }
            v[j] = v[j - 1];
        }
        v[j] = x;
    }
}

}  // namespace tq
