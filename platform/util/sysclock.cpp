#include "platform/util/sysclock.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/util/syserror.h"

namespace tq {

CalendarTime CalendarNow(bool utc) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm parts{};
    if (utc)
        gmtime_r(&now.tv_sec, &parts);
    else
        localtime_r(&now.tv_sec, &parts);
    CalendarTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    t.weekday = parts.tm_wday + 1;
    t.yearDay = parts.tm_yday + 1;
    t.nanos = static_cast<int32_t>(now.tv_nsec);
    return t;
}

double SecondsSinceMidnight() {
    const CalendarTime t = CalendarNow(false);
    return t.hour * 3600.0 + t.minute * 60.0 + t.second + t.nanos / 1e9;
}

uint32_t ClockSeed() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // splitmix64's finaliser: every bit of the clock and the pid reaches
    // every bit of the seed, so nearby instants give far-apart seeds.
    uint64_t x = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    x ^= static_cast<uint64_t>(getpid()) << 32;
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<uint32_t>(x ^ (x >> 32));
}

int32_t ProcessId() { return static_cast<int32_t>(getpid()); }

bool SetEnvironmentVariable(const char* name, const char* value, std::string& error) {
    if (!name || !*name || std::strchr(name, '=')) {
        error = SystemErrorText(EINVAL);
        return false;
    }
    const int rc = value ? ::setenv(name, value, 1) : ::unsetenv(name);
    if (rc != 0) {
        error = SystemErrorText(errno);
        return false;
    }
    return true;
}

}  // namespace tq
