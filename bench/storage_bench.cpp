// Costs of the compound-file storage on module files of 5 MB and 50 MB with
// the store's eleven streams:
//  - opening a module and reading one 100-byte record near the end of its
//    largest stream (should not grow with the file beyond the container's
//    tables);
//  - committing after a change to one small stream, beside copying the file
//    (with and without flushing it), the floor for rewriting it whole;
//  - opening and reading 500 KB from the middle of the largest stream,
//    checked and unchecked;
//  - the checksum every commit takes of every stream and every first read
//    checks (CRC-32C), by the processor's instruction and by the table.
// Counters: bytes read from the file per open-and-read, the process's peak
// resident memory so far. The fixtures are made in a child process, so that
// making them does not count in the peak.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/crc32c.h"

namespace {

constexpr uint32_t kModuleMode = 0x10022;
constexpr uint32_t kReadOnlyMode = 0x20;
constexpr uint32_t kStreamMode = 0x12;

const char* const kStreams[] = {"Module version", "Static globals", "Objects",
                                "Blocks",         "Signatures",     "Strings",
                                "Enumerations",   "ObjectProxies",  "EnumerationProxies",
                                "SignatureProxies", "IdStrings"};

// Share of the module each stream takes, in thousandths; the rest are small.
uint32_t StreamSize(const std::string& name, uint64_t total) {
    if (name == "Objects") return static_cast<uint32_t>(total * 800 / 1000);
    if (name == "Blocks") return static_cast<uint32_t>(total * 120 / 1000);
    if (name == "Signatures") return static_cast<uint32_t>(total * 40 / 1000);
    if (name == "Strings") return static_cast<uint32_t>(total * 30 / 1000);
    return 2000;
}

const std::string& Folder() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tqbenchXXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        std::atexit([] { std::filesystem::remove_all(Folder()); });
        return pattern;
    }();
    return folder;
}

// The module of `megabytes` MB, made once.
std::string Module(int megabytes) {
    const std::string path = Folder() + "/module" + std::to_string(megabytes) + ".qbo";
    if (std::filesystem::exists(path)) return path;
    const pid_t child = ::fork();
    if (child == 0) {
        tq::OCLStorage s(path.c_str(), 1, kModuleMode);
        const uint64_t total = uint64_t{static_cast<unsigned>(megabytes)} << 20;
        for (const char* name : kStreams) {
            tq::OCLStream stream(s, name, 1, kStreamMode);
            std::vector<uint8_t> bytes(StreamSize(name, total));
            for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
            stream.write(bytes.data(), bytes.size());
        }
        s.Commit();
        _exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
    return path;
}

double PeakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_OpenAndReadRecordNearTheEnd(benchmark::State& state) {
    const std::string path = Module(static_cast<int>(state.range(0)));
    uint64_t bytesRead = 0;
    for (auto _ : state) {
        tq::OCLStorage s(path.c_str(), 0, kReadOnlyMode);
        tq::OCLStream objects(s, "Objects", 0, kStreamMode);
        objects.seek(objects.size() - 1000);
        uint8_t record[100];
        objects.read(record, sizeof record);
        benchmark::DoNotOptimize(record);
        bytesRead = s.bytesReadFromFile();
    }
    state.counters["file_bytes_read"] = static_cast<double>(bytesRead);
    state.counters["peak_rss_MB"] = PeakMegabytes();
}
BENCHMARK(BM_OpenAndReadRecordNearTheEnd)->Arg(5)->Arg(50)->Unit(benchmark::kMicrosecond);

// Opening and reading 500 KB from the middle of the largest stream, as
// loading a large record does: the stream's chain followed to there (4,000
// sectors of 512 bytes in the 5 MB module) and the bytes read, checked
// against their checksums (checked = 1) or looked at unchecked (0).
void BM_OpenAndReadHalfAMegabyte(benchmark::State& state) {
    const std::string path = Module(static_cast<int>(state.range(0)));
    const bool checked = state.range(1) != 0;
    std::vector<uint8_t> bytes(500000);
    for (auto _ : state) {
        tq::OCLStorage s(path.c_str(), 0, kReadOnlyMode);
        tq::OCLStream objects(s, "Objects", 0, kStreamMode);
        objects.seek(objects.size() / 2);
        if (checked)
            objects.read(bytes.data(), bytes.size());
        else
            objects.peek(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_OpenAndReadHalfAMegabyte)
    ->ArgNames({"MB", "checked"})
    ->Args({5, 0})
    ->Args({5, 1})
    ->Unit(benchmark::kMicrosecond);

void BM_CommitAfterChangingOneSmallStream(benchmark::State& state) {
    const std::string source = Module(static_cast<int>(state.range(0)));
    const std::string path = Folder() + "/commit.qbo";
    std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
    tq::OCLStorage s(path.c_str(), 0, kModuleMode);
    uint32_t generation = 0;
    for (auto _ : state) {
        state.PauseTiming();
        tq::OCLStream stream(s, "Module version", 0, kStreamMode);
        stream.writeU32(++generation);
        state.ResumeTiming();
        s.Commit();
    }
    state.counters["peak_rss_MB"] = PeakMegabytes();
}
BENCHMARK(BM_CommitAfterChangingOneSmallStream)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond);

// Copying the file to a new one as cp does (the kernel's copy), with and
// without flushing the copy to the disk as a commit does.
void BM_CopyFile(benchmark::State& state) {
    const std::string source = Module(static_cast<int>(state.range(0)));
    const std::string copy = Folder() + "/copy.qbo";
    const bool flush = state.range(1) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(copy);
        state.ResumeTiming();
        std::filesystem::copy_file(source, copy);
        if (flush) {
            const int fd = ::open(copy.c_str(), O_RDONLY);
            ::fsync(fd);
            ::close(fd);
        }
    }
}
BENCHMARK(BM_CopyFile)
    ->ArgNames({"MB", "fsync"})
    ->Args({5, 0})
    ->Args({5, 1})
    ->Args({50, 0})
    ->Args({50, 1})
    ->Unit(benchmark::kMillisecond);

// The checksum of a piece as reads check it (4 KB), of a large record
// (500 KB) and of 1 MB.
void BM_Crc32c(benchmark::State& state) {
    std::vector<uint8_t> bytes(static_cast<size_t>(state.range(1)));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131 + 7);
    const bool table = state.range(0) != 0;
    uint32_t crc = 0;
    for (auto _ : state) {
        crc = table ? tq::Crc32cByTable(crc, bytes.data(), bytes.size())
                    : tq::Crc32c(crc, bytes.data(), bytes.size());
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
    state.SetLabel(table ? "table" : tq::Crc32cInHardware() ? "instruction" : "table (no instruction)");
}
BENCHMARK(BM_Crc32c)
    ->ArgNames({"table", "bytes"})
    ->ArgsProduct({{0, 1}, {4096, 500000, 1 << 20}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
