#include "platform/storage/checksums.h"

#include <algorithm>

#include "platform/storage/oclstorage.h"
#include "platform/util/crc32c.h"
#include "platform/util/lebytes.h"
#include "platform/util/uassert.h"

namespace tq {

namespace {

constexpr uint8_t kSignature[4] = {'T', 'Q', 'C', 'S'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeadSize = 16;

uint32_t PieceCount(uint32_t size, uint32_t pieceSize) {
    return size / pieceSize + (size % pieceSize != 0 ? 1 : 0);
}

bool IsPieceSize(uint32_t n) {
    return n >= kMinChecksumPieceSize && n <= kMaxChecksumPieceSize && (n & (n - 1)) == 0;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    out.resize(out.size() + 4);
    StoreLE32(out.data() + out.size() - 4, v);
}

StorageError Damaged(const std::string& path, const std::string& what) {
    return StorageError(path + ": the stream \"" + kChecksumStreamName + "\" is damaged: " + what);
}

// Reads the stream's words in order; running past its end is damage.
class Cursor {
public:
    Cursor(const std::vector<uint8_t>& bytes, size_t end, const std::string& path)
        : bytes_(bytes), end_(end), path_(path) {}
    uint32_t u32() {
        need(4);
        const uint32_t v = LoadLE32(bytes_.data() + pos_);
        pos_ += 4;
        return v;
    }
    std::string text(uint32_t n) {
        need(n);
        std::string s(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
        pos_ += n;
        return s;
    }
    size_t position() const { return pos_; }

private:
    void need(size_t n) const {
        if (n > end_ - pos_) throw Damaged(path_, "it ends inside an entry");
    }

    const std::vector<uint8_t>& bytes_;
    size_t end_;
    const std::string& path_;
    size_t pos_ = 0;
};

}  // namespace

bool IsChecksumStreamName(const std::string& name) {
    const std::string ours = kChecksumStreamName;
    return name.size() == ours.size() &&
           std::equal(name.begin(), name.end(), ours.begin(),
                      [](char a, char b) { return Lower(a) == Lower(b); });
}

std::vector<uint8_t> EncodeChecksums(const ChecksumTable& table, uint32_t pieceSize) {
    TQ_ASSERT(IsPieceSize(pieceSize), "a piece size a reader takes");
    std::vector<uint8_t> out(kSignature, kSignature + 4);
    PutU32(out, kVersion);
    PutU32(out, pieceSize);
    PutU32(out, static_cast<uint32_t>(table.size()));
    for (const auto& [name, sum] : table) {
        TQ_ASSERT(sum.pieceSize == pieceSize && sum.pieces.size() == PieceCount(sum.size, pieceSize),
                  "one checksum per piece");
        PutU32(out, static_cast<uint32_t>(name.size()));
        out.insert(out.end(), name.begin(), name.end());
        PutU32(out, sum.size);
        for (const uint32_t crc : sum.pieces) PutU32(out, crc);
    }
    PutU32(out, Crc32c(0, out.data(), out.size()));
    return out;
}

ChecksumTable DecodeChecksums(const std::vector<uint8_t>& bytes, const CfbListing& listing,
                              const std::string& path) {
    if (bytes.size() < kHeadSize + 4) throw Damaged(path, "it is too short");
    const size_t end = bytes.size() - 4;
    if (Crc32c(0, bytes.data(), end) != LoadLE32(bytes.data() + end))
        throw Damaged(path, "its bytes do not match their own checksum");
    Cursor in(bytes, end, path);
    if (!std::equal(kSignature, kSignature + 4, in.text(4).begin()))
        throw Damaged(path, "it lacks its signature");
    const uint32_t version = in.u32();
    if (version != kVersion)
        throw StorageError(path + ": the stream \"" + kChecksumStreamName + "\" has version " +
                           std::to_string(version) + ", which this program cannot read");
    const uint32_t pieceSize = in.u32();
    if (!IsPieceSize(pieceSize)) throw Damaged(path, "its piece size is wrong");
    const uint32_t count = in.u32();

    std::map<std::string, uint32_t> streams;  // the directory's, but this one
    for (const CfbEntry& e : listing.root)
        if (!e.isStorage && !IsChecksumStreamName(e.name)) streams.emplace(e.name, e.size);
    if (count != streams.size())
        throw Damaged(path, "it lists " + std::to_string(count) +
                                        " streams where the file has " +
                                        std::to_string(streams.size()));
    ChecksumTable table;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t length = in.u32();
        const std::string name = in.text(length);
        StreamChecksum sum;
        sum.size = in.u32();
        sum.pieceSize = pieceSize;
        const auto it = streams.find(name);
        if (it == streams.end() || table.count(name) != 0)
            throw StorageError(path + ": the file is damaged: the stream \"" + name +
                               "\" that the checksums list is not in its directory");
        if (it->second != sum.size)
            throw StorageError(path + ": the file is damaged: the directory gives the stream \"" +
                               name + "\" " + std::to_string(it->second) +
                               " bytes where its checksums count " + std::to_string(sum.size));
        const uint32_t pieces = PieceCount(sum.size, pieceSize);
        if (pieces > (end - in.position()) / 4) throw Damaged(path, "it ends inside an entry");
        sum.pieces.resize(pieces);
        for (uint32_t& crc : sum.pieces) crc = in.u32();
        table.emplace(name, std::move(sum));
    }
    if (in.position() != end) throw Damaged(path, "bytes follow its last entry");
    return table;
}

ChecksumBuilder::ChecksumBuilder(uint32_t size, uint32_t pieceSize) {
    TQ_ASSERT(IsPieceSize(pieceSize), "a piece size a reader takes");
    result_.size = size;
    result_.pieceSize = pieceSize;
    result_.pieces.reserve(PieceCount(size, pieceSize));
}

void ChecksumBuilder::add(const uint8_t* data, size_t n) {
    TQ_ASSERT(taken_ + n <= result_.size, "no more bytes than the stream holds");
    taken_ += n;
    while (n > 0) {
        const size_t step = std::min<size_t>(n, result_.pieceSize - inPiece_);
        crc_ = Crc32c(crc_, data, step);
        inPiece_ += static_cast<uint32_t>(step);
        data += step;
        n -= step;
        if (inPiece_ == result_.pieceSize) {
            result_.pieces.push_back(crc_);
            crc_ = 0;
            inPiece_ = 0;
        }
    }
}

StreamChecksum ChecksumBuilder::take() {
    TQ_ASSERT(taken_ == result_.size, "every byte of the stream added");
    if (inPiece_ != 0) result_.pieces.push_back(crc_);
    inPiece_ = 0;
    crc_ = 0;
    return std::move(result_);
}

}  // namespace tq
