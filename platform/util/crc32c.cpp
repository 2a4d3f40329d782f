#include "platform/util/crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
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

// x^n modulo the polynomial, reflected as the register holds it (x^0 is the
// top bit): n steps of multiplying by x, each a shift and a conditional
// reduction. Used only for constants, at compile time.
constexpr uint32_t PowerOfX(size_t n) {
    uint32_t r = 0x80000000u;
    for (size_t i = 0; i < n; ++i) r = (r >> 1) ^ (r & 1 ? kPolynomial : 0);
    return r;
}

// One chain of instruction steps, eight bytes at a time, then the bytes
// left one at a time.
__attribute__((target("sse4.2"))) uint32_t OneLane(uint32_t c, const uint8_t* p, size_t n) {
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

// The instruction takes three cycles to give its result and can start one
// every cycle, so one chain of steps runs at a third of what the processor
// can do. A run of 3 * L bytes is taken as three lanes of L bytes at once,
// each in a register of its own, and the lanes are joined after: the
// checksum of a followed by b is that of a continued over |b| zero bytes,
// XOR that of b alone from 0. Continuing a register r over k zero bytes is
// r * x^(8k) modulo the polynomial; a carry-less multiplication of r by
// x^(8k-33) gives a 64-bit product that one instruction step from 0 reduces
// to exactly that (the step itself multiplies by x^32, and the product of
// two reflected values comes out one place short, a further x).
// The carry-less product of two 32-bit values (it fits in 63 bits).
__attribute__((target("pclmul"))) inline uint64_t Multiply(uint64_t a, uint64_t b) {
    const __m128i product = _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(a)),
                                                 _mm_cvtsi64_si128(static_cast<long long>(b)), 0);
    return static_cast<uint64_t>(_mm_cvtsi128_si64(product));
}

template <size_t L>
struct Lanes {
    static_assert(L % 8 == 0 && L >= 8);
    static constexpr uint64_t kOne = PowerOfX(8 * L - 33);   // over one lane
    static constexpr uint64_t kTwo = PowerOfX(16 * L - 33);  // over two

    __attribute__((target("sse4.2,pclmul"))) static uint32_t Take(uint32_t c, const uint8_t*& p,
                                                                size_t& n) {
        uint64_t c0 = c;
        for (; n >= 3 * L; n -= 3 * L, p += 3 * L) {
            uint64_t c1 = 0, c2 = 0;
            for (size_t i = 0; i < L; i += 8) {
                uint64_t w0, w1, w2;
                std::memcpy(&w0, p + i, 8);
                std::memcpy(&w1, p + L + i, 8);
                std::memcpy(&w2, p + 2 * L + i, 8);
                c0 = __builtin_ia32_crc32di(c0, w0);
                c1 = __builtin_ia32_crc32di(c1, w1);
                c2 = __builtin_ia32_crc32di(c2, w2);
            }
            c0 = __builtin_ia32_crc32di(0, Multiply(c0, kTwo) ^ Multiply(c1, kOne)) ^ c2;
        }
        return static_cast<uint32_t>(c0);
    }
};

// Lane lengths: a 4096-byte piece (what reads check) is one run of 3 x 1360
// and two steps; shorter remainders take the smaller runs.
__attribute__((target("sse4.2,pclmul"))) uint32_t ThreeLanes(uint32_t c, const uint8_t* p,
                                                               size_t n) {
    c = Lanes<1360>::Take(c, p, n);
    c = Lanes<336>::Take(c, p, n);
    c = Lanes<80>::Take(c, p, n);
    return OneLane(c, p, n);
}

// What the processor offers, asked at the first checksum, not at the
// library's load: the compiler's own feature check would bring in a
// load-time initialiser that every process pays for, checksums or not.
enum class Hardware { kNone, kCrc, kCrcAndMultiply };

Hardware Offered() {
    static const Hardware offered = [] {
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_SSE4_2) == 0)
            return Hardware::kNone;
        return (ecx & bit_PCLMUL) != 0 ? Hardware::kCrcAndMultiply : Hardware::kCrc;
    }();
    return offered;
}
#endif

}  // namespace

uint32_t Crc32cByTable(uint32_t crc, const void* data, size_t n) {
    return ~TableSteps(~crc, static_cast<const uint8_t*>(data), n);
}

uint32_t Crc32c(uint32_t crc, const void* data, size_t n) {
#ifdef TQ_CRC32C_HARDWARE
    switch (Offered()) {
    case Hardware::kCrcAndMultiply: return ~ThreeLanes(~crc, static_cast<const uint8_t*>(data), n);
    case Hardware::kCrc: return ~OneLane(~crc, static_cast<const uint8_t*>(data), n);
    case Hardware::kNone: break;
    }
#endif
    return Crc32cByTable(crc, data, n);
}

bool Crc32cInHardware() {
#ifdef TQ_CRC32C_HARDWARE
    return Offered() != Hardware::kNone;
#else
    return false;
#endif
}

}  // namespace tq
