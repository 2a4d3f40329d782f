#include "platform/storage/cfbcheck.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "platform/storage/oclstorage.h"
#include "platform/util/lebytes.h"
#include "platform/util/utfconv.h"

namespace tq {
namespace {

using namespace cfb;

constexpr uint32_t kHeaderSize = 512;

class Checker {
public:
    Checker(int fd, uint64_t fileSize, const std::string& path)
        : fd_(fd), fileSize_(fileSize), path_(path) {}

    CfbListing run() {
        readHeader();
        collectDirectorySectors();
        return walkDirectory();
    }

private:
    [[noreturn]] void corrupt(const std::string& what) const {
        throw StorageError(path_ + ": not a valid compound file: " + what);
    }

    void readAt(uint64_t offset, void* out, size_t n, const char* what) const {
        if (offset > fileSize_ || n > fileSize_ - offset)
            corrupt(std::string(what) + " lies past the end of the file");
        auto* p = static_cast<uint8_t*>(out);
        while (n > 0) {
            const ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0)
                throw StorageError(path_ + ": cannot read the file: " + std::strerror(errno));
            if (got == 0) corrupt(std::string(what) + " lies past the end of the file");
            p += got;
            n -= static_cast<size_t>(got);
            offset += static_cast<uint64_t>(got);
        }
    }

    uint64_t sectorOffset(uint32_t sector) const {
        return headerSpan_ + (static_cast<uint64_t>(sector) << shift_);
    }

    void readHeader() {
        if (fileSize_ < kHeaderSize) corrupt("the file is shorter than a header");
        readAt(0, header_, kHeaderSize, "the header");
        if (std::memcmp(header_, kCompoundFileSignature.data(), kCompoundFileSignature.size()) != 0)
            corrupt("no compound-file signature");
        if (LoadLE16(header_ + 0x1C) != 0xFFFE) corrupt("wrong byte-order mark");
        shift_ = LoadLE16(header_ + 0x1E);
        if (shift_ != 9 && shift_ != 12) corrupt("unsupported sector size");
        if (LoadLE16(header_ + 0x20) != 6) corrupt("unsupported mini-sector size");
        if (LoadLE32(header_ + 0x38) != 4096) corrupt("unsupported mini-stream cutoff");
        sectorSize_ = 1u << shift_;
        perSector_ = sectorSize_ / 4;
        // The header occupies the whole first sector of a 4096-byte-sector file.
        headerSpan_ = sectorSize_;
        if (fileSize_ < static_cast<uint64_t>(headerSpan_) + sectorSize_)
            corrupt("the file holds no sector after the header");
        const uint64_t sectors = (fileSize_ - headerSpan_ + sectorSize_ - 1) / sectorSize_;
        if (sectors > kMaxRegularSector) corrupt("the file is too large");
        sectors_ = static_cast<uint32_t>(sectors);

        // The allocation table needs one entry per sector. Bounding its
        // sector count by that need bounds what libgsf allocates from it.
        fatSectors_ = LoadLE32(header_ + 0x2C);
        if (fatSectors_ == 0 || fatSectors_ > sectors_ / perSector_ + 2)
            corrupt("implausible allocation-table sector count");
        firstDifat_ = LoadLE32(header_ + 0x44);
        difatSectors_ = LoadLE32(header_ + 0x48);
        if (difatSectors_ > sectors_) corrupt("implausible allocation-index sector count");
        const uint32_t miniFatSectors = LoadLE32(header_ + 0x40);
        if (miniFatSectors > sectors_) corrupt("implausible mini-table sector count");
        firstDirectory_ = LoadLE32(header_ + 0x30);
    }

    // The sector that holds allocation-table sector number `index`.
    uint32_t fatSector(uint32_t index) {
        if (index >= fatSectors_) corrupt("a sector lies beyond the allocation table");
        uint32_t sector;
        if (index < kHeaderFatSlots) {
            sector = LoadLE32(header_ + 0x4C + 4 * index);
        } else {
            const uint32_t slotsPerDifat = perSector_ - 1;
            const uint32_t k = (index - kHeaderFatSlots) / slotsPerDifat;
            const uint32_t slot = (index - kHeaderFatSlots) % slotsPerDifat;
            if (k >= difatSectors_) corrupt("the allocation index is shorter than the table");
            // Each index sector names the next in its last slot; walk only as
            // far as needed, remembering the way.
            while (difatChain_.size() <= k) {
                uint32_t next = firstDifat_;
                if (!difatChain_.empty()) {
                    uint8_t b[4];
                    readAt(sectorOffset(difatChain_.back()) + 4 * slotsPerDifat, b, 4,
                           "an allocation-index sector");
                    next = LoadLE32(b);
                }
                if (next >= sectors_) corrupt("an allocation-index sector lies outside the file");
                difatChain_.push_back(next);
            }
            uint8_t b[4];
            readAt(sectorOffset(difatChain_[k]) + 4 * slot, b, 4, "an allocation-index sector");
            sector = LoadLE32(b);
        }
        if (sector >= sectors_) corrupt("an allocation-table sector lies outside the file");
        return sector;
    }

    uint32_t nextSector(uint32_t sector) {
        uint8_t b[4];
        readAt(sectorOffset(fatSector(sector / perSector_)) + 4 * (sector % perSector_), b, 4,
               "an allocation-table sector");
        return LoadLE32(b);
    }

    void collectDirectorySectors() {
        // The directory may hold unused entries, so its chain may be longer
        // than the reachable entries need; bound it generously all the same.
        const uint32_t maxSectors = 16 * kMaxDirectoryEntries * kEntrySize / sectorSize_;
        std::unordered_set<uint32_t> seen;
        uint32_t sector = firstDirectory_;
        while (sector != kEndOfChain) {
            if (sector >= sectors_) corrupt("the directory's sector chain leaves the file");
            if (!seen.insert(sector).second) corrupt("the directory's sector chain loops");
            if (directory_.size() >= maxSectors) corrupt("the directory is too large");
            directory_.push_back(sector);
            sector = nextSector(sector);
        }
        if (directory_.empty()) corrupt("the file has no directory");
    }

    void readEntry(uint32_t index, uint8_t* out) {
        const uint32_t perDirSector = sectorSize_ / kEntrySize;
        readAt(sectorOffset(directory_[index / perDirSector]) + kEntrySize * (index % perDirSector),
               out, kEntrySize, "a directory entry");
    }

    std::string entryName(uint32_t index, const uint8_t* e) const {
        const uint16_t bytes = LoadLE16(e + 64);
        if (bytes < 4 || bytes > 64 || bytes % 2 != 0 || LoadLE16(e + bytes - 2) != 0)
            corrupt("directory entry " + std::to_string(index) + " has no valid name");
        std::u16string units(bytes / 2 - 1, u'\0');
        for (size_t i = 0; i < units.size(); ++i) {
            units[i] = static_cast<char16_t>(LoadLE16(e + 2 * i));
            if (units[i] == 0)
                corrupt("directory entry " + std::to_string(index) + " has no valid name");
        }
        std::optional<std::string> name = Utf16ToUtf8(units);
        if (!name) corrupt("directory entry " + std::to_string(index) + " has no valid name");
        return std::move(*name);
    }

    CfbListing walkDirectory() {
        const uint64_t entries =
            static_cast<uint64_t>(directory_.size()) * sectorSize_ / kEntrySize;
        std::vector<bool> seen(entries, false);
        uint32_t reached = 0;
        CfbListing listing;
        std::unordered_set<std::string> rootNames;  // upper-cased, to refuse duplicates

        struct Step {
            uint32_t entry;
            uint32_t depth;
            bool inRoot;  // a child of the root storage
        };
        std::vector<Step> todo{{0, 1, false}};
        while (!todo.empty()) {
            const Step step = todo.back();
            todo.pop_back();
            if (step.entry == kNoEntry) continue;
            if (step.entry >= entries)
                corrupt("a directory link points past the directory's end");
            if (seen[step.entry]) corrupt("the directory tree reaches an entry twice");
            seen[step.entry] = true;
            if (++reached > kMaxDirectoryEntries) corrupt("the directory has too many entries");
            if (step.depth > kMaxDirectoryDepth) corrupt("the directory tree is too deep");

            uint8_t e[kEntrySize];
            readEntry(step.entry, e);
            const uint8_t type = e[66];
            const bool isRoot = step.entry == 0;
            if (isRoot != (type == kTypeRoot) ||
                (!isRoot && type != kTypeStorage && type != kTypeStream))
                corrupt("directory entry " + std::to_string(step.entry) + " has a wrong type");
            const uint32_t size = LoadLE32(e + 120);
            if (shift_ == 12 && LoadLE32(e + 124) != 0)
                corrupt("directory entry " + std::to_string(step.entry) +
                        " is larger than 4 GiB");
            if (type != kTypeStorage && size > fileSize_)
                corrupt("directory entry " + std::to_string(step.entry) +
                        " is larger than the file");

            if (isRoot) {
                // libgsf would read siblings of the root as orphans, and lose
                // them (and their memory).
                if (LoadLE32(e + 68) != kNoEntry || LoadLE32(e + 72) != kNoEntry)
                    corrupt("the root entry has siblings");
                std::memcpy(listing.rootClassId.data(), e + 80, 16);
                todo.push_back({LoadLE32(e + 76), step.depth + 1, true});
                continue;
            }
            const std::string name = entryName(step.entry, e);
            if (step.inRoot) {
                std::string key = name;
                for (char& c : key)
                    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
                if (!rootNames.insert(key).second)
                    corrupt("two entries of the root are named \"" + name + "\"");
                listing.root.push_back({name, type == kTypeStorage, size});
            }
            todo.push_back({LoadLE32(e + 68), step.depth + 1, step.inRoot});
            todo.push_back({LoadLE32(e + 72), step.depth + 1, step.inRoot});
            if (type == kTypeStorage) todo.push_back({LoadLE32(e + 76), step.depth + 1, false});
        }
        checkNoOrphans(seen);
        return listing;
    }

    // An entry in use that the tree does not reach is one a damaged link
    // cut off: the file would read as if the stream were not there, and the
    // store would take a module that lost its streams for a new one. Unused
    // entries have type 0. One read per directory sector.
    void checkNoOrphans(const std::vector<bool>& seen) {
        const uint32_t perDirSector = sectorSize_ / kEntrySize;
        std::vector<uint8_t> sector(sectorSize_);
        for (size_t s = 0; s < directory_.size(); ++s) {
            bool all = true;
            for (uint32_t k = 0; k < perDirSector && all; ++k) all = seen[s * perDirSector + k];
            if (all) continue;
            // A last sector cut short by the file's end holds no entries
            // past it.
            const uint64_t at = sectorOffset(directory_[s]);
            const size_t have = static_cast<size_t>(std::min<uint64_t>(sectorSize_, fileSize_ - at));
            readAt(at, sector.data(), have, "a directory sector");
            for (uint32_t k = 0; (k + 1) * kEntrySize <= have; ++k) {
                const size_t index = s * perDirSector + k;
                if (!seen[index] && sector[k * kEntrySize + 66] != 0)
                    corrupt("directory entry " + std::to_string(index) + " is not reachable from the root");
            }
        }
    }

    int fd_;
    uint64_t fileSize_;
    const std::string& path_;
    uint8_t header_[kHeaderSize];
    uint32_t shift_ = 0;
    uint32_t sectorSize_ = 0;
    uint32_t perSector_ = 0;  // allocation-table entries per sector
    uint32_t headerSpan_ = 0;
    uint32_t sectors_ = 0;
    uint32_t fatSectors_ = 0;
    uint32_t firstDifat_ = 0;
    uint32_t difatSectors_ = 0;
    uint32_t firstDirectory_ = 0;
    std::vector<uint32_t> difatChain_;
    std::vector<uint32_t> directory_;
};

}  // namespace

CfbListing CheckCompoundFile(int fd, uint64_t fileSize, const std::string& path) {
    return Checker(fd, fileSize, path).run();
}

}  // namespace tq
