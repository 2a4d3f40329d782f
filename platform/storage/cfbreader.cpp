#include "platform/storage/cfbreader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "platform/storage/cfbtables.h"
#include "platform/storage/gsfapi.h"
#include "platform/storage/gsfio.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/crc32c.h"
#include "platform/util/lebytes.h"

namespace tq {

namespace {

std::string WithDetail(std::string text, GError* error) {
    std::string detail = error ? error->message : "";
    if (detail.empty()) detail = gsfio::TakeLastMessage();
    else gsfio::TakeLastMessage();
    if (!detail.empty()) text += " (" + detail + ")";
    return text;
}

}  // namespace

CfbReader::CfbReader(int fd, std::string path, uint64_t size)
    : fd_(fd), path_(std::move(path)), size_(size) {}

std::shared_ptr<CfbReader> CfbReader::Open(int fd, const std::string& path, bool checked) {
    // The reader owns fd from here on, and closes it on every failure.
    std::shared_ptr<CfbReader> reader(new CfbReader(fd, path, 0));
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw StorageError(path + ": cannot read the file: " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw StorageError(path + ": not a regular file");
    reader->size_ = static_cast<uint64_t>(st.st_size);
    reader->file_ = std::make_unique<CfbFile>(fd, reader->size_, path, &reader->bytesRead_);
    reader->listing_ = CheckCompoundFile(*reader->file_);
    if (checked) reader->readChecksums();
    if (!reader->checked_) {
        // Nothing will check the streams' bytes as they are read: the
        // tables are checked whole now, as they always were.
        reader->file_->readWholeTable();
        reader->readMiniTable("");
        reader->followMiniStream(reader->miniStream_.count(), "");
    }
    return reader;
}

CfbReader::~CfbReader() {
    // libgsf objects exist only once gsfRoot loaded it.
    if (input_) {
        const GsfApi& gsf = Gsf();
        if (root_) gsf.g_object_unref(root_);
        gsf.g_object_unref(input_);
    }
    ::close(fd_);
}

const CfbEntry* CfbReader::find(const std::string& name) const {
    for (const CfbEntry& e : listing_.root)
        if (e.name == name) return &e;
    return nullptr;
}

_GsfInfile* CfbReader::gsfRoot() {
    if (root_) return root_;
    gsfio::EnsureInit(path_);
    const GsfApi& gsf = Gsf();
    gsfio::TakeLastMessage();
    if (!input_) input_ = gsfio::NewFdInput(fd_, size_, &bytesRead_);
    GError* error = nullptr;
    GsfInfile* root = gsf.gsf_infile_msole_new(input_, &error);
    if (root == nullptr) {
        const std::string text = WithDetail(path_ + ": not a valid compound file", error);
        if (error) gsf.g_error_free(error);
        throw StorageError(text);
    }
    // libgsf silently leaves out entries it cannot take; what it copies must
    // be exactly what was checked.
    const int children = gsf.gsf_infile_num_children(root);
    bool same = children >= 0 && static_cast<size_t>(children) == listing_.root.size();
    for (int i = 0; same && i < children; ++i) {
        const char* name = gsf.gsf_infile_name_by_index(root, i);
        same = name != nullptr && find(name) != nullptr;
    }
    if (!same) {
        gsf.g_object_unref(root);
        throw StorageError(WithDetail(path_ + ": not a valid compound file: the directory "
                                              "cannot be read whole",
                                      nullptr));
    }
    root_ = root;
    return root_;
}

// ---- the container's chains ----------------------------------------------------------

void CfbReader::damaged(const std::string& name, const std::string& reason) const {
    if (name.empty()) file_->corrupt(reason);
    throw StorageError(path_ + ": stream \"" + name + "\" cannot be read: the file is damaged (" +
                       reason + ")");
}

CfbReader::Stream& CfbReader::stream(const std::string& name) {
    const auto it = streams_.find(name);
    if (it != streams_.end()) return it->second;
    const CfbEntry* entry = find(name);
    if (entry == nullptr || entry->isStorage)
        throw StorageError(path_ + ": no stream named \"" + name + "\"");
    const uint32_t unit = entry->size < kCfbMiniStreamCutoff ? kCfbMiniSectorSize
                                                             : file_->sectorSize();
    const auto guard = guards_.find(name);
    Stream& s = streams_[name];
    s.name = &streams_.find(name)->first;
    s.entry = entry;
    s.guard = guard == guards_.end() ? nullptr : &guard->second;
    s.chain = CfbChain(entry->start, (uint64_t{entry->size} + unit - 1) / unit);
    return s;
}

void CfbReader::follow(Stream& s, size_t upTo) {
    const std::string& name = *s.name;
    CfbChain::Fault fault;
    if (s.entry->size < kCfbMiniStreamCutoff) {
        // Mini sectors past the mini stream's end hold nothing of it.
        const uint64_t inStream = (uint64_t{listing_.miniStreamSize} + kCfbMiniSectorSize - 1) /
                                  kCfbMiniSectorSize;
        const auto limit = static_cast<uint32_t>(std::min<uint64_t>(miniTable_.size(), inStream));
        fault = s.chain.extend(
            upTo, limit, [this](uint32_t m) { return miniTable_[m]; },
            [this](uint32_t m, uint32_t most) {
                uint32_t n = 0;
                while (n < most && miniTable_[m + n] == m + n + 1) ++n;
                return n;
            });
        if (fault != CfbChain::Fault::kNone)
            damaged(name, CfbChain::Describe(fault, "its mini-sector chain", "the stream",
                                             "the mini stream"));
    } else {
        fault = s.chain.extend(upTo, *file_);
        if (fault != CfbChain::Fault::kNone)
            damaged(name, CfbChain::Describe(fault, "its sector chain", "the stream", "the file"));
    }
}

// The mini table, whole: it is small (a word per 64 bytes of the streams
// below the cutoff).
void CfbReader::readMiniTable(const std::string& name) {
    if (miniTableRead_) return;
    const uint32_t sectorSize = file_->sectorSize();
    CfbChain chain(file_->firstMiniTableSector(), file_->miniTableSectorCount());
    const CfbChain::Fault fault = chain.extend(chain.count(), *file_);
    if (fault != CfbChain::Fault::kNone)
        damaged(name, CfbChain::Describe(fault, "the mini table's sector chain", "the mini table",
                                         "the file"));
    std::vector<uint32_t> table(chain.count() * (sectorSize / 4));
    std::vector<uint8_t> bytes(sectorSize);
    for (size_t i = 0; i < chain.count(); ++i) {
        const uint64_t at = file_->sectorOffset(chain[i]);
        if (at + sectorSize > size_) damaged(name, "the mini table lies past the end of the file");
        file_->readAt(at, bytes.data(), sectorSize, "the mini table");
        LoadLE32s(table.data() + i * (sectorSize / 4), bytes.data(), sectorSize / 4);
    }
    miniTable_ = std::move(table);
    miniTableRead_ = true;
    miniStream_ = CfbChain(listing_.miniStreamStart,
                           (uint64_t{listing_.miniStreamSize} + sectorSize - 1) / sectorSize);
}

// The mini stream's own chain, as far as `upTo` sectors; a fault is named
// with the stream whose read met it (none at opening).
void CfbReader::followMiniStream(size_t upTo, const std::string& name) {
    const CfbChain::Fault fault = miniStream_.extend(upTo, *file_);
    if (fault != CfbChain::Fault::kNone)
        damaged(name, CfbChain::Describe(fault, "the mini stream's sector chain", "the mini stream",
                                         "the file"));
}

// A stream below the cutoff, whole: its mini sectors, each found in the mini
// stream's sectors, read in one call for each run that lies side by side in
// the file (in a file we wrote, one run).
void CfbReader::readSmall(Stream& s) {
    if (s.read) return;
    const std::string& name = *s.name;
    readMiniTable(name);
    const uint32_t size = s.entry->size;
    follow(s, s.chain.count());
    const uint32_t sectorSize = file_->sectorSize();
    std::vector<uint8_t> whole(size);
    uint64_t runAt = 0;
    size_t runFrom = 0, runLength = 0;
    const auto flush = [&] {
        if (runLength == 0) return;
        if (runAt + runLength > size_) damaged(name, "its bytes lie past the end of the file");
        file_->readAt(runAt, whole.data() + runFrom, runLength, "a stream");
    };
    for (size_t i = 0; i < s.chain.count(); ++i) {
        const uint64_t inMini = uint64_t{s.chain[i]} * kCfbMiniSectorSize;
        const size_t sector = static_cast<size_t>(inMini / sectorSize);
        followMiniStream(sector + 1, name);
        const uint64_t at = file_->sectorOffset(miniStream_[sector]) + inMini % sectorSize;
        const size_t from = i * kCfbMiniSectorSize;
        const size_t length = std::min<size_t>(kCfbMiniSectorSize, size - from);
        if (runLength != 0 && at == runAt + runLength) {
            runLength += length;
            continue;
        }
        flush();
        runAt = at;
        runFrom = from;
        runLength = length;
    }
    flush();
    s.whole = std::move(whole);
    s.read = true;
}

// The sectors a read covers: side by side ones in one call; a small read
// within one sector through the stream's block.
void CfbReader::readSectors(Stream& s, uint64_t offset, uint8_t* out, size_t n) {
    const std::string& name = *s.name;
    const uint32_t sectorSize = file_->sectorSize();
    const uint64_t first = offset / sectorSize;
    const uint64_t last = (offset + n - 1) / sectorSize;
    follow(s, static_cast<size_t>(last + 1));
    const auto inFile = [this, &name](uint64_t at, uint64_t length) {
        if (at + length > size_) damaged(name, "its bytes lie past the end of the file");
    };
    if (first == last && n < sectorSize) {
        const auto within = static_cast<size_t>(offset % sectorSize);
        if (s.blockIndex != first) {
            // The sector as far as the file holds it.
            const uint64_t at = file_->sectorOffset(s.chain[first]);
            const auto length = static_cast<size_t>(std::min<uint64_t>(sectorSize, size_ - at));
            s.blockIndex = UINT64_MAX;
            s.block.resize(length);
            file_->readAt(at, s.block.data(), length, "a stream");
            s.blockIndex = first;
        }
        if (within + n > s.block.size()) damaged(name, "its bytes lie past the end of the file");
        std::memcpy(out, s.block.data() + within, n);
        return;
    }
    for (uint64_t i = first; i <= last;) {
        const uint64_t j = std::min<uint64_t>(last, i + s.chain.sideBySide(i) - 1);
        const uint64_t from = i == first ? offset % sectorSize : 0;
        const uint64_t to = j == last ? (offset + n - 1) % sectorSize + 1 : sectorSize;
        const uint64_t at = file_->sectorOffset(s.chain[i]) + from;
        const uint64_t length = (j - i) * sectorSize + to - from;
        inFile(at, length);
        file_->readAt(at, out, static_cast<size_t>(length), "a stream");
        out += length;
        i = j + 1;
    }
}

void CfbReader::readChecksums() {
    const CfbEntry* entry = nullptr;
    for (const CfbEntry& e : listing_.root)
        if (!e.isStorage && IsChecksumStreamName(e.name)) entry = &e;
    if (entry == nullptr) return;
    // Four bytes a piece of the smallest size, and a name and two words a
    // stream: a larger stream cannot be ours, and is not read into memory.
    uint64_t bound = 64;
    for (const CfbEntry& e : listing_.root)
        bound += 12 + e.name.size() + 4 * (uint64_t{e.size} / kMinChecksumPieceSize + 1);
    if (entry->size > bound)
        throw StorageError(path_ + ": the stream \"" + entry->name +
                           "\" is damaged: it is larger than the file's streams need");
    std::vector<uint8_t> bytes(entry->size);
    readRaw(stream(entry->name), 0, bytes.data(), bytes.size());
    for (auto& [name, sum] : DecodeChecksums(bytes, listing_, path_)) {
        Guard guard;
        guard.checked.assign(sum.pieces.size(), false);
        guard.sum = std::move(sum);
        guards_.emplace(name, std::move(guard));
    }
    checked_ = true;
}

void CfbReader::read(const std::string& name, uint32_t offset, void* out, size_t n) {
    if (n == 0) return;
    Stream& s = stream(name);
    if (s.guard)
        readChecked(s, offset, static_cast<uint8_t*>(out), n);
    else
        readRaw(s, offset, static_cast<uint8_t*>(out), n);
}

void CfbReader::peek(const std::string& name, uint32_t offset, void* out, size_t n) {
    if (n == 0) return;
    readRaw(stream(name), offset, static_cast<uint8_t*>(out), n);
}

// Pieces already checked are read as they are; a piece not yet checked is
// read whole and checked before any byte of it is handed out. Runs of
// either kind are read in one call, so reading a stream whole costs no more
// calls than before.
void CfbReader::readChecked(Stream& s, uint32_t offset, uint8_t* out, size_t n) {
    Guard& guard = *s.guard;
    const uint64_t end = uint64_t{offset} + n;
    const uint64_t size = guard.sum.size;
    const uint64_t pieceSize = guard.sum.pieceSize;
    const auto pieceEnd = [size, pieceSize](uint64_t piece) {
        return std::min<uint64_t>((piece + 1) * pieceSize, size);
    };
    // A piece the read covers only in part, once one is met; not zeroed, as
    // it is read over whole before use.
    std::unique_ptr<uint8_t[]> partial;
    uint64_t pos = offset;
    while (pos < end) {
        const uint64_t piece = pos / pieceSize;
        const uint64_t start = piece * pieceSize;
        if (guard.checked[piece]) {
            uint64_t last = piece;
            while (pieceEnd(last) < end && guard.checked[last + 1]) ++last;
            const uint64_t upTo = std::min(end, pieceEnd(last));
            readRaw(s, pos, out + (pos - offset), upTo - pos);
            pos = upTo;
            continue;
        }
        // The run of unchecked pieces that lie whole within the read goes
        // straight into out; a piece the read covers only in part goes
        // through a buffer.
        uint64_t last = piece;
        const bool whole = pos == start && pieceEnd(piece) <= end;
        if (whole)
            while (pieceEnd(last) < end && !guard.checked[last + 1] && pieceEnd(last + 1) <= end)
                ++last;
        uint8_t* into = out + (pos - offset);
        if (!whole) {
            if (!partial) partial.reset(new uint8_t[pieceSize]);
            into = partial.get();
        }
        readRaw(s, start, into, pieceEnd(last) - start);
        for (uint64_t p = piece; p <= last; ++p) {
            const uint64_t from = p * pieceSize;
            if (Crc32c(0, into + (from - start), pieceEnd(p) - from) != guard.sum.pieces[p])
                throw StorageError(path_ + ": the file is damaged: bytes " + std::to_string(from) +
                                   " to " + std::to_string(pieceEnd(p) - 1) + " of the stream \"" +
                                   *s.name + "\" do not match their checksum");
            guard.checked[p] = true;
        }
        if (!whole) {
            const uint64_t upTo = std::min(end, pieceEnd(piece));
            std::memcpy(out + (pos - offset), partial.get() + (pos - start), upTo - pos);
            pos = upTo;
        } else {
            pos = pieceEnd(last);
        }
    }
}

void CfbReader::verifyAll() {
    std::vector<uint8_t> buffer;
    for (auto& [name, guard] : guards_) {
        Stream& s = stream(name);
        for (uint64_t pos = 0; pos < guard.sum.size;) {
            const auto n = static_cast<uint32_t>(
                std::min<uint64_t>(guard.sum.size - pos, uint64_t{1} << 20));
            buffer.resize(n);
            readChecked(s, static_cast<uint32_t>(pos), buffer.data(), n);
            pos += n;
        }
    }
}

void CfbReader::readRaw(Stream& s, uint64_t offset, uint8_t* out, size_t n) {
    if (n == 0) return;
    if (offset > s.entry->size || n > s.entry->size - offset)
        throw StorageError(path_ + ": stream \"" + *s.name + "\": " + std::to_string(n) +
                           " bytes at offset " + std::to_string(offset) + " lie past its end");
    if (s.entry->size < kCfbMiniStreamCutoff) {
        readSmall(s);
        std::memcpy(out, s.whole.data() + offset, n);
        return;
    }
    readSectors(s, offset, out, n);
}

}  // namespace tq
