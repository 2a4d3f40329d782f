#include "bench/support/alloccount.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<uint64_t> allocations{0};

}  // namespace

uint64_t tq::bench::Allocations() { return allocations.load(std::memory_order_relaxed); }

// Counting replacements of the global allocation functions. Every plain,
// array and nothrow form is replaced, so that whatever a delete frees came
// from malloc here (the standard library's nothrow new, used by
// std::stable_sort, otherwise pairs the runtime's new with our free, which
// AddressSanitizer reports). The aligned forms stay the runtime's own; they
// pair among themselves. g++ cannot see that these pair malloc with free and
// warns at every inlined delete.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {

void* Counted(std::size_t n) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n ? n : 1);
}

}  // namespace

void* operator new(std::size_t n) {
    if (void* p = Counted(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Counted(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Counted(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop
