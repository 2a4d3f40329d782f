#include "platform/util/crc32c.h"

#include <array>
#include <cstring>

namespace tq {

namespace {

constexpr uint32_t kPolynomial = 0x82F63B78;  // reflected Castagnoli

// Table k gives the checksum of a byte followed by k zero bytes, so that eight
// bytes can be taken in one step (slicing by eight).
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
    Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (c & 1 ? kPolynomial : 0);
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}

constexpr Tables kTables = MakeTables();

uint32_t TableSteps(uint32_t c, const uint8_t* p, size_t n) {
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t lo = c ^ (static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                 static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
        c = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
            kTables[4][lo >> 24] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^
            kTables[0][p[7]];
    }
    for (; n > 0; --n, ++p) c = (c >> 8) ^ kTables[0][(c ^ *p) & 0xFF];
    return c;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TQ_CRC32C_HARDWARE 1

__attribute__((target("sse4.2"))) uint32_t HardwareSteps(uint32_t c, const uint8_t* p, size_t n) {
    uint64_t c64 = c;
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);  // the instruction takes the bytes in memory order
        c64 = __builtin_ia32_crc32di(c64, word);
    }
    auto c32 = static_cast<uint32_t>(c64);
    for (; n > 0; --n, ++p) c32 = __builtin_ia32_crc32qi(c32, *p);
    return c32;
}

bool HasHardware() {
    static const bool has = __builtin_cpu_supports("sse4.2");
    return has;
}
#endif

}  // namespace

uint32_t Crc32cByTable(uint32_t crc, const void* data, size_t n) {
    return ~TableSteps(~crc, static_cast<const uint8_t*>(data), n);
}

uint32_t Crc32c(uint32_t crc, const void* data, size_t n) {
#ifdef TQ_CRC32C_HARDWARE
    if (HasHardware()) return ~HardwareSteps(~crc, static_cast<const uint8_t*>(data), n);
#endif
    return Crc32cByTable(crc, data, n);
}

bool Crc32cInHardware() {
#ifdef TQ_CRC32C_HARDWARE
    return HasHardware();
#else
    return false;
#endif
}

}  // namespace tq
