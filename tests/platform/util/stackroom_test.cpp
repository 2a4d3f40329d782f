#include "platform/util/stackroom.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <thread>

namespace tq {
namespace {

// The system's own report of the calling thread's stack, guard area left
// out: what the bounds must agree with.
void ReportedBounds(const char*& low, const char*& high) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_getattr_np(pthread_self(), &attr), 0);
    void* addr = nullptr;
    std::size_t size = 0, guard = 0;
    ASSERT_EQ(pthread_attr_getstack(&attr, &addr, &size), 0);
    ASSERT_EQ(pthread_attr_getguardsize(&attr, &guard), 0);
    pthread_attr_destroy(&attr);
    low = static_cast<const char*>(addr) + guard;
    high = static_cast<const char*>(addr) + size;
}

struct Seen {
    const char* low = nullptr;
    const char* high = nullptr;
    const char* reportedLow = nullptr;
    const char* reportedHigh = nullptr;
    std::size_t remaining = 0;
};

Seen Look() {
    Seen s;
    StackRoom::Bounds(s.low, s.high);
    ReportedBounds(s.reportedLow, s.reportedHigh);
    s.remaining = StackRoom::Remaining();
    return s;
}

// The main thread's bounds are worked out without the system's report;
// they must be the report's, or a deep recursion would run past the real
// limit (a crash instead of "Stack overflow.") or stop early.
TEST(StackRoom, TheMainThreadsBoundsAreTheSystemsReport) {
    const Seen s = Look();
    EXPECT_EQ(s.low, s.reportedLow);
    EXPECT_EQ(s.high, s.reportedHigh);
    const char* here = static_cast<const char*>(__builtin_frame_address(0));
    EXPECT_GT(s.remaining, 0u);
    EXPECT_LE(s.remaining, static_cast<std::size_t>(here - s.low) + 4096);
}

TEST(StackRoom, AnotherThreadsBoundsAreItsOwnStack) {
    Seen s;
    std::thread t([&s] { s = Look(); });
    t.join();
    EXPECT_EQ(s.low, s.reportedLow);
    EXPECT_EQ(s.high, s.reportedHigh);
    Seen mainThread = Look();
    EXPECT_NE(s.low, mainThread.low);
}

}  // namespace
}  // namespace tq
