#include "platform/storage/cfbreader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "platform/storage/gsfapi.h"
#include "platform/storage/gsfio.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/crc32c.h"

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

CfbReader::CfbReader(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

std::shared_ptr<CfbReader> CfbReader::Open(int fd, const std::string& path, bool checked) {
    std::shared_ptr<CfbReader> reader(new CfbReader(fd, path));
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw StorageError(path + ": cannot read the file: " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw StorageError(path + ": not a regular file");
    const auto size = static_cast<uint64_t>(st.st_size);
    reader->listing_ = CheckCompoundFile(fd, size, path);

    gsfio::EnsureInit(path);
    const GsfApi& gsf = Gsf();
    gsfio::TakeLastMessage();
    reader->input_ = gsfio::NewFdInput(fd, size, &reader->bytesRead_);
    GError* error = nullptr;
    reader->root_ = gsf.gsf_infile_msole_new(reader->input_, &error);
    if (reader->root_ == nullptr) {
        const std::string text = WithDetail(path + ": not a valid compound file", error);
        if (error) gsf.g_error_free(error);
        throw StorageError(text);
    }
    // libgsf silently leaves out entries it cannot take; the listing must be
    // exactly the one checked.
    const int children = gsf.gsf_infile_num_children(reader->root_);
    bool same = children >= 0 && static_cast<size_t>(children) == reader->listing_.root.size();
    for (int i = 0; same && i < children; ++i) {
        const char* name = gsf.gsf_infile_name_by_index(reader->root_, i);
        same = name != nullptr && reader->find(name) != nullptr;
    }
    if (!same)
        throw StorageError(WithDetail(path + ": not a valid compound file: the directory "
                                             "cannot be read whole",
                                      nullptr));
    if (checked) reader->readChecksums();
    return reader;
}

CfbReader::~CfbReader() {
    // A reader that failed before libgsf was loaded holds no libgsf object.
    if (input_) {
        const GsfApi& gsf = Gsf();
        for (auto& [name, input] : streams_) gsf.g_object_unref(input);
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

GsfInput* CfbReader::stream(const std::string& name) {
    auto it = streams_.find(name);
    if (it != streams_.end()) return it->second;
    gsfio::TakeLastMessage();
    std::string reason;
    GsfInput* input = gsfio::ChildByName(root_, name.c_str(), &reason);
    if (input == nullptr)
        throw StorageError(path_ + ": stream \"" + name + "\" cannot be read: the file is damaged" +
                           (reason.empty() ? "" : " (" + reason + ")"));
    streams_.emplace(name, input);
    return input;
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
    readRaw(entry->name, 0, bytes.data(), bytes.size());
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
    const auto it = guards_.find(name);
    if (it == guards_.end())
        readRaw(name, offset, static_cast<uint8_t*>(out), n);
    else
        readChecked(name, it->second, offset, static_cast<uint8_t*>(out), n);
}

void CfbReader::peek(const std::string& name, uint32_t offset, void* out, size_t n) {
    readRaw(name, offset, static_cast<uint8_t*>(out), n);
}

// Pieces already checked are read as they are; a piece not yet checked is
// read whole and checked before any byte of it is handed out. Runs of
// either kind are read in one call, so reading a stream whole costs no more
// calls than before.
void CfbReader::readChecked(const std::string& name, Guard& guard, uint32_t offset, uint8_t* out,
                            size_t n) {
    const uint64_t end = uint64_t{offset} + n;
    const uint64_t size = guard.sum.size;
    const uint64_t pieceSize = guard.sum.pieceSize;
    const auto pieceEnd = [size, pieceSize](uint64_t piece) {
        return std::min<uint64_t>((piece + 1) * pieceSize, size);
    };
    std::vector<uint8_t> partial;
    uint64_t pos = offset;
    while (pos < end) {
        const uint64_t piece = pos / pieceSize;
        const uint64_t start = piece * pieceSize;
        if (guard.checked[piece]) {
            uint64_t last = piece;
            while (pieceEnd(last) < end && guard.checked[last + 1]) ++last;
            const uint64_t upTo = std::min(end, pieceEnd(last));
            readRaw(name, pos, out + (pos - offset), upTo - pos);
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
            partial.resize(pieceEnd(piece) - start);
            into = partial.data();
        }
        readRaw(name, start, into, pieceEnd(last) - start);
        for (uint64_t p = piece; p <= last; ++p) {
            const uint64_t from = p * pieceSize;
            if (Crc32c(0, into + (from - start), pieceEnd(p) - from) != guard.sum.pieces[p])
                throw StorageError(path_ + ": the file is damaged: bytes " + std::to_string(from) +
                                   " to " + std::to_string(pieceEnd(p) - 1) + " of the stream \"" +
                                   name + "\" do not match their checksum");
            guard.checked[p] = true;
        }
        if (!whole) {
            const uint64_t upTo = std::min(end, pieceEnd(piece));
            std::memcpy(out + (pos - offset), partial.data() + (pos - start), upTo - pos);
            pos = upTo;
        } else {
            pos = pieceEnd(last);
        }
    }
}

void CfbReader::verifyAll() {
    std::vector<uint8_t> buffer;
    for (auto& [name, guard] : guards_) {
        for (uint64_t pos = 0; pos < guard.sum.size;) {
            const auto n = static_cast<uint32_t>(
                std::min<uint64_t>(guard.sum.size - pos, uint64_t{1} << 20));
            buffer.resize(n);
            readChecked(name, guard, static_cast<uint32_t>(pos), buffer.data(), n);
            pos += n;
        }
    }
}

void CfbReader::readRaw(const std::string& name, uint64_t offset, uint8_t* out, size_t n) {
    if (n == 0) return;
    GsfInput* input = stream(name);
    gsfio::TakeLastMessage();
    if (Gsf().gsf_input_seek(input, offset, G_SEEK_SET) ||
        Gsf().gsf_input_read(input, n, out) == nullptr)
        throw StorageError(WithDetail(path_ + ": stream \"" + name + "\": " + std::to_string(n) +
                                          " bytes at offset " + std::to_string(offset) +
                                          " cannot be read: the file is damaged",
                                      nullptr));
}

}  // namespace tq
