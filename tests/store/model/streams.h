// Reading and spoiling the records of a module file written by a test:
// where a record lies in its kind's stream, and patching bytes in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "tests/support/checksumwriting.h"

namespace tq {

// Where entry `index` of a description table's stream lies, read from the
// table's own layout (head: revision, array offset; array: count, free
// head, 13-byte entries of flags, memory, offset, length).
struct Span {
    uint32_t offset = 0;
    uint32_t length = 0;
};

inline std::vector<uint8_t> ReadStream(const std::string& path, const char* name) {
    OCLStorage storage(path.c_str(), 0, STGM_READ | STGM_SHARE_DENY_WRITE);
    OCLStream s(storage, name, 0, STGM_READ | STGM_SHARE_EXCLUSIVE);
    std::vector<uint8_t> bytes(s.size());
    s.read(bytes.data(), bytes.size());
    return bytes;
}

inline Span RecordOf(const std::string& path, const char* stream, uint32_t index) {
    const std::vector<uint8_t> b = ReadStream(path, stream);
    const uint32_t array = LoadLE32(&b[4]);
    const uint8_t* entry = &b[array + 8 + 13 * index];
    return {LoadLE32(entry + 5), LoadLE32(entry + 9)};
}

inline void Patch(const std::string& path, const char* stream, uint32_t at, const std::vector<uint8_t>& bytes) {
    OCLStorage storage(path.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    OCLStream s(storage, stream, 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.seek(at);
    s.write(bytes.data(), bytes.size());
}

// Patches with the checksums computed again: a forged file, whose bytes are
// sound and whose structure need not be.
inline void Forge(const std::string& path, const char* stream, uint32_t at, const std::vector<uint8_t>& bytes) {
    OCLStorage storage(path.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
    {
        OCLStream s(storage, stream, 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        s.seek(at);
        s.write(bytes.data(), bytes.size());
    }
    test::CommitWritingChecksums(storage, OCLStorage::ChecksumWriting::kCompute);
}

inline std::vector<uint8_t> Reference(uint8_t flags, uint32_t descriptor) {
    std::vector<uint8_t> r(5);
    r[0] = flags;
    StoreLE32(&r[1], descriptor);
    return r;
}

inline std::vector<uint8_t> LE32(uint32_t v) {
    std::vector<uint8_t> r(4);
    StoreLE32(r.data(), v);
    return r;
}

}  // namespace tq
