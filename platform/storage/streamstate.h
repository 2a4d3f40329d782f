// StreamState: the content of one stream of a storage, as its transaction sees
// it.
//
// A stream's bytes are its committed bytes (read on demand from a CfbReader)
// under an overlay of 4096-byte pages that hold what was written since the
// last commit. Only pages that were written are in memory; a read takes each
// byte from the overlay when its page is there, else from the committed bytes,
// else it is zero (a stream grown past its committed length).
//
// Invariants:
//  1. baseLimit <= size: committed bytes at or past baseLimit are gone (the
//     stream was cut there) and never show through again.
//  2. Overlay bytes at or past size are zero, so growing a stream shows zeros.
//  3. Pages are shared between copies of a content (CopyTo) and copied before
//     a write when shared.
//
// A StreamState is shared by every OCLStream opened on that name and by the
// storage, which resets its content on Commit, Revert and CopyTo, so open
// streams see those at once.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tq {

class CfbReader;
class StorageImpl;

class StreamContent {
public:
    static constexpr uint32_t kPageSize = 4096;

    // A stream that does not exist.
    StreamContent() = default;
    // A new, empty stream.
    static StreamContent Empty();
    // The committed stream `name` of `base`, of `size` bytes.
    static StreamContent Committed(std::shared_ptr<CfbReader> base, std::string name,
                                   uint32_t size);

    bool exists() const { return exists_; }
    uint32_t size() const { return size_; }
    // True when nothing has been written over the committed bytes.
    bool isCommitted() const { return pages_.empty() && baseLimit_ == size_; }
    const std::shared_ptr<CfbReader>& base() const { return base_; }
    // True when the bytes not written since come from stream `name` of base.
    bool readsFrom(const CfbReader* base, const std::string& name) const {
        return base_.get() == base && baseName_ == name;
    }
    // The ranges [first, second) that may differ from the committed bytes:
    // the overlay's pages and everything past baseLimit, within size(),
    // in order and apart.
    std::vector<std::pair<uint32_t, uint32_t>> changedRanges() const;

    // The caller has checked that [offset, offset + n) lies within size().
    // Unless `checked` is false (CfbReader::peek), committed bytes are read
    // through their checksums.
    void read(uint32_t offset, void* out, size_t n, bool checked = true) const;
    // The caller has checked that offset + n does not pass 2^32 - 1. Writing
    // past the end fills the gap with zeros.
    void write(uint32_t offset, const void* data, size_t n);
    void setSize(uint32_t n);

    // Reads committed bytes from `to` instead of `from`, a byte copy of it.
    void rebase(const std::shared_ptr<CfbReader>& from, const std::shared_ptr<CfbReader>& to);

private:
    using Page = std::array<uint8_t, kPageSize>;

    Page& writablePage(uint32_t index);

    bool exists_ = false;
    std::shared_ptr<CfbReader> base_;
    std::string baseName_;
    uint32_t baseLimit_ = 0;
    uint32_t size_ = 0;
    std::map<uint32_t, std::shared_ptr<Page>> pages_;
};

class StreamState {
public:
    StreamState(StorageImpl* owner, std::string name) : owner_(owner), name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    StorageImpl* owner() const { return owner_; }
    void detach() { owner_ = nullptr; }

    StreamContent content;

private:
    StorageImpl* owner_;  // null once the storage is gone
    std::string name_;
};

}  // namespace tq
