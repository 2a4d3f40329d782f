// Helpers of the storage suites: scratch folders, file bytes, whole streams.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"

namespace tq::test {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the temporary folder, removed with everything in it.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tqstorageXXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& dir() const { return dir_; }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    // Names of the files in the folder, hidden ones included.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string dir_;
};

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Deterministic bytes that differ with the seed and the offset.
inline Bytes Pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345;
        b[i] = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

// Replaces the whole content of stream `name`, creating it when missing.
inline void PutStream(OCLStorage& storage, const std::string& name, const Bytes& bytes) {
    OCLStream s(storage, name.c_str(), 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.setSize(0);
    s.write(bytes.data(), bytes.size());
}

inline Bytes GetStream(OCLStorage& storage, const std::string& name) {
    OCLStream s(storage, name.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    Bytes b(s.size());
    s.read(b.data(), b.size());
    return b;
}

// The store's access modes.
inline constexpr uint32_t kModuleMode = 0x10022;        // transacted read-write, deny write
inline constexpr uint32_t kNewModuleMode = 0x11022;     // the same, replacing the file
inline constexpr uint32_t kReadOnlyMode = 0x20;         // read, deny write
inline constexpr uint32_t kStreamMode = 0x12;           // read-write, exclusive

// The streams of a module file, as the store names them.
inline const std::vector<std::string>& ModuleStreamNames() {
    static const std::vector<std::string> names = {
        "Module version", "Static globals", "Objects",           "Blocks",
        "Signatures",     "Strings",        "Enumerations",      "ObjectProxies",
        "EnumerationProxies", "SignatureProxies", "IdStrings"};
    return names;
}

}  // namespace tq::test

// What a failure says must name the file and the fault.
#define EXPECT_STORAGE_ERROR(stmt, fragment)                                          \
    do {                                                                              \
        try {                                                                         \
            stmt;                                                                     \
            ADD_FAILURE() << #stmt " did not fail";                                   \
        } catch (const StorageError& e__) {                                           \
            EXPECT_NE(std::string(e__.what()).find(fragment), std::string::npos)      \
                << e__.what();                                                        \
        }                                                                             \
    } while (0)

