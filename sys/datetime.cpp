#include "sys/datetime.h"

#include <cstdio>
#include <thread>

#include "sys/sysexcep.h"

namespace tq::sys {

namespace {

std::string DateOf(int32_t y, int32_t m, int32_t d) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
    return text;
}

std::string TimeOf(int32_t h, int32_t m, int32_t s) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, m, s);
    return text;
}

bool IsLeapYear(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t DaysInMonth(int32_t y, int32_t m) {
    static constexpr int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

void CheckPart(const char* what, int32_t v, int32_t low, int32_t high) {
    if (v < low || v > high) ThrowOutOfRange(what, v, low, high);
}

}  // namespace

// ---- DateTime ------------------------------------------------------------------------------

PublishedClass& DateTime::Class() {
    static PublishedClass cls("Tessaro.DateTime", "DateTime", "{3E1A7C20-5B7D-4C1E-9A64-1D2B3C4E5F06}",
                              [](DllServer* server) -> IInterObj* { return new DateTime(server); });
    return cls;
}

void DateTime::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        sig.addField(CompProcEnumField::make("Utc", EnsureBooleanEnum(), Method(&DateTime::pdSetUtc),
                                             Method(&DateTime::pdGetUtc)),
                     nullptr, 0);
        struct Part {
            const char* name;
            int32_t (DateTime::*get)();
        };
        static constexpr Part kParts[] = {{"Year", &DateTime::pdGetYear},         {"Month", &DateTime::pdGetMonth},
                                          {"Day", &DateTime::pdGetDay},           {"Hour", &DateTime::pdGetHour},
                                          {"Minute", &DateTime::pdGetMinute},     {"Second", &DateTime::pdGetSecond},
                                          {"Weekday", &DateTime::pdGetWeekday},   {"DayOfYear", &DateTime::pdGetDayOfYear}};
        for (const Part& p : kParts)
            sig.addField(CompProcDataField::make(p.name, IDT_LONG, NoSetter, Method(p.get)), nullptr, 0);
        ParseCppField("Function Now() As String", sig, &DateTime::imNow);
        ParseCppField("Function Today() As String", sig, &DateTime::imToday);
        ParseCppField("Function Timer() As Double", sig, &DateTime::imTimer);
        ParseCppField("Function UnixTime() As Double", sig, &DateTime::imUnixTime);
        ParseCppField("Sub Sleep(ByVal milliseconds As Long)", sig, &DateTime::imSleep);
        ParseCppField("Function DateText(ByVal year As Long, ByVal month As Long, ByVal day As Long) As String", sig,
                      &DateTime::imDateText);
        ParseCppField("Function TimeText(ByVal hour As Long, ByVal minute As Long, ByVal second As Long) As String",
                      sig, &DateTime::imTimeText);
    });
}

void DateTime::PO_Read(OCLStream& in, uint32_t) { utc_ = in.readU8() != 0; }
void DateTime::PO_Write(OCLStream& out) { out.writeU8(utc_ ? 1 : 0); }

void DateTime::clone(const IInterObj& other) {
    if (const auto* from = dynamic_cast<const DateTime*>(&other)) utc_ = from->utc_;
}

void DateTime::pdSetUtc(int32_t on) {
    utc_ = on != 0;
    markChanged();
}

int32_t DateTime::pdGetYear() { return CalendarNow(utc_).year; }
int32_t DateTime::pdGetMonth() { return CalendarNow(utc_).month; }
int32_t DateTime::pdGetDay() { return CalendarNow(utc_).day; }
int32_t DateTime::pdGetHour() { return CalendarNow(utc_).hour; }
int32_t DateTime::pdGetMinute() { return CalendarNow(utc_).minute; }
int32_t DateTime::pdGetSecond() { return CalendarNow(utc_).second; }
int32_t DateTime::pdGetWeekday() { return CalendarNow(utc_).weekday; }
int32_t DateTime::pdGetDayOfYear() { return CalendarNow(utc_).yearDay; }

ValString DateTime::imNow() {
    const CalendarTime t = CalendarNow(utc_);
    return ValString(DateOf(t.year, t.month, t.day) + " " + TimeOf(t.hour, t.minute, t.second));
}

ValString DateTime::imToday() {
    const CalendarTime t = CalendarNow(utc_);
    return ValString(DateOf(t.year, t.month, t.day));
}

double DateTime::imTimer() { return SecondsSinceMidnight(); }

double DateTime::imUnixTime() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// In short slices, so that a Ctrl-C ends a long sleep as it ends a loop.
void DateTime::imSleep(int32_t ms) {
    if (ms < 0) ThrowOutOfRange("Milliseconds", ms, 0, 2147483647.0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        StoreApplication::CheckForBreak();
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) break;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now,
                                                                                  std::chrono::milliseconds(50)));
    }
}

ValString DateTime::imDateText(int32_t year, int32_t month, int32_t day) {
    CheckPart("Year", year, 1, 9999);
    CheckPart("Month", month, 1, 12);
    CheckPart("Day", day, 1, DaysInMonth(year, month));
    return ValString(DateOf(year, month, day));
}

ValString DateTime::imTimeText(int32_t hour, int32_t minute, int32_t second) {
    CheckPart("Hour", hour, 0, 23);
    CheckPart("Minute", minute, 0, 59);
    CheckPart("Second", second, 0, 59);
    return ValString(TimeOf(hour, minute, second));
}

// ---- Stopwatch -----------------------------------------------------------------------------

PublishedClass& Stopwatch::Class() {
    static PublishedClass cls("Tessaro.Stopwatch", "Stopwatch", "{3E1A7C20-5B7D-4C1E-9A64-1D2B3C4E5F07}",
                              [](DllServer* server) -> IInterObj* { return new Stopwatch(server); });
    return cls;
}

void Stopwatch::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        sig.addField(CompProcDataField::make("Elapsed", IDT_DOUBLE, NoSetter, Method(&Stopwatch::pdGetElapsed)),
                     nullptr, 0);
        sig.addField(CompProcDataField::make("ElapsedMs", IDT_LONG, NoSetter, Method(&Stopwatch::pdGetElapsedMs)),
                     nullptr, 0);
        sig.addField(CompProcEnumField::make("Running", EnsureBooleanEnum(), NoSetter,
                                             Method(&Stopwatch::pdGetRunning)),
                     nullptr, 0);
        ParseCppField("Sub Start()", sig, &Stopwatch::imStart);
        ParseCppField("Sub Pause()", sig, &Stopwatch::imPause);
        ParseCppField("Sub Reset()", sig, &Stopwatch::imReset);
    });
}

Stopwatch::Steady::duration Stopwatch::total() const {
    return running_ ? banked_ + (Steady::now() - since_) : banked_;
}

double Stopwatch::pdGetElapsed() { return std::chrono::duration<double>(total()).count(); }

// Milliseconds as a Long: past 24 days it stays at the Long's largest.
int32_t Stopwatch::pdGetElapsedMs() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(total()).count();
    return ms > INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms);
}

void Stopwatch::imStart() {
    if (running_) return;
    since_ = Steady::now();
    running_ = true;
}

void Stopwatch::imPause() {
    if (!running_) return;
    banked_ += Steady::now() - since_;
    running_ = false;
}

void Stopwatch::imReset() {
    banked_ = {};
    since_ = Steady::now();
}

}  // namespace tq::sys
