// CRC-32C (Castagnoli), the checksum of module file streams.
//
// Why CRC-32C: it catches every burst error of up to 32 bits and every odd
// number of flipped bits, which is how storage damages bytes, and x86-64
// processors since 2008 compute it in hardware (SSE4.2 `crc32`) at several
// gigabytes a second, so checking what a read brings in costs little next to
// the read. Processors without the instruction take a table, eight bytes per
// step; both give the same value (the standard one: reflected polynomial
// 0x82F63B78, initial value and final XOR 0xFFFFFFFF).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tq {

// The checksum of n bytes continued from `crc`, the checksum of what came
// before them (0 for none): Crc32c(Crc32c(0, a), b) == Crc32c(0, a b).
uint32_t Crc32c(uint32_t crc, const void* data, size_t n);

// The same by the table alone, whatever the processor offers (for tests and
// the benchmark that compares the two).
uint32_t Crc32cByTable(uint32_t crc, const void* data, size_t n);

// True when Crc32c uses the processor's instruction.
bool Crc32cInHardware();

}  // namespace tq
