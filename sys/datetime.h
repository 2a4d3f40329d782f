// DateTime and Stopwatch: the time of day and elapsed time.
//
// DateTime reads the calendar now at every use: its parts (Year ... Second)
// are each read afresh, in the local time zone, or in UTC on a DateTime whose
// Utc is True. Now and Today give the date as text in the sortable form
// "2024-03-09 14:05:00" / "2024-03-09"; Timer the seconds since local
// midnight with fractions; Sleep waits, and a Ctrl-C ends the wait.
//
// A Stopwatch measures on the monotonic clock, which no change of the
// system's time moves: Start, Pause, Reset; Elapsed in seconds.
//
// PO_Write layouts (after the revision byte), revision 1:
//   DateTime:   offset 0, width 1: 1 for UTC, 0 for local time
//   Stopwatch:  nothing (a reloaded or copied stopwatch starts at zero)
#pragma once

#include <chrono>

#include <tqstore/tqstore.h>

namespace tq::sys {

class DateTime final : public IInterObj {
public:
    static PublishedClass& Class();
    explicit DateTime(DllServer* server) : IInterObj(server) {}

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream& in, uint32_t revision) override;
    void PO_Write(OCLStream& out) override;
    const char* className() const override { return "DateTime"; }
    void clone(const IInterObj& other) override;

    int32_t pdGetUtc() { return utc_ ? -1 : 0; }
    void pdSetUtc(int32_t on);
    int32_t pdGetYear();
    int32_t pdGetMonth();
    int32_t pdGetDay();
    int32_t pdGetHour();
    int32_t pdGetMinute();
    int32_t pdGetSecond();
    int32_t pdGetWeekday();
    int32_t pdGetDayOfYear();
    ValString imNow();
    ValString imToday();
    double imTimer();
    double imUnixTime();
    void imSleep(int32_t ms);
    ValString imDateText(int32_t year, int32_t month, int32_t day);
    ValString imTimeText(int32_t hour, int32_t minute, int32_t second);

private:
    bool utc_ = false;
};

class Stopwatch final : public IInterObj {
public:
    static PublishedClass& Class();
    explicit Stopwatch(DllServer* server) : IInterObj(server) {}

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "Stopwatch"; }

    double pdGetElapsed();
    int32_t pdGetElapsedMs();
    int32_t pdGetRunning() { return running_ ? -1 : 0; }
    void imStart();
    void imPause();
    void imReset();

private:
    using Steady = std::chrono::steady_clock;
    Steady::duration total() const;

    Steady::duration banked_{};  // time measured before the last Start
    Steady::time_point since_{};
    bool running_ = false;
};

}  // namespace tq::sys
