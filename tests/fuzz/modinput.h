// The input form of the module fuzz target, shared with the test that makes
// its seeds from modules the store saved.
//
// An input is a list of streams, each
//
//   offset  width  meaning
//   0       1      stream number: an index into kModuleStreams (mod its size)
//   1       2      n, little-endian
//   3       n      the stream's bytes (fewer when the input ends first)
//
// which the target writes into a fresh compound file. A first byte of 0xFF
// makes the rest of the input the whole file instead, compound-file header
// and all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tq::fuzz {

inline constexpr const char* kModuleStreams[] = {
    "Module version", "Static globals", "Objects",       "Signatures",         "Strings",
    "IdStrings",      "Enumerations",   "ObjectProxies", "EnumerationProxies", "SignatureProxies",
    "Blocks"};
inline constexpr size_t kModuleStreamCount = sizeof kModuleStreams / sizeof kModuleStreams[0];
inline constexpr uint8_t kRawFile = 0xFF;

using StreamList = std::vector<std::pair<std::string, std::string>>;

inline StreamList DecodeModuleInput(const uint8_t* data, size_t size) {
    StreamList streams;
    size_t pos = 0;
    while (pos + 3 <= size) {
        const char* name = kModuleStreams[data[pos] % kModuleStreamCount];
        const size_t n = data[pos + 1] | (size_t(data[pos + 2]) << 8);
        pos += 3;
        const size_t take = n < size - pos ? n : size - pos;
        streams.emplace_back(name, std::string(reinterpret_cast<const char*>(data + pos), take));
        pos += take;
    }
    return streams;
}

// The input that makes these streams; a stream is cut at 65,535 bytes.
inline std::string EncodeModuleInput(const StreamList& streams) {
    std::string out;
    for (const auto& [name, bytes] : streams) {
        uint8_t number = 0;
        while (number < kModuleStreamCount && name != kModuleStreams[number]) ++number;
        if (number == kModuleStreamCount) continue;
        const size_t n = bytes.size() < 0xFFFF ? bytes.size() : 0xFFFF;
        out += char(number);
        out += char(n & 0xFF);
        out += char(n >> 8);
        out += bytes.substr(0, n);
    }
    return out;
}

}  // namespace tq::fuzz
