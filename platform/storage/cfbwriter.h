// CfbWriter: lays out one whole compound file on a file descriptor, through
// libgsf.
//
// Streams are written one after the other; libgsf keeps those below 4096
// bytes in the mini-stream and writes the others' sectors in one run each.
// The tables follow at finish(). libgsf ignores many write results while it
// does this, so the writer asks the output afterwards whether every block
// reached the file: a writer that finishes without raising has written the
// file whole (it is not yet flushed; that is the caller's step).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

struct _GsfOutput;
struct _GsfOutfile;

namespace tq {

class CfbReader;

class CfbWriter {
public:
    // Supplies `n` bytes of a stream at `offset` into `out`.
    using Source = std::function<void(uint32_t offset, uint8_t* out, size_t n)>;
    // Called before each block written; false fails it (test hook).
    using FaultHook = std::function<bool(uint64_t bytesWritten)>;

    // Writes to fd (not owned) from offset 0; path names it in error texts.
    CfbWriter(int fd, std::string path, const FaultHook* hook);
    ~CfbWriter();
    CfbWriter(const CfbWriter&) = delete;
    CfbWriter& operator=(const CfbWriter&) = delete;

    void setRootClassId(const std::array<uint8_t, 16>& id);

    // A stream of the root with `size` bytes taken from source.
    void writeStream(const std::string& name, uint32_t size, const Source& source);

    // The sub-storage `name` of from's root, with everything in it.
    void copyStorage(CfbReader& from, const std::string& name);

    // Writes the container's tables; raises StorageError unless the whole
    // file was written.
    void finish();

private:
    void check();

    std::string path_;
    _GsfOutput* sink_ = nullptr;
    _GsfOutfile* root_ = nullptr;
    bool finished_ = false;
};

}  // namespace tq
