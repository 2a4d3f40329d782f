// Opens arbitrary bytes as a module file and reads every stream whole. When
// the file opens, a commit rewrites it and every stream that read whole before
// must read back the same.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "tests/fuzz/scratchfile.h"

namespace {

using tq::fuzz::ScratchFile;
using tq::fuzz::WriteRaw;

// Every stream that reads whole, by name; the others are left out.
std::map<std::string, std::vector<uint8_t>> ReadAll(tq::OCLStorage& storage) {
    std::map<std::string, std::vector<uint8_t>> streams;
    for (const std::string& name : storage.streamNames()) {
        try {
            tq::OCLStream s(storage, name.c_str(), 0, tq::STGM_READ);
            std::vector<uint8_t> bytes(s.size());
            for (size_t at = 0; at < bytes.size(); at += 65536) {
                const size_t n = std::min<size_t>(65536, bytes.size() - at);
                s.read(bytes.data() + at, n);
            }
            s.seek(0);
            try {
                s.readString();
            } catch (const tq::StorageError&) {
            }
            streams.emplace(name, std::move(bytes));
        } catch (const tq::StorageError&) {
        }
    }
    return streams;
}

const char* const kAdded = "Added by fuzz";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& file = ScratchFile();
    WriteRaw(file, data, size);
    std::map<std::string, std::vector<uint8_t>> before;
    try {
        tq::OCLStorage reader(file.c_str(), 0, tq::STGM_READ | tq::STGM_SHARE_DENY_WRITE);
        before = ReadAll(reader);
        if (reader.hasStream(kAdded)) return 0;
    } catch (const tq::StorageError&) {
        return 0;
    }
    try {
        tq::OCLStorage writer(file.c_str(), 0,
                              tq::STGM_READWRITE | tq::STGM_SHARE_DENY_WRITE | tq::STGM_TRANSACTED);
        tq::OCLStream added(writer, kAdded, 1, tq::STGM_READWRITE);
        added.writeU32(static_cast<uint32_t>(size));
        writer.Commit();
    } catch (const tq::StorageError&) {
        return 0;  // a stream that does not read whole cannot be rewritten
    }
    tq::OCLStorage reread(file.c_str(), 0, tq::STGM_READ);
    auto after = ReadAll(reread);
    if (after.erase(kAdded) != 1 || after.size() != before.size()) __builtin_trap();
    for (const auto& [name, bytes] : before) {
        const auto it = after.find(name);
        if (it == after.end() || it->second != bytes) __builtin_trap();
    }
    return 0;
}
