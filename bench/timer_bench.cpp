// Timers: how punctually a Timer's Timeout runs, and what enabled timers
// cost a program that is otherwise idle. Each figure is reported as a
// counter; wall times of the runs themselves mean nothing here.
//
//   BM_TickSpread/store     1,000 ticks of a 10 ms Timer whose Timeout adds
//                           one to a field, served as `tessaro run` serves
//                           them (wait, pump); lateness of each tick
//                           against its due time: mean, p50, p99, max (us),
//                           and how many came more than 5 ms late
//   BM_TickSpread/loop      the same with a bare loop timer (no store): the
//                           baseline of the wait itself
//   BM_IdleCost/store       1,000 Timers of 100 ms, each with a Timeout
//                           handler, served for 3 s: process CPU time over
//                           wall time, in percent of one core
//   BM_IdleCost/loop        1,000 bare loop timers of 100 ms (baseline)
//   BM_IdleCost/none        no timer: a 3 s wait (baseline)
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "bench/benchstore.h"

namespace {

using namespace tq;

const char* const kProgram = R"(Begin Object Ticker
  Dim N As Long
  Dim T As New Timer
  Sub T_Timeout()
    N = N + 1
  End Sub
End Object
)";

int64_t Clock(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

InterObjRep* Ticker() {
    static InterObjRep* const ticker = [] {
        bench::StartLibrary();
        compiler::EnableTextModules();
        const std::string path = bench::ScratchFolder() + "/ticker.tqs";
        std::ofstream(path) << kProgram;
        ObjectStore::LoadModule(path.c_str(), 0, 0);
        InterObj o;
        ObjectStore::find("Ticker", o);
        return o.get();
    }();
    return ticker;
}

iTimer* TimerOf(InterObjRep* obj) {
    ValuePtr v = obj->eval("T");
    InterObjRep* t = v ? v->as<InterObj>().get() : nullptr;
    return t ? dynamic_cast<iTimer*>(t->compiledPart()) : nullptr;
}

void NoOp(uint32_t) {}

int ticksSeen = 0;
void Count(uint32_t) { ++ticksSeen; }

// Serves ticks until `ticks` arrived; the lateness of each against its due
// time, in microseconds. Due times follow the loop's rule: one interval
// after the last due time, or after the tick itself when it came more than
// an interval late (missed ticks are dropped).
template <class Ticks>
std::vector<double> Lateness(int ticks, int64_t start, int64_t intervalNs, Ticks seen) {
    std::vector<double> late;
    late.reserve(ticks);
    int last = seen();
    int64_t due = start + intervalNs;
    while (static_cast<int>(late.size()) < ticks) {
        MessageLoop::Wait(1000);
        StoreApplication::PumpMessages();
        const int now = seen();
        if (now == last) continue;
        last = now;
        const int64_t t = Clock(CLOCK_MONOTONIC);
        late.push_back(static_cast<double>(t - due) / 1000.0);
        due = due + intervalNs <= t ? t + intervalNs : due + intervalNs;
    }
    return late;
}

void Report(benchmark::State& state, std::vector<double> late) {
    std::sort(late.begin(), late.end());
    double sum = 0;
    for (double v : late) sum += v;
    state.counters["mean_us"] = sum / late.size();
    state.counters["p50_us"] = late[late.size() / 2];
    state.counters["p99_us"] = late[late.size() * 99 / 100];
    state.counters["max_us"] = late.back();
    state.counters["over_5ms"] = static_cast<double>(std::count_if(late.begin(), late.end(), [](double v) {
        return v > 5000.0;
    }));
}

void BM_TickSpreadStore(benchmark::State& state) {
    InterObjRep* ticker = Ticker();
    iTimer* t = TimerOf(ticker);
    for (auto _ : state) {
        t->pdSetInterval(10);
        t->pdSetEnabled(-1);
        const int64_t start = Clock(CLOCK_MONOTONIC);
        Report(state, Lateness(1000, start, 10000000, [&] { return ticker->eval("N")->as<int32_t>(); }));
        t->pdSetEnabled(0);
    }
}
BENCHMARK(BM_TickSpreadStore)->Name("BM_TickSpread/store")->Iterations(1)->Unit(benchmark::kSecond);

void BM_TickSpreadLoop(benchmark::State& state) {
    bench::StartLibrary();
    for (auto _ : state) {
        ticksSeen = 0;
        const uint32_t id = MessageLoop::SetTimer(10, &Count);
        const int64_t start = Clock(CLOCK_MONOTONIC);
        Report(state, Lateness(1000, start, 10000000, [] { return ticksSeen; }));
        MessageLoop::KillTimer(id);
    }
}
BENCHMARK(BM_TickSpreadLoop)->Name("BM_TickSpread/loop")->Iterations(1)->Unit(benchmark::kSecond);

// Serves whatever comes for 3 s; the CPU share in percent of a core.
double ServeFor3s() {
    const int64_t wall0 = Clock(CLOCK_MONOTONIC), cpu0 = Clock(CLOCK_PROCESS_CPUTIME_ID);
    const int64_t end = wall0 + 3000000000;
    for (int64_t now = wall0; now < end; now = Clock(CLOCK_MONOTONIC)) {
        MessageLoop::Wait(static_cast<int>((end - now) / 1000000) + 1);
        StoreApplication::PumpMessages();
    }
    const int64_t wall = Clock(CLOCK_MONOTONIC) - wall0, cpu = Clock(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    return 100.0 * static_cast<double>(cpu) / static_cast<double>(wall);
}

void BM_IdleCostStore(benchmark::State& state) {
    InterObjRep* ticker = Ticker();
    std::vector<InterObj> copies;
    for (int i = 0; i < 1000; ++i) {
        copies.emplace_back(InterObjRep::NewCopy(*ticker, ticker->moduleIndex(), IOT_DYNAMIC));
        iTimer* t = TimerOf(copies.back().get());
        t->pdSetInterval(100);
        t->pdSetEnabled(-1);
    }
    // Copies start with the prototype's count.
    const int32_t start = ticker->eval("N")->as<int32_t>();
    for (auto _ : state) state.counters["cpu_percent"] = ServeFor3s();
    int64_t fired = 0;
    for (InterObj& c : copies) {
        fired += c->eval("N")->as<int32_t>() - start;
        TimerOf(c.get())->pdSetEnabled(0);
    }
    state.counters["timeouts_run"] = static_cast<double>(fired);
}
BENCHMARK(BM_IdleCostStore)->Name("BM_IdleCost/store")->Iterations(1)->Unit(benchmark::kSecond);

void BM_IdleCostLoop(benchmark::State& state) {
    bench::StartLibrary();
    std::vector<uint32_t> ids;
    for (int i = 0; i < 1000; ++i) ids.push_back(MessageLoop::SetTimer(100, &NoOp));
    for (auto _ : state) state.counters["cpu_percent"] = ServeFor3s();
    for (uint32_t id : ids) MessageLoop::KillTimer(id);
}
BENCHMARK(BM_IdleCostLoop)->Name("BM_IdleCost/loop")->Iterations(1)->Unit(benchmark::kSecond);

void BM_IdleCostNone(benchmark::State& state) {
    bench::StartLibrary();
    for (auto _ : state) state.counters["cpu_percent"] = ServeFor3s();
}
BENCHMARK(BM_IdleCostNone)->Name("BM_IdleCost/none")->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
