#include "platform/storage/inplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "platform/storage/cfbreader.h"
#include "platform/storage/checksums.h"
#include "platform/storage/fileops.h"
#include "platform/storage/journal.h"
#include "platform/storage/oclstorage.h"
#include "platform/storage/streamstate.h"
#include "platform/util/crc32c.h"

namespace tq {

namespace {

constexpr uint32_t kPiece = kChecksumPieceSize;

// One stream as the plan rewrites it: its directory entry, its old and new
// sizes, the pieces whose bytes change, and where its new chain lies.
struct Job {
    const CfbTables::Entry* entry;
    std::string name;
    uint32_t size;
    bool moves;  // crosses the mini-stream cutoff: a new chain, written whole
    std::map<uint32_t, std::vector<uint8_t>> pieces;  // by piece number
    std::vector<uint32_t> chain;
};

bool IsMini(uint32_t size) { return size < kCfbMiniStreamCutoff; }

uint32_t Pieces(uint32_t size) { return (size + kPiece - 1) / kPiece; }

}  // namespace

std::unique_ptr<InPlaceCommit> InPlaceCommit::Plan(int fd, const std::string& path,
                                                   CfbReader& image,
                                                   const std::vector<InPlaceStream>& streams,
                                                   uint64_t limit) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw StorageError(path + ": cannot read the file: " + ErrnoText(errno));
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    std::optional<CfbTables> loaded = CfbTables::Load(fd, fileSize, path);
    if (!loaded) return nullptr;
    CfbTables& tables = *loaded;
    const std::vector<CfbTables::Entry>& entries = tables.rootEntries();
    if (entries.size() != streams.size() + 1) return nullptr;
    const auto entryNamed = [&entries](const std::string& name) -> const CfbTables::Entry* {
        for (const CfbTables::Entry& e : entries)
            if (e.name == name && !e.isStorage) return &e;
        return nullptr;
    };
    const CfbTables::Entry* sumsEntry = nullptr;
    for (const CfbTables::Entry& e : entries)
        if (!e.isStorage && IsChecksumStreamName(e.name)) sumsEntry = &e;
    if (sumsEntry == nullptr) return nullptr;

    std::unique_ptr<InPlaceCommit> plan(new InPlaceCommit(fd, path, fileSize));
    uint64_t changed = 0;
    std::vector<Job> jobs;
    ChecksumTable sums;
    std::vector<uint8_t> now, was;
    // The pieces of a stream that differ from the committed ones; false when
    // they are more than the limit.
    const auto diff = [&](Job& job, const std::vector<bool>& candidate, const auto& readNew,
                          const auto& onPiece) {
        const uint32_t oldSize = job.entry->size;
        for (uint32_t p = 0; p < candidate.size(); ++p) {
            if (!candidate[p]) continue;
            const uint32_t offset = p * kPiece;
            const uint32_t n = std::min(kPiece, job.size - offset);
            now.resize(n);
            readNew(offset, now.data(), n);
            if (!job.moves && offset < oldSize && std::min(kPiece, oldSize - offset) == n) {
                was.resize(n);
                image.peek(job.entry->name, offset, was.data(), n);
                if (was == now) continue;
            }
            onPiece(p);
            changed += n;
            if (changed > limit) return false;
            job.pieces.emplace(p, now);
        }
        return true;
    };

    for (const InPlaceStream& s : streams) {
        const CfbTables::Entry* entry = entryNamed(s.name);
        const StreamChecksum* old = image.checksumOf(s.name);
        if (entry == nullptr || entry == sumsEntry || old == nullptr || old->pieceSize != kPiece ||
            old->size != entry->size)
            return nullptr;
        const StreamContent& content = *s.content;
        Job job{entry, s.name, content.size(), IsMini(entry->size) != IsMini(content.size()), {}, {}};
        StreamChecksum sum;
        sum.size = content.size();
        sum.pieces = old->pieces;
        sum.pieces.resize(Pieces(sum.size), 0);
        // Bytes neither written nor past the old end are the committed ones,
        // and so are their checksums.
        std::vector<bool> candidate(sum.pieces.size(), false);
        if (job.moves || !content.readsFrom(&image, s.name)) {
            candidate.assign(candidate.size(), true);
        } else {
            for (const auto& [from, to] : content.changedRanges())
                for (uint32_t p = from / kPiece; p < Pieces(to); ++p) candidate[p] = true;
            if (sum.size != entry->size && !candidate.empty()) candidate.back() = true;
        }
        const bool within = diff(
            job, candidate,
            [&content](uint32_t offset, uint8_t* out, size_t n) { content.read(offset, out, n); },
            [&](uint32_t p) { sum.pieces[p] = Crc32c(0, now.data(), now.size()); });
        if (!within) return nullptr;
        sums.emplace(s.name, std::move(sum));
        // A stream whose bytes and size stay keeps its chain and its entry:
        // its sectors are not walked, so the plan costs what changed.
        if (job.pieces.empty() && !job.moves && job.size == entry->size) continue;
        jobs.push_back(std::move(job));
    }

    // The stream of checksums, whose pieces are compared whole.
    const std::vector<uint8_t> table = EncodeChecksums(sums, kPiece);
    plan->sums_ = std::move(sums);
    Job sumsJob{sumsEntry, sumsEntry->name, static_cast<uint32_t>(table.size()),
                IsMini(sumsEntry->size) != IsMini(static_cast<uint32_t>(table.size())), {}, {}};
    const bool within = diff(
        sumsJob, std::vector<bool>(Pieces(sumsJob.size), true),
        [&table](uint32_t offset, uint8_t* out, size_t n) {
            std::memcpy(out, table.data() + offset, n);
        },
        [](uint32_t) {});
    if (!within) return nullptr;
    jobs.push_back(std::move(sumsJob));

    // Every sector given up first, then every one taken, so that what one
    // stream gives up another can take. A stream whose size stays keeps its
    // chain and entry: only the sectors up to its last changed piece are kept.
    const auto keepsChain = [](const Job& job) {
        return !job.moves && job.size == job.entry->size;
    };
    for (Job& job : jobs) {
        const bool mini = IsMini(job.size);
        const uint32_t unit = mini ? kCfbMiniSectorSize : kCfbSectorSize;
        const size_t units = (size_t{job.size} + unit - 1) / unit;
        size_t keep = SIZE_MAX;
        if (keepsChain(job)) {
            const size_t piecesKept = job.pieces.empty() ? 0 : job.pieces.rbegin()->first + size_t{1};
            keep = (std::min<size_t>(job.size, piecesKept * kPiece) + unit - 1) / unit;
        }
        std::optional<std::vector<uint32_t>> chain =
            tables.chainOf(job.entry->start, job.entry->size, keep);
        if (!chain) return nullptr;
        if (keepsChain(job)) {
            job.chain = std::move(*chain);
            continue;
        }
        if (job.moves) {
            tables.release(*chain, IsMini(job.entry->size));
            chain->clear();
        } else if (units < chain->size()) {
            tables.release(std::vector<uint32_t>(chain->begin() + static_cast<long>(units),
                                                 chain->end()),
                           mini);
            chain->resize(units);
        }
        job.chain = std::move(*chain);
    }
    for (Job& job : jobs) {
        if (keepsChain(job)) continue;
        const bool mini = IsMini(job.size);
        const uint32_t unit = mini ? kCfbMiniSectorSize : kCfbSectorSize;
        const size_t units = (size_t{job.size} + unit - 1) / unit;
        while (job.chain.size() < units) job.chain.push_back(tables.allocate(mini));
        tables.setStream(job.entry->index, job.chain, mini, job.size);
    }

    // The changed pieces into their sectors, the tail of the last padded
    // with zeros.
    for (Job& job : jobs) {
        const bool mini = IsMini(job.size);
        const uint32_t unit = mini ? kCfbMiniSectorSize : kCfbSectorSize;
        for (auto& [p, bytes] : job.pieces) {
            const uint32_t offset = p * kPiece;
            for (uint32_t from = 0; from < bytes.size(); from += unit) {
                const uint32_t u = (offset + from) / unit;
                uint8_t* into;
                if (mini) {
                    const uint64_t at = tables.miniOffset(job.chain[u]);
                    into = plan->image_.edit(at / kCfbSectorSize) + at % kCfbSectorSize;
                } else {
                    into = plan->image_.edit(uint64_t{job.chain[u]} + 1);
                }
                const size_t n = std::min<size_t>(unit, bytes.size() - from);
                std::memcpy(into, bytes.data() + from, n);
                std::memset(into + n, 0, unit - n);
            }
        }
    }
    tables.emit(plan->image_);
    plan->runs_ = plan->image_.changedRuns(kMaxJournalRecord);
    if (plan->bytesToWrite() > limit) return nullptr;
    return plan;
}

uint64_t InPlaceCommit::bytesToWrite() const {
    uint64_t n = 0;
    for (const SectorImage::Run& r : runs_) n += r.bytes.size();
    return n;
}

std::shared_ptr<CfbReader> InPlaceCommit::run(const std::string& file, const FaultHook* hook) {
    if (runs_.empty()) return nullptr;
    uint64_t written = 0;
    const auto refused = [&] { return hook != nullptr && *hook && !(*hook)(written); };
    if (refused())
        throw StorageError(path_ + ": write failed: cannot write its journal: " + ErrnoText(ENOSPC));
    std::vector<std::pair<uint64_t, uint32_t>> ranges;
    for (const SectorImage::Run& r : runs_)
        ranges.emplace_back(r.offset, static_cast<uint32_t>(r.bytes.size()));
    WriteJournal(fd_, file, path_, ranges);
    try {
        for (const SectorImage::Run& r : runs_) {
            if (refused()) throw StorageError(path_ + ": write failed: " + ErrnoText(ENOSPC));
            if (!WriteBlock(fd_, r.offset, r.bytes.data(), r.bytes.size()))
                throw StorageError(path_ + ": write failed: " + ErrnoText(errno));
            written += r.bytes.size();
        }
        SyncFile(fd_, path_);
        std::shared_ptr<CfbReader> image = readBack(file);
        // The journal's removal is the moment the commit is done.
        const std::string journal = JournalPathOf(file);
        if (::unlink(journal.c_str()) != 0)
            throw StorageError(path_ + ": cannot remove its journal " + journal + ": " +
                               ErrnoText(errno));
        return image;
    } catch (...) {
        try {
            RollBackHotJournal(fd_, file, path_);
        } catch (const StorageError&) {
            // The journal stays hot: the next open, or commit, rolls it back.
        }
        throw;
    }
}

// What was written must read back as written, sector by sector: a disk may
// report a write done and keep other bytes. Every changed byte, tables and
// checksums included, lies in a sector compared here, so the pieces need not
// be read again through their checksums. The file must then open again with
// the checksums the plan made for every stream: the opening checks them
// against the directory's sizes, so a directory or checksum table written
// wrong shows before the journal goes.
std::shared_ptr<CfbReader> InPlaceCommit::readBack(const std::string& file) const {
    std::string fault;
    std::vector<uint8_t> bytes;
    for (const SectorImage::Run& r : runs_) {
        bytes.resize(r.bytes.size());
        if (!ReadFullyAt(fd_, r.offset, bytes.data(), bytes.size()) || bytes != r.bytes) {
            fault = "bytes " + std::to_string(r.offset) + " to " +
                    std::to_string(r.offset + r.bytes.size() - 1) + " hold other bytes";
            break;
        }
    }
    std::shared_ptr<CfbReader> image;
    if (fault.empty()) {
        try {
            const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) throw StorageError(path_ + ": cannot open: " + ErrnoText(errno));
            image = CfbReader::Open(fd, path_);
            for (const auto& [name, sum] : sums_) {
                const StreamChecksum* now = image->checksumOf(name);
                if (now == nullptr || now->size != sum.size || now->pieces != sum.pieces) {
                    fault = "stream \"" + name + "\" has other checksums";
                    break;
                }
            }
        } catch (const StorageError& e) {
            fault = e.what();
        }
    }
    if (!fault.empty())
        throw StorageError(path_ + ": write failed: the written file does not read back: " + fault);
    return image;
}

}  // namespace tq
