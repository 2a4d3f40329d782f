// The sort by a range of bits agrees with a stable comparison sort of the
// same words on that range, whatever order the words come in; so does the
// sort for lists nearly in order.
#include "platform/util/radixsort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace tq {
namespace {

TEST(RadixSort, SortsByTheBitsAskedForAndKeepsTheOrderOfEqualOnes) {
    std::mt19937_64 rng(7);
    const std::vector<size_t> sizes = {0, 1, 2, 300, 5000};
    for (size_t n : sizes) {
        for (int shape = 0; shape < 3; ++shape) {
            std::vector<uint64_t> v(n);
            for (size_t i = 0; i < n; ++i) {
                // Few distinct high words, so that ties are many; the low
                // word tells each word's first place.
                const uint64_t high = shape == 0 ? rng() % 50 : shape == 1 ? n - i : i / 3;
                v[i] = high << 32 | static_cast<uint32_t>(i);
            }
            std::vector<uint64_t> expected = v;
            std::stable_sort(expected.begin(), expected.end(),
                             [](uint64_t a, uint64_t b) { return (a >> 32) < (b >> 32); });
            RadixSort(v, 32, 64);
            EXPECT_EQ(v, expected) << n << " words, shape " << shape;
        }
    }
    std::vector<uint32_t> small = {0x30201, 0x10203, 0x20000, 0x10203, 0};
    RadixSort(small, 0, 24);
    EXPECT_EQ(small, (std::vector<uint32_t>{0, 0x10203, 0x10203, 0x20000, 0x30201}));
}

// The insertion sort for lists nearly in order must give what the radix
// sort gives for any list: also when it gives up half way and hands over a
// list it has partly moved.
TEST(SortNearlyInOrder, GivesTheRadixSortsOrderForEveryShape) {
    std::mt19937_64 rng(11);
    struct Shape {
        const char* name;
        uint64_t (*high)(size_t i, size_t n, std::mt19937_64& rng);
    };
    const Shape shapes[] = {
        {"in order", [](size_t i, size_t, std::mt19937_64&) -> uint64_t { return i; }},
        {"last comes first", [](size_t i, size_t n, std::mt19937_64&) -> uint64_t { return i + 1 == n ? 0 : i + 1; }},
        {"strictly descending", [](size_t i, size_t n, std::mt19937_64&) -> uint64_t { return n - i; }},
        {"descending with ties", [](size_t i, size_t n, std::mt19937_64&) -> uint64_t { return (n - i) / 2; }},
        {"a few out of place", [](size_t i, size_t, std::mt19937_64& r) -> uint64_t { return r() % 64 ? i : i / 2; }},
        {"random", [](size_t, size_t, std::mt19937_64& r) -> uint64_t { return r() % 1000; }},
    };
    for (size_t n : {0, 1, 2, 300, 5000}) {
        for (const Shape& shape : shapes) {
            std::vector<uint64_t> v(n);
            for (size_t i = 0; i < n; ++i) v[i] = shape.high(i, n, rng) << 32 | static_cast<uint32_t>(i);
            std::vector<uint64_t> expected = v;
            RadixSort(expected, 32, 64);
            SortNearlyInOrder(v, 32, 64);
            EXPECT_EQ(v, expected) << n << " words, " << shape.name;
        }
    }
    std::vector<uint32_t> small = {0x30201, 0x10203, 0x20000, 0x10203, 0};
    SortNearlyInOrder(small, 0, 24);
    EXPECT_EQ(small, (std::vector<uint32_t>{0, 0x10203, 0x10203, 0x20000, 0x30201}));
}

}  // namespace
}  // namespace tq
