#include "platform/util/stackroom.h"

#include <pthread.h>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#if defined(__GLIBC__)
// Where the C library found the main thread's stack to end at start-up.
extern "C" void* __libc_stack_end;
#endif

namespace tq {

constinit thread_local const char* StackRoom::low_ = nullptr;

namespace {

// The highest usable address of this thread's stack, kept for Bounds (the
// lowest is StackRoom::low_).
[[gnu::tls_model("initial-exec")]] thread_local const char* stackHigh = nullptr;

// The main thread's bounds from what the process was started with, without
// the system's general report: for the main thread that report reads the
// whole memory map of the process, which is a large share of a short
// program's start-up. The bounds are the report's own:
//  - high: the page just above where the C library found the stack's end
//    at start-up (__libc_stack_end);
//  - low: the stack's resource limit below the top of the stack's mapping.
//    That top is the end of the page that holds the executable's file name,
//    the first text the system places at the very top of a new stack
//    (AT_EXECFN).
// False, with nothing set, where the process gives no such facts, the
// resource limit is unlimited or absurd, or the current frame lies outside
// the bounds found (this is no main thread): the general report decides.
bool MainThreadBounds(const char* here, const char*& low, const char*& high) noexcept {
#if defined(__GLIBC__)
    if (static_cast<pid_t>(syscall(SYS_gettid)) != getpid()) return false;
    const auto* fileName = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    const long pageSize = sysconf(_SC_PAGESIZE);
    rlimit limit{};
    if (!fileName || !__libc_stack_end || pageSize <= 0 || getrlimit(RLIMIT_STACK, &limit) != 0 ||
        limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > (rlim_t(1) << 34))
        return false;
    const auto page = static_cast<std::uintptr_t>(pageSize);
    const auto fileNameEnd = reinterpret_cast<std::uintptr_t>(fileName) + std::strlen(fileName) + 1;
    const std::uintptr_t top = (fileNameEnd + page - 1) & ~(page - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(__libc_stack_end) & ~(page - 1)) + page;
    if (end > top || limit.rlim_cur >= top) return false;
    const char* l = reinterpret_cast<const char*>(top - limit.rlim_cur);
    const char* h = reinterpret_cast<const char*>(end);
    if (here < l || here >= h) return false;
    low = l;
    high = h;
    return true;
#else
    (void)here;
    (void)low;
    (void)high;
    return false;
#endif
}

}  // namespace

void StackRoom::FindBounds() noexcept {
    const char* here = static_cast<const char*>(__builtin_frame_address(0));
    const char* low = nullptr;
    const char* high = nullptr;
    if (MainThreadBounds(here, low, high)) {
        low_ = low;
        stackHigh = high;
        return;
    }
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
    low = static_cast<const char*>(addr);
    high = known ? low + size : here;
    // No usable report (or one that does not hold the current frame, or an
    // absurd size from an unlimited resource limit): assume a stack of the
    // default size that ends just above the current frame's region.
    if (!known || here < low || here >= high || size > (std::size_t(1) << 34)) {
        high = known && here >= low && here < high ? high : here;
        low = high - StackRoom::kAssumedStackSize;
    }
    low_ = low;
    stackHigh = high;
}

std::size_t StackRoom::Remaining() noexcept {
    if (!low_) FindBounds();
    const char* here = static_cast<const char*>(__builtin_frame_address(0));
    return here > low_ ? static_cast<std::size_t>(here - low_) : 0;
}

void StackRoom::Bounds(const char*& low, const char*& high) noexcept {
    if (!low_) FindBounds();
    low = low_;
    high = stackHigh;
}

}  // namespace tq
