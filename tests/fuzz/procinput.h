// The input form of the procedure fuzz target, shared with the test that
// makes its seeds from procedures the store saved:
//
//   offset  width  meaning
//   0       1      number of block records b (at most kMaxRecords)
//   1       1      number of signature records s (at most kMaxRecords)
//   2       1      number of object records o (at most kMaxRecords)
//   3       2*(b+s+o)  their lengths, little-endian, in that order
//   ...     2      the length of the procedure's field record
//   ...            the records' bytes in the same order, then the field
//                  record (missing bytes are absent)
//
// The target puts the records, as entries 0 to n-1, into the "Blocks",
// "Signatures" and "Objects" tables of a module whose identifier table
// holds kProcNames, reads the field record as a field of that module and
// runs the procedure it gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tq::fuzz {

inline constexpr size_t kMaxRecords = 16;
// The names the records may use, entries 0 to n-1 of the identifier table.
inline constexpr const char* kProcNames[] = {"Program", "Main", "a", "b", "c", "n", "s", "Text", "Oops", "i", "Fib"};
inline constexpr size_t kProcNameCount = sizeof kProcNames / sizeof kProcNames[0];

struct ProcInput {
    std::vector<std::string> blocks, signatures, objects;
    std::string field;
};

inline ProcInput DecodeProcInput(const uint8_t* data, size_t size) {
    size_t pos = 0;
    auto u8 = [&]() -> size_t { return pos < size ? data[pos++] : 0; };
    auto u16 = [&]() -> size_t {
        const size_t lo = u8();
        return lo | (u8() << 8);
    };
    ProcInput in;
    std::vector<std::string>* lists[] = {&in.blocks, &in.signatures, &in.objects};
    size_t counts[3];
    for (size_t& c : counts) c = u8() % (kMaxRecords + 1);
    std::vector<size_t> lengths;
    for (size_t c : counts)
        for (size_t i = 0; i < c; ++i) lengths.push_back(u16());
    const size_t fieldLength = u16();
    auto take = [&](size_t n) {
        const size_t k = n < size - pos ? n : size - pos;
        std::string s(reinterpret_cast<const char*>(data + pos), k);
        pos += k;
        return s;
    };
    size_t next = 0;
    for (size_t l = 0; l < 3; ++l)
        for (size_t i = 0; i < counts[l]; ++i) lists[l]->push_back(take(lengths[next++]));
    in.field = take(fieldLength);
    return in;
}

inline std::string EncodeProcInput(const ProcInput& in) {
    std::string out;
    auto put16 = [&](size_t n) {
        out += char(n & 0xFF);
        out += char((n >> 8) & 0xFF);
    };
    for (const auto* l : {&in.blocks, &in.signatures, &in.objects}) out += char(l->size());
    for (const auto* l : {&in.blocks, &in.signatures, &in.objects})
        for (const std::string& r : *l) put16(r.size());
    put16(in.field.size());
    for (const auto* l : {&in.blocks, &in.signatures, &in.objects})
        for (const std::string& r : *l) out += r;
    out += in.field;
    return out;
}

}  // namespace tq::fuzz
