// The process's clocks and environment as a program of the language sees
// them: the calendar now (local and UTC), the seconds since midnight, a
// seed that differs between runs, the process id and the environment's
// variables.
//
// Calendar parts follow the language's conventions, not C's: months 1-12,
// weekday 1 (Sunday) to 7, day of the year 1-366.
#pragma once

#include <cstdint>
#include <string>

namespace tq {

struct CalendarTime {
    int32_t year = 0;
    int32_t month = 0;    // 1 to 12
    int32_t day = 0;      // 1 to 31
    int32_t hour = 0;     // 0 to 23
    int32_t minute = 0;   // 0 to 59
    int32_t second = 0;   // 0 to 60 (a leap second)
    int32_t weekday = 0;  // 1 (Sunday) to 7
    int32_t yearDay = 0;  // 1 to 366
    int32_t nanos = 0;    // within the second
};

// The calendar now, in the local time zone or in UTC.
CalendarTime CalendarNow(bool utc);

// Seconds since the last local midnight, with the fractions the clock gives.
double SecondsSinceMidnight();

// A seed for a random series: the real-time clock in nanoseconds mixed with
// the process id, so that two runs started in the same second, or at the
// same instant in two processes, seed unrelated series.
uint32_t ClockSeed();

// The id of this process.
int32_t ProcessId();

// Sets (value non-null) or removes (value null) an environment variable of
// this process; false with the system's text in error when refused (a name
// that is empty or holds '=').
bool SetEnvironmentVariable(const char* name, const char* value, std::string& error);

}  // namespace tq
