// Opens arbitrary bytes as a compound file with the storage's own reader and
// reads every root stream whole, then again in pieces of a size the input's
// last byte chooses (small ones go through a stream's block, others read
// sectors directly). Whatever reads must be the same bytes both ways.
#include <fcntl.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/storage/cfbreader.h"
#include "platform/storage/oclstorage.h"
#include "tests/fuzz/scratchfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& file = tq::fuzz::ScratchFile();
    tq::fuzz::WriteRaw(file, data, size);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::abort();
    std::shared_ptr<tq::CfbReader> reader;
    try {
        // Both ways of opening: with the checksums read, and as a file
        // written without them, whose tables are checked whole.
        reader = tq::CfbReader::Open(fd, file, size % 2 == 0);
    } catch (const tq::StorageError&) {
        return 0;
    }
    const size_t step = 1 + (size > 0 ? data[size - 1] : 0) * 37;
    for (const tq::CfbEntry& e : reader->listing().root) {
        if (e.isStorage) continue;
        std::vector<uint8_t> whole(e.size), piece(e.size);
        bool read = true;
        try {
            reader->read(e.name, 0, whole.data(), whole.size());
        } catch (const tq::StorageError&) {
            read = false;
        }
        for (uint32_t at = 0; at < e.size; at += static_cast<uint32_t>(step)) {
            const size_t n = std::min<size_t>(step, e.size - at);
            try {
                reader->peek(e.name, at, piece.data() + at, n);
            } catch (const tq::StorageError&) {
                continue;
            }
            if (read && std::memcmp(piece.data() + at, whole.data() + at, n) != 0) __builtin_trap();
        }
    }
    return 0;
}
