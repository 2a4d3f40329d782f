#include "platform/util/stackroom.h"

#include <pthread.h>

#include <cstdint>

namespace tq {
namespace {

// The lowest usable address of this thread's stack, 0 until asked; and the
// highest, kept for Bounds. Every frame the interpreter pushes asks, so they
// are reached at a fixed offset from the thread pointer rather than through
// the dynamic loader's look-up; the library is linked by its host, and a
// host that opens it later still finds these few bytes in the static
// reserve the loader keeps for that.
[[gnu::tls_model("initial-exec")]] thread_local const char* stackLow = nullptr;
[[gnu::tls_model("initial-exec")]] thread_local const char* stackHigh = nullptr;

void FindBounds() noexcept {
    const char* here = static_cast<const char*>(__builtin_frame_address(0));
    pthread_attr_t attr;
    void* addr = nullptr;
    std::size_t size = 0;
    bool known = false;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        known = pthread_attr_getstack(&attr, &addr, &size) == 0 && addr != nullptr && size != 0;
        // The guard area is part of what the system reports and is never
        // usable.
        std::size_t guard = 0;
        if (known && pthread_attr_getguardsize(&attr, &guard) == 0 && guard < size) {
            addr = static_cast<char*>(addr) + guard;
            size -= guard;
        }
        pthread_attr_destroy(&attr);
    }
    const char* low = static_cast<const char*>(addr);
    const char* high = known ? low + size : here;
    // No usable report (or one that does not hold the current frame, or an
    // absurd size from an unlimited resource limit): assume a stack of the
    // default size that ends just above the current frame's region.
    if (!known || here < low || here >= high || size > (std::size_t(1) << 34)) {
        high = known && here >= low && here < high ? high : here;
        low = high - StackRoom::kAssumedStackSize;
    }
    stackLow = low;
    stackHigh = high;
}

}  // namespace

std::size_t StackRoom::Remaining() noexcept {
    if (!stackLow) FindBounds();
    const char* here = static_cast<const char*>(__builtin_frame_address(0));
    return here > stackLow ? static_cast<std::size_t>(here - stackLow) : 0;
}

void StackRoom::Bounds(const char*& low, const char*& high) noexcept {
    if (!stackLow) FindBounds();
    low = stackLow;
    high = stackHigh;
}

}  // namespace tq
