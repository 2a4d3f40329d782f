// The input form of the block fuzz target, shared with the test that makes
// its seeds from blocks the store saved:
//
//   offset  width  meaning
//   0       1      number of block records r (at most kMaxBlocks)
//   1       2 * r  the records' lengths, little-endian
//   ...            the records' bytes, end to end (missing bytes are absent)
//
// The target puts the records, as entries 0 to r-1, into the "Blocks" table
// of an otherwise empty module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tq::fuzz {

inline constexpr size_t kMaxBlocks = 8;
// The names a block's identifiers may index when the target runs it.
inline constexpr const char* kBlockNames[] = {"a", "b", "c", "d", "e", "f", "g", "Text"};
inline constexpr size_t kBlockNameCount = sizeof kBlockNames / sizeof kBlockNames[0];

inline std::vector<std::string> DecodeBlockInput(const uint8_t* data, size_t size) {
    size_t pos = 0;
    auto u8 = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };
    const size_t count = u8() % (kMaxBlocks + 1);
    std::vector<size_t> lengths;
    for (size_t i = 0; i < count; ++i) {
        const size_t lo = u8();
        lengths.push_back(lo | (size_t(u8()) << 8));
    }
    std::vector<std::string> records;
    for (size_t n : lengths) {
        const size_t take = n < size - pos ? n : size - pos;
        records.emplace_back(reinterpret_cast<const char*>(data + pos), take);
        pos += take;
    }
    return records;
}

inline std::string EncodeBlockInput(const std::vector<std::string>& records) {
    std::string out;
    out += char(records.size());
    for (const std::string& r : records) {
        out += char(r.size() & 0xFF);
        out += char((r.size() >> 8) & 0xFF);
    }
    for (const std::string& r : records) out += r;
    return out;
}

}  // namespace tq::fuzz
