#include "platform/util/msgloop.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <thread>
#include <vector>

namespace tq {
namespace {

std::vector<uint32_t> fired;
uint32_t killInProc = 0;

void Record(uint32_t id) { fired.push_back(id); }
void RecordAndKill(uint32_t id) {
    fired.push_back(id);
    MessageLoop::KillTimer(killInProc);
}

// Every test leaves no timer behind, so the next starts from an empty queue.
class MessageLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        fired.clear();
        killInProc = 0;
    }
    void TearDown() override {
        for (uint32_t id : ids) MessageLoop::KillTimer(id);
        EXPECT_EQ(MessageLoop::TimerCount(), 0u);
    }
    uint32_t set(uint32_t ms, MessageLoop::TimerProc proc = &Record) {
        const uint32_t id = MessageLoop::SetTimer(ms, proc);
        ids.push_back(id);
        return id;
    }
    // Waits for and dispatches ticks until `count` procedures ran or a
    // second passed.
    void runUntil(size_t count) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (fired.size() < count && std::chrono::steady_clock::now() < end) {
            MessageLoop::Wait(100);
            MessageLoop::Dispatch();
        }
    }
    std::vector<uint32_t> ids;
};

TEST_F(MessageLoopTest, IntervalsOutsideTheRangeGetNoTimer) {
    EXPECT_EQ(MessageLoop::SetTimer(0, &Record), 0u);
    EXPECT_EQ(MessageLoop::SetTimer(MessageLoop::kMaxInterval + 1, &Record), 0u);
    EXPECT_EQ(MessageLoop::SetTimer(10, nullptr), 0u);
    EXPECT_EQ(MessageLoop::TimerCount(), 0u);
    EXPECT_EQ(MessageLoop::MillisecondsToNextDue(), -1);
}

TEST_F(MessageLoopTest, TimersTickPeriodicallyAndAKilledIdIsNeverReused) {
    const uint32_t a = set(5);
    const uint32_t b = set(MessageLoop::kMaxInterval);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(MessageLoop::Dispatch(), 0);  // nothing due yet
    runUntil(3);
    ASSERT_GE(fired.size(), 3u);
    for (uint32_t id : fired) EXPECT_EQ(id, a);
    EXPECT_TRUE(MessageLoop::KillTimer(a));
    EXPECT_FALSE(MessageLoop::KillTimer(a));
    EXPECT_NE(set(5), a);
}

TEST_F(MessageLoopTest, MissedTicksAreDroppedNotQueued) {
    set(10);
    std::this_thread::sleep_for(std::chrono::milliseconds(65));
    EXPECT_EQ(MessageLoop::Dispatch(), 1);
    // The next tick is a whole interval away, not overdue.
    EXPECT_GE(MessageLoop::MillisecondsToNextDue(), 5);
    EXPECT_EQ(MessageLoop::Dispatch(), 0);
}

TEST_F(MessageLoopTest, AProcedureThatKillsADueTimerKeepsItFromRunning) {
    const uint32_t first = set(5, &RecordAndKill);
    killInProc = set(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // Both are due; the first runs first and kills the second.
    EXPECT_EQ(MessageLoop::Dispatch(), 1);
    EXPECT_EQ(fired, std::vector<uint32_t>{first});
    EXPECT_EQ(MessageLoop::TimerCount(), 1u);
}

TEST_F(MessageLoopTest, TheDescriptorIsReadableExactlyWhileATimerIsDue) {
    const int fd = MessageLoop::Fd();
    ASSERT_GE(fd, 0);
    auto readable = [fd] {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    };
    set(5);
    EXPECT_FALSE(readable());
    EXPECT_TRUE(MessageLoop::Wait(1000));
    EXPECT_TRUE(readable());
    EXPECT_EQ(MessageLoop::Dispatch(), 1);
    EXPECT_FALSE(readable());
}

}  // namespace
}  // namespace tq
