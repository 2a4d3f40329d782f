// StackRoom: how much of the calling thread's native stack is still free.
//
// The interpreter recurses on the native stack (a procedure calling itself
// runs its statements inside the call), so the only sound limit on
// recursion is the room that is left. A thread's stack bounds are asked of
// the system once per thread and kept; afterwards a check is one thread-local
// read and a comparison with the current frame address.
//
// The main thread's stack grows on demand up to its resource limit; the
// system reports that limit as the stack's size. Its bounds are worked out
// from the limit and the start-up facts the process keeps, which give the
// same bounds as the system's report without that report's read of the
// whole memory map. Where the system reports
// no usable size (an unlimited limit), a limit of kAssumedStackSize below
// the highest address of the stack is assumed, so that a check always has
// a bound.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tq {

class StackRoom {
public:
    static constexpr std::size_t kAssumedStackSize = std::size_t(8) << 20;

    // Bytes between the caller's frame and the lowest usable address of the
    // calling thread's stack (0 when the frame is already below it).
    static std::size_t Remaining() noexcept;

    // Whether fewer than reserve bytes are left below the caller's frame:
    // Remaining() < reserve, inline once the thread's bounds are known,
    // for checks made on every call of interpreted code.
    [[gnu::always_inline]] static bool Short(std::size_t reserve) noexcept {
        const auto low = reinterpret_cast<std::uintptr_t>(low_);
        if (!low) [[unlikely]]
            return Remaining() < reserve;
        const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        return here < low || here - low < reserve;
    }

    // The usable bounds of the calling thread's stack, [low, high).
    static void Bounds(const char*& low, const char*& high) noexcept;

private:
    static void FindBounds() noexcept;

    // The lowest usable address of this thread's stack, null until asked.
    // Every frame the interpreter pushes reads it, so it is reached at a
    // fixed offset from the thread pointer rather than through the dynamic
    // loader's look-up; the library is linked by its host, and a host that
    // opens it later still finds these few bytes in the static reserve the
    // loader keeps for that.
    [[gnu::tls_model("initial-exec")]] static constinit thread_local const char* low_;
};

}  // namespace tq
