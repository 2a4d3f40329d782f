#include "platform/storage/oclstream.h"

#include <cstring>

#include "platform/storage/storageimpl.h"
#include "platform/util/lebytes.h"

namespace tq {

namespace {

constexpr uint32_t kWriteBits = STGM_WRITE | STGM_READWRITE;

}  // namespace

OCLStream::OCLStream(OCLStorage& storage, const char* name, int flags, uint32_t mode)
    : state_(storage.impl_->openStream(name ? name : "", (flags & 1) != 0)),
      writeAccess_((mode & kWriteBits) != 0) {}

OCLStream::~OCLStream() = default;

const std::string& OCLStream::name() const { return state_->name(); }

std::string OCLStream::where() const {
    const StorageImpl* owner = state_->owner();
    return (owner ? owner->path() + ": " : std::string()) + "stream \"" + state_->name() + "\"";
}

StreamState& OCLStream::live() const {
    if (state_->owner() == nullptr)
        throw StorageError(where() + ": its storage has been closed");
    if (!state_->content.exists()) throw StorageError(where() + " no longer exists");
    return *state_;
}

StreamState& OCLStream::writable() const {
    StreamState& state = live();
    if (!writeAccess_) throw StorageError(where() + " was opened without write access");
    state.owner()->checkWritable(state);
    return state;
}

bool OCLStream::isWritable() const {
    return writeAccess_ && state_->owner() != nullptr && state_->owner()->isWritable() &&
           state_->content.exists();
}

uint32_t OCLStream::size() const { return live().content.size(); }

void OCLStream::setSize(uint32_t n) {
    StreamState& state = writable();
    state.content.setSize(n);
    state.owner()->markDirty();
}

void OCLStream::read(void* buffer, size_t n) { readHere(buffer, n, true); }

void OCLStream::peek(void* buffer, size_t n) { readHere(buffer, n, false); }

void OCLStream::readHere(void* buffer, size_t n, bool checked) {
    StreamState& state = live();
    const uint32_t size = state.content.size();
    if (n > size || pos_ > size - n)
        throw StorageError(where() + ": cannot read " + std::to_string(n) + " bytes at offset " +
                           std::to_string(pos_) + ": the stream holds " + std::to_string(size) +
                           " bytes");
    state.content.read(pos_, buffer, n, checked);
    pos_ += static_cast<uint32_t>(n);
}

void OCLStream::write(const void* buffer, size_t n) {
    StreamState& state = writable();
    if (n > UINT32_MAX - pos_)
        throw StorageError(where() + ": cannot write " + std::to_string(n) + " bytes at offset " +
                           std::to_string(pos_) + ": a stream holds less than 4 GiB");
    if (n == 0) return;
    state.content.write(pos_, buffer, n);
    state.owner()->markDirty();
    state.owner()->countWritten(n);
    pos_ += static_cast<uint32_t>(n);
}

// ---- little-endian helpers --------------------------------------------------------

uint8_t OCLStream::readU8() {
    uint8_t b;
    read(&b, 1);
    return b;
}

uint16_t OCLStream::readU16() {
    uint8_t b[2];
    read(b, sizeof b);
    return LoadLE16(b);
}

uint32_t OCLStream::readU32() {
    uint8_t b[4];
    read(b, sizeof b);
    return LoadLE32(b);
}

float OCLStream::readFloat() {
    const uint32_t bits = readU32();
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

double OCLStream::readDouble() {
    uint8_t b[8];
    read(b, sizeof b);
    const uint64_t bits = LoadLE32(b) | (static_cast<uint64_t>(LoadLE32(b + 4)) << 32);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::string OCLStream::readString() {
    const uint32_t start = pos_;
    const uint32_t n = readU32();
    // The length comes from the file: it is checked against what the stream
    // holds before anything is allocated for it.
    if (n > remaining()) {
        const uint32_t size = this->size();
        pos_ = start;
        throw StorageError(where() + ": the string at offset " + std::to_string(start) +
                           " claims " + std::to_string(n) + " bytes, but the stream holds " +
                           std::to_string(size) + " bytes");
    }
    std::string s(n, '\0');
    read(s.data(), n);
    return s;
}

GUID OCLStream::ReadClassStm() {
    uint8_t b[16];
    read(b, sizeof b);
    return GUID::FromBytes(b);
}

void OCLStream::readReference(uint8_t& flags, uint32_t& descriptor) {
    uint8_t b[5];
    read(b, sizeof b);
    flags = b[0];
    descriptor = LoadLE32(b + 1);
}

void OCLStream::writeU8(uint8_t v) { write(&v, 1); }

void OCLStream::writeU16(uint16_t v) {
    uint8_t b[2];
    StoreLE16(b, v);
    write(b, sizeof b);
}

void OCLStream::writeU32(uint32_t v) {
    uint8_t b[4];
    StoreLE32(b, v);
    write(b, sizeof b);
}

void OCLStream::writeFloat(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    writeU32(bits);
}

void OCLStream::writeDouble(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    uint8_t b[8];
    StoreLE32(b, static_cast<uint32_t>(bits));
    StoreLE32(b + 4, static_cast<uint32_t>(bits >> 32));
    write(b, sizeof b);
}

void OCLStream::writeString(std::string_view s) {
    if (s.size() > UINT32_MAX - 4)
        throw StorageError(where() + ": a string of " + std::to_string(s.size()) +
                           " bytes is too long for a stream");
    // One write for length and bytes, so that a failure leaves neither.
    std::string record(4 + s.size(), '\0');
    StoreLE32(reinterpret_cast<uint8_t*>(record.data()), static_cast<uint32_t>(s.size()));
    std::memcpy(record.data() + 4, s.data(), s.size());
    write(record.data(), record.size());
}

void OCLStream::WriteClassStm(const GUID& id) {
    const auto b = id.toBytes();
    write(b.data(), b.size());
}

void OCLStream::writeReference(uint8_t flags, uint32_t descriptor) {
    uint8_t b[5];
    b[0] = flags;
    StoreLE32(b + 1, descriptor);
    write(b, sizeof b);
}

}  // namespace tq
