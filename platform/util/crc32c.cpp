#include "platform/util/crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

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

// The instruction takes three cycles to give its result and can start one
// every cycle, so one chain of steps runs at a third of what the processor
// can do. Runs of 3 * L bytes are taken as three lanes of L bytes at once,
// each from a register of its own, and joined after: the checksum of a
// followed by b is that of a continued over |b| zero bytes, XOR that of b
// alone (from 0), and continuing over L zero bytes is linear in the
// register, so one table lookup per byte of it does it (ZeroTables).
struct ZeroTables {
    std::array<std::array<uint32_t, 256>, 4> t;
    uint32_t operator()(uint32_t c) const {
        return t[0][c & 0xFF] ^ t[1][(c >> 8) & 0xFF] ^ t[2][(c >> 16) & 0xFF] ^ t[3][c >> 24];
    }
};

ZeroTables MakeZeroTables(size_t zeros) {
    // What `zeros` zero bytes make of each single bit of the register.
    std::array<uint32_t, 32> bit{};
    for (int b = 0; b < 32; ++b) {
        uint32_t c = uint32_t{1} << b;
        for (size_t i = 0; i < zeros; ++i) c = (c >> 8) ^ kTables[0][c & 0xFF];
        bit[b] = c;
    }
    ZeroTables z{};
    for (int k = 0; k < 4; ++k)
        for (uint32_t v = 0; v < 256; ++v)
            for (int b = 0; b < 8; ++b)
                if (v & (1u << b)) z.t[k][v] ^= bit[8 * k + b];
    return z;
}

constexpr size_t kLongLane = 1024;  // a 4096-byte piece is one long run and two short ones
constexpr size_t kShortLane = 128;

template <size_t L>
__attribute__((target("sse4.2"))) uint64_t ThreeLanes(uint64_t c, const uint8_t*& p, size_t& n,
                                                      const ZeroTables& zeros) {
    for (; n >= 3 * L; n -= 3 * L, p += 3 * L) {
        uint64_t c1 = 0, c2 = 0;
        for (size_t i = 0; i < L; i += 8) {
            uint64_t w0, w1, w2;
            std::memcpy(&w0, p + i, 8);  // the instruction takes the bytes in memory order
            std::memcpy(&w1, p + L + i, 8);
            std::memcpy(&w2, p + 2 * L + i, 8);
            c = __builtin_ia32_crc32di(c, w0);
            c1 = __builtin_ia32_crc32di(c1, w1);
            c2 = __builtin_ia32_crc32di(c2, w2);
        }
        c = zeros(static_cast<uint32_t>(c)) ^ c1;
        c = zeros(static_cast<uint32_t>(c)) ^ c2;
    }
    return c;
}

__attribute__((target("sse4.2"))) uint32_t HardwareSteps(uint32_t c, const uint8_t* p, size_t n) {
    static const ZeroTables longZeros = MakeZeroTables(kLongLane);
    static const ZeroTables shortZeros = MakeZeroTables(kShortLane);
    uint64_t c64 = ThreeLanes<kLongLane>(c, p, n, longZeros);
    c64 = ThreeLanes<kShortLane>(c64, p, n, shortZeros);
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        c64 = __builtin_ia32_crc32di(c64, word);
    }
    auto c32 = static_cast<uint32_t>(c64);
    for (; n > 0; --n, ++p) c32 = __builtin_ia32_crc32qi(c32, *p);
    return c32;
}

// Asked of the processor at the first checksum, not at the library's load:
// the compiler's own feature check would bring in a load-time initialiser that
// every process pays for, checksums or not.
bool HasHardware() {
    static const bool has = [] {
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_SSE4_2) != 0;
    }();
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
