// MessageLoop: the thread's timers and the wait for them.
//
// The system's timers are periodic timers of the thread that runs the
// interpreter: a timer is set with an interval and a procedure, and the
// procedure is called with the timer's id from that thread's message loop
// whenever the interval has passed. Here the loop is one timerfd (on the
// monotonic clock) armed at the earliest due time of a timer queue, and a
// poll() on it. Nothing runs behind the program's back: procedures are
// called only from Dispatch, which the host calls (StoreApplication::
// PumpMessages, or its own loop).
//
// A host with a loop of its own (GLib, Qt, libuv, an editor's main loop)
// receives the timers by watching Fd() for readability (g_unix_fd_add,
// QSocketNotifier, uv_poll_start) and calling Dispatch (or PumpMessages)
// when it becomes readable; it never has to call Wait. The descriptor stays
// the same for the life of the process.
//
// Invariants:
//  1. Ids are never 0 and never given out twice in a process, so a stale id
//     names no timer rather than another one.
//  2. A timer is called at most once per Dispatch, and its next due time is
//     set before its procedure runs: a procedure that dispatches again (a
//     nested loop) or sets and kills timers, its own included, is safe.
//  3. Ticks that were missed (the thread was busy for longer than an
//     interval) are dropped, not queued: a late timer fires once and then
//     keeps its period from the time it fired.
//  4. The descriptor turns readable at most a millisecond after the
//     earliest due time (the slack lets timers that fall due together be
//     served in one wake) and stays so until Dispatch runs. A timer never
//     runs before it is due.
//
// One thread: the queue is a plain global; procedures run on the thread
// that calls Dispatch.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tq {

class MessageLoop {
public:
    using TimerProc = void (*)(uint32_t id);

    // The longest interval, in milliseconds (about 24.8 days).
    static constexpr uint32_t kMaxInterval = 0x7FFFFFFF;

    // Starts a periodic timer; proc(id) is called each time intervalMs
    // (1 to kMaxInterval) has passed. The id, or 0 when the interval is out
    // of range or the system gives no timer descriptor.
    static uint32_t SetTimer(uint32_t intervalMs, TimerProc proc);
    // Stops the timer; false when id names none.
    static bool KillTimer(uint32_t id);
    // The timers set and not killed.
    static size_t TimerCount();

    // Calls the procedure of every timer that is due now; never waits.
    // The number of procedures called.
    static int Dispatch();
    // Waits until a timer is due, at most timeoutMs (-1: no limit) and not
    // past a signal (EINTR ends the wait). True when a timer is due. With
    // no timer set it waits only for the timeout or a signal.
    static bool Wait(int timeoutMs);
    // Milliseconds until the next timer is due (0 when one is due now), or
    // -1 when no timer is set.
    static int64_t MillisecondsToNextDue();
    // The descriptor a host's own loop watches; -1 when the system gave
    // none (then no timer can be set either).
    static int Fd();
};

}  // namespace tq
