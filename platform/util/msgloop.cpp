#include "platform/util/msgloop.h"

#include <cerrno>
#include <ctime>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace tq {

namespace {

constexpr int64_t kNsPerMs = 1000000;
// How late the descriptor may fire to take several timers in one wake:
// timers set together (a thousand objects made in a loop) fall due a few
// microseconds apart, and one wake for each would cost more than their
// Timeouts. A timer is never early; it is at most this much later.
constexpr int64_t kSlack = kNsPerMs;

struct Timer {
    int64_t interval;  // nanoseconds
    int64_t due;       // monotonic nanoseconds
    MessageLoop::TimerProc proc;
};

// The queue: every timer once in `timers`, and once in `order` under its
// due time. Never destroyed, like the thread's message queue: a host may
// kill a timer from a static destructor.
struct Queue {
    std::unordered_map<uint32_t, Timer> timers;
    std::set<std::pair<int64_t, uint32_t>> order;
    uint32_t lastId = 0;
    int fd = -2;  // -2: not made yet; -1: the system gave none
};

Queue& TheQueue() {
    static Queue* const q = new Queue;
    return *q;
}

int64_t Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int Descriptor() {
    Queue& q = TheQueue();
    if (q.fd == -2) {
        q.fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (q.fd < 0) q.fd = -1;
    }
    return q.fd;
}

// Arms the descriptor at the earliest due time and the slack (a time
// already past expires at once), or disarms it when no timer is set.
void Arm() {
    Queue& q = TheQueue();
    if (q.fd < 0) return;
    itimerspec when{};
    if (!q.order.empty()) {
        const int64_t due = q.order.begin()->first + kSlack;
        when.it_value.tv_sec = due / 1000000000;
        when.it_value.tv_nsec = due % 1000000000;
        // An all-zero value would disarm it.
        if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    }
    timerfd_settime(q.fd, TFD_TIMER_ABSTIME, &when, nullptr);
}

// Takes the expiry count, so that the descriptor reads as not ready until
// it fires again.
void Drain() {
    const int fd = TheQueue().fd;
    if (fd < 0) return;
    uint64_t expiries = 0;
    while (read(fd, &expiries, sizeof expiries) < 0 && errno == EINTR) {
    }
}

}  // namespace

uint32_t MessageLoop::SetTimer(uint32_t intervalMs, TimerProc proc) {
    if (intervalMs == 0 || intervalMs > kMaxInterval || !proc) return 0;
    if (Descriptor() < 0) return 0;
    Queue& q = TheQueue();
    uint32_t id = ++q.lastId;
    // 2^32 timers in one process: skip 0 and any id still in use.
    while (id == 0 || q.timers.count(id)) id = ++q.lastId;
    const int64_t interval = static_cast<int64_t>(intervalMs) * kNsPerMs;
    const int64_t due = Now() + interval;
    q.timers.emplace(id, Timer{interval, due, proc});
    q.order.emplace(due, id);
    Arm();
    return id;
}

bool MessageLoop::KillTimer(uint32_t id) {
    Queue& q = TheQueue();
    const auto it = q.timers.find(id);
    if (it == q.timers.end()) return false;
    q.order.erase({it->second.due, id});
    q.timers.erase(it);
    Arm();
    return true;
}

size_t MessageLoop::TimerCount() { return TheQueue().timers.size(); }

int MessageLoop::Dispatch() {
    Queue& q = TheQueue();
    if (q.timers.empty()) return 0;
    Drain();
    const int64_t now = Now();
    // Every due timer is moved to its next due time first (invariants 2
    // and 3); only then do procedures run, since they may change the queue.
    std::vector<uint32_t> due;
    while (!q.order.empty() && q.order.begin()->first <= now) {
        const uint32_t id = q.order.begin()->second;
        q.order.erase(q.order.begin());
        Timer& t = q.timers.at(id);
        int64_t next = t.due + t.interval;
        if (next <= now) next = now + t.interval;
        t.due = next;
        q.order.emplace(next, id);
        due.push_back(id);
    }
    Arm();
    int called = 0;
    for (const uint32_t id : due) {
        // A procedure before this one may have killed it.
        const auto it = q.timers.find(id);
        if (it == q.timers.end()) continue;
        ++called;
        it->second.proc(id);
    }
    return called;
}

bool MessageLoop::Wait(int timeoutMs) {
    const int fd = Descriptor();
    pollfd p{fd, POLLIN, 0};
    const int n = fd < 0 ? poll(nullptr, 0, timeoutMs) : poll(&p, 1, timeoutMs);
    return n > 0 && (p.revents & POLLIN) != 0;
}

int64_t MessageLoop::MillisecondsToNextDue() {
    const Queue& q = TheQueue();
    if (q.order.empty()) return -1;
    const int64_t left = q.order.begin()->first - Now();
    return left <= 0 ? 0 : (left + kNsPerMs - 1) / kNsPerMs;
}

int MessageLoop::Fd() { return Descriptor(); }

}  // namespace tq
