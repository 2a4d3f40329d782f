// OCLStream: one named stream of a storage, with a position, and the
// little-endian helpers through which every record of the system is written
// and read.
//
// Formats written here:
//   integers      little-endian, 1, 2 or 4 bytes
//   double        IEEE 754 binary64, little-endian
//   string        4-byte little-endian length n, then n bytes (no NUL)
//   class id      the 16 bytes of a GUID in its standard layout
//   reference     1 flags byte, then a 4-byte little-endian descriptor
//
// Every read checks the stream's size first: a read past the end raises
// StorageError naming the stream, the offset and the size, and leaves the
// position where it was; it never returns garbage. Writes at a position past
// the end extend the stream with zeros. A stream holds at most 2^32 - 1 bytes.
//
// A stream removed, or created and then reverted, no longer exists: using it
// raises StorageError, as does using one whose storage has gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/com/guid.h"
#include "platform/storage/oclstorage.h"

namespace tq {

class StreamState;

class OCLStream {
public:
    // Opens the stream `name` of the storage's root; flags bit 0 creates it
    // (empty) when missing. A missing stream opened without that bit raises
    // StorageError. On a storage without write access a missing stream opened
    // with the create bit reads as empty and refuses writes. Writes need write
    // access in `mode` (STGM_WRITE or STGM_READWRITE) as well as in the
    // storage. Names are 1 to 31 characters, without '/', '\\', ':' or '!'.
    OCLStream(OCLStorage& storage, const char* name, int flags, uint32_t mode);
    ~OCLStream();
    OCLStream(const OCLStream&) = delete;
    OCLStream& operator=(const OCLStream&) = delete;

    const std::string& name() const;
    bool isWritable() const;

    uint32_t size() const;
    uint32_t tell() const { return pos_; }
    uint32_t remaining() const { const uint32_t s = size(); return pos_ < s ? s - pos_ : 0; }
    void seek(uint32_t pos) { pos_ = pos; }
    void seekToEnd() { pos_ = size(); }
    void setSize(uint32_t n);

    // Raw bytes at the current position; the position advances.
    void read(void* buffer, size_t n);
    // Reads as read() does, but committed bytes are not checked against the
    // file's checksums (CfbReader::peek): for a cross-check that only looks
    // at a few bytes of many records, each of which is checked in full when
    // it is read.
    void peek(void* buffer, size_t n);
    void write(const void* buffer, size_t n);

    uint8_t readU8();
    uint16_t readU16();
    int16_t readI16() { return static_cast<int16_t>(readU16()); }
    uint32_t readU32();
    int32_t readI32() { return static_cast<int32_t>(readU32()); }
    float readFloat();
    double readDouble();
    // The string form; its length is checked against what the stream holds.
    std::string readString();
    GUID ReadClassStm();
    // The 5-byte reference form.
    void readReference(uint8_t& flags, uint32_t& descriptor);

    void writeU8(uint8_t v);
    void writeU16(uint16_t v);
    void writeI16(int16_t v) { writeU16(static_cast<uint16_t>(v)); }
    void writeU32(uint32_t v);
    void writeI32(int32_t v) { writeU32(static_cast<uint32_t>(v)); }
    void writeFloat(float v);
    void writeDouble(double v);
    void writeString(std::string_view s);
    void WriteClassStm(const GUID& id);
    void writeReference(uint8_t flags, uint32_t descriptor);

private:
    void readHere(void* buffer, size_t n, bool checked);

    StreamState& live() const;
    StreamState& writable() const;
    std::string where() const;

    std::shared_ptr<StreamState> state_;
    uint32_t pos_ = 0;
    bool writeAccess_ = false;
};

}  // namespace tq
