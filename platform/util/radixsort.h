// RadixSort: a stable sort of unsigned words by a range of their bits.
//
// Opening a module sorts lists of a hundred thousand places (record offsets
// packed with an entry number) that are nearly in order already; a
// comparison sort spends hundreds of instructions a word on them, this a
// few per byte sorted on, whatever the order.
#pragma once

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

}  // namespace tq
