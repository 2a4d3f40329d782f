// Module files at scale: a module of N objects of N/100 signatures (each
// signature a named prototype with four data fields and 99 clones), for N =
// 10,000 and 100,000:
//  - opening it (LoadModule): time, memory (heap bytes kept) and bytes read
//    from the file, with no thing read; and the same module whose clones are
//    all dynamic objects, whose entries the open checks against the first
//    bytes of their records (against the plain module as the baseline);
//  - faulting one object in (its record and its signature's);
//  - Save plus Commit after one object changed: time, the bytes the save
//    wrote into the streams and the size of the file the commit wrote; and
//    the same with the file written whole, with and without checksums;
//  - the first Save plus Commit after an open, with the bytes sent to the
//    disk.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include "bench/benchstore.h"
#include "platform/storage/checksums.h"
#include "platform/storage/fshooks.h"
#include "platform/storage/oclstorage.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/objstore.h"
#include "store/persist/vlstrrep.h"
#include "store/storeapp.h"

namespace {

using namespace tq;

constexpr int kObjectsPerSignature = 100;

// Heap bytes in use: what opening a module keeps in memory, whatever pages
// earlier runs left to reuse.
double HeapMegabytes() { return static_cast<double>(::mallinfo2().uordblks) / (1024.0 * 1024.0); }

void SetLong(InterObjRep* o, const char* name, int32_t v) {
    SignatureRep* owner = nullptr;
    o->signature()->findField(name, owner, 0)->set(v, *o, *owner);
}

// The module of n objects, made once per size, kind of clone and piece size
// of its checksums (0: none, as files were before them) in a scratch folder.
const std::string& ModuleOf(int n, bool dynamic = false, uint32_t piece = kChecksumPieceSize) {
    bench::StartLibrary();
    static std::map<std::tuple<int, bool, uint32_t>, std::string> made;
    const std::string& folder = bench::ScratchFolder();
    auto it = made.find({n, dynamic, piece});
    if (it != made.end()) return it->second;
    const std::string path = folder + "/objects" + std::to_string(n) + (dynamic ? "dynamic" : "") +
                             "-" + std::to_string(piece) + ".qbo";
    std::filesystem::remove(path);
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
    for (int s = 0; s < n / kObjectsPerSignature; ++s) {
        const std::string name = "Proto" + std::to_string(s);
        InterObj proto(InterObjRep::NewNamed(name.c_str(), nullptr, m, IOT_ORDINARY));
        proto->addField(InterDataField::make("Count", IDT_LONG, 1));
        proto->addField(InterDataField::make("Ratio", IDT_DOUBLE, 1));
        proto->addField(InterDataField::make("Title", IDT_STRING, 1));
        proto->addField(InterDataField::make("Flags", IDT_SHORT, 1));
        SignatureRep* owner = nullptr;
        proto->signature()->findField("Title", owner, 0)->set(ValString(name.c_str()), *proto, *owner);
        for (int c = 1; c < kObjectsPerSignature; ++c) {
            InterObj clone(InterObjRep::NewCopy(*proto, m, dynamic ? IOT_DYNAMIC : IOT_ORDINARY));
            SetLong(clone.get(), "Count", c);
        }
    }
    ObjectStore::Save(m);
    if (piece == 0) OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kOmit);
    else OCLStorage::SetChecksumPieceSize(piece);
    ObjectStore::Commit(m);
    OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
    OCLStorage::SetChecksumPieceSize(kChecksumPieceSize);
    ObjectStore::UnloadModule(m);
    InterObjRep::DeleteObjects();
    return made[{n, dynamic, piece}] = path;
}

void OpenModule(benchmark::State& state) {
    const std::string& path = ModuleOf(static_cast<int>(state.range(0)), state.range(1) != 0,
                                       static_cast<uint32_t>(state.range(2)));
    double grown = 0;
    uint64_t read = 0;
    size_t things = 0;
    for (auto _ : state) {
        const double before = HeapMegabytes();
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        state.PauseTiming();
        grown = HeapMegabytes() - before;
        read = ObjectStore::Module(m)->storage().bytesReadFromFile();
        things = InterObjRep::LiveCount() + SignatureRep::LiveCount();
        ObjectStore::UnloadModule(m);
        state.ResumeTiming();
    }
    state.counters["heap_growth_MB"] = grown;
    state.counters["file_bytes_read"] = static_cast<double>(read);
    state.counters["things_read"] = static_cast<double>(things);
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
}
// Second argument: 1 for the module whose clones are dynamic objects; third:
// the piece size of its checksums (0: none, 4096: the first files with them).
BENCHMARK(OpenModule)
    ->Args({10000, 0, kChecksumPieceSize})
    ->Args({10000, 1, kChecksumPieceSize})
    ->Args({100000, 0, kChecksumPieceSize})
    ->Args({100000, 1, 0})
    ->Args({100000, 1, 4096})
    ->Args({100000, 1, 1024})
    ->Args({100000, 1, 512})
    ->Unit(benchmark::kMillisecond);

// Open, fault the object in the middle, close: what a process that reads one
// object does, beside the same with the file's checksums of other sizes.
void OpenAndFaultOne(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string& path = ModuleOf(n, true, static_cast<uint32_t>(state.range(1)));
    uint64_t read = 0;
    for (auto _ : state) {
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        benchmark::DoNotOptimize(InterObjRep::fault(tDescriptor::Make(m, static_cast<uint32_t>(n / 2) + 1)));
        read = ObjectStore::Module(m)->storage().bytesReadFromFile();
        ObjectStore::UnloadModule(m);
    }
    state.counters["file_bytes_read"] = static_cast<double>(read);
}
BENCHMARK(OpenAndFaultOne)->Args({100000, 0})->Args({100000, 4096})->Args({100000, 1024})->Args({100000, 512})->Unit(benchmark::kMillisecond);

void FaultOneObject(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string& path = ModuleOf(n);
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
    uint32_t index = 0;
    uint64_t read = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A different object each time, so every fault reads its records;
        // the module is reopened when all were read.
        index = (index + 7919) % static_cast<uint32_t>(n);
        const uint64_t before = ObjectStore::Module(m)->storage().bytesReadFromFile();
        state.ResumeTiming();
        InterObjRep* o = InterObjRep::fault(tDescriptor::Make(m, index));
        benchmark::DoNotOptimize(o);
        state.PauseTiming();
        read = ObjectStore::Module(m)->storage().bytesReadFromFile() - before;
        state.ResumeTiming();
    }
    state.counters["last_fault_file_bytes"] = static_cast<double>(read);
    ObjectStore::UnloadModule(m);
}
BENCHMARK(FaultOneObject)->Arg(10000)->Arg(100000)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void SaveAfterOneChange(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string& path = ModuleOf(n);
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
    OCLStorage& storage = ObjectStore::Module(m)->storage();
    InterObjRep* o = InterObjRep::fault(tDescriptor::Make(m, static_cast<uint32_t>(n / 2)));
    int32_t value = 0;
    uint64_t written = 0;
    for (auto _ : state) {
        state.PauseTiming();
        SetLong(o, "Count", ++value);
        const uint64_t before = storage.bytesWrittenToStreams();
        state.ResumeTiming();
        ObjectStore::Save(m);
        state.PauseTiming();
        written = storage.bytesWrittenToStreams() - before;
        state.ResumeTiming();
        ObjectStore::Commit(m);
    }
    state.counters["save_bytes_written"] = static_cast<double>(written);
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
    ObjectStore::UnloadModule(m);
}
BENCHMARK(SaveAfterOneChange)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Save plus a whole-file commit after one object changed, in a file with
// checksums (the commit reads every byte it carries over through them and
// writes new ones) beside the same commit of a file without them that
// writes none: what the checksums cost a commit.
void CommitWholeFile(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const bool checksums = state.range(1) != 0;
    const std::string& path = ModuleOf(n, false, checksums ? kChecksumPieceSize : 0);
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
    InterObjRep* o = InterObjRep::fault(tDescriptor::Make(m, static_cast<uint32_t>(n / 2)));
    OCLStorage::SetInPlaceCommits(OCLStorage::InPlaceCommits::kNever);
    if (!checksums) OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kOmit);
    int32_t value = 0;
    for (auto _ : state) {
        state.PauseTiming();
        SetLong(o, "Count", ++value);
        state.ResumeTiming();
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
    }
    OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
    OCLStorage::SetInPlaceCommits(OCLStorage::InPlaceCommits::kWhenSmaller);
    state.counters["checksums_in_file"] = ObjectStore::Module(m)->storage().hasChecksums() ? 1 : 0;
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
    ObjectStore::UnloadModule(m);
}
BENCHMARK(CommitWholeFile)->Args({100000, 0})->Args({100000, 1})->Unit(benchmark::kMillisecond);

// Every byte a commit sends to the disk (its journal included), as the
// file-system hooks see it.
struct DiskBytes : FileSystemHooks {
    size_t alterWrite(int, uint64_t, uint8_t*, size_t n) override {
        bytes += n;
        return n;
    }
    uint64_t bytes = 0;
};

// What a process that opens a module, changes one field and saves pays for
// the save: the first Save and Commit after the open, the open, fault and
// unload untimed. Counts the bytes the save wrote into the streams and the
// bytes the commit sent to the disk.
void CommitAfterOpen(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string& path = ModuleOf(n);
    uint64_t streamBytes = 0;
    DiskBytes disk;
    int32_t value = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        OCLStorage& storage = ObjectStore::Module(m)->storage();
        SetLong(InterObjRep::fault(tDescriptor::Make(m, static_cast<uint32_t>(n / 2))), "Count", ++value);
        const uint64_t before = storage.bytesWrittenToStreams();
        disk.bytes = 0;
        SetFileSystemHooks(&disk);
        state.ResumeTiming();
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        state.PauseTiming();
        SetFileSystemHooks(nullptr);
        streamBytes = storage.bytesWrittenToStreams() - before;
        ObjectStore::UnloadModule(m);
        state.ResumeTiming();
    }
    state.counters["save_bytes_written"] = static_cast<double>(streamBytes);
    state.counters["disk_bytes_written"] = static_cast<double>(disk.bytes);
}
BENCHMARK(CommitAfterOpen)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
