// Little-endian loads and stores on raw byte images.
//
// Raw records of the file format (descriptions, identifier entries, fault
// pointer bodies) are kept in memory exactly as they lie on disk, packed and
// unaligned. Their fields are read and written only through these helpers,
// never through a cast to a wider type, so the images are the same on every
// machine and no unaligned access is ever made.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tq {

inline uint16_t LoadLE16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t LoadLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t LoadLE64(const uint8_t* p) {
    return static_cast<uint64_t>(LoadLE32(p)) | (static_cast<uint64_t>(LoadLE32(p + 4)) << 32);
}

// n words at p into out, which may be p itself (a table read into its own
// place): on a little-endian machine the bytes are the words already.
inline void LoadLE32s(uint32_t* out, const uint8_t* p, size_t n) {
    if constexpr (std::endian::native == std::endian::little) {
        if (static_cast<const void*>(out) != p) std::memmove(out, p, 4 * n);
    } else {
        for (size_t k = 0; k < n; ++k) out[k] = LoadLE32(p + 4 * k);
    }
}

inline void StoreLE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void StoreLE64(uint8_t* p, uint64_t v) {
    StoreLE32(p, static_cast<uint32_t>(v));
    StoreLE32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace tq
