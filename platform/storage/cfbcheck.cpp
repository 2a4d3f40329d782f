#include "platform/storage/cfbcheck.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "platform/storage/cfbfile.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/lebytes.h"
#include "platform/util/utfconv.h"

namespace tq {
namespace {

using namespace cfb;

class Checker {
public:
    explicit Checker(CfbFile& file)
        : file_(file), sectorSize_(file.sectorSize()), sectors_(file.sectorCount()) {}

    CfbListing run() {
        collectDirectorySectors();
        return walkDirectory();
    }

private:
    [[noreturn]] void corrupt(const std::string& what) const { file_.corrupt(what); }

    void collectDirectorySectors() {
        // The directory may hold unused entries, so its chain may be longer
        // than the reachable entries need; bound it generously all the same.
        const uint32_t maxSectors = 16 * kMaxDirectoryEntries * kEntrySize / sectorSize_;
        std::unordered_set<uint32_t> seen;
        uint32_t sector = file_.firstDirectorySector();
        while (sector != kEndOfChain) {
            if (sector >= sectors_) corrupt("the directory's sector chain leaves the file");
            if (!seen.insert(sector).second) corrupt("the directory's sector chain loops");
            if (directory_.size() >= maxSectors) corrupt("the directory is too large");
            directory_.push_back(sector);
            sector = file_.next(sector);
        }
        if (directory_.empty()) corrupt("the file has no directory");
        readDirectory();
    }

    // The directory's sectors, read once and whole, side by side in one
    // call each: opening then costs a call or two for the directory. A last
    // sector cut short by the file's end holds no entries past it (have_).
    void readDirectory() {
        bytes_.assign(directory_.size() * size_t{sectorSize_}, 0);
        have_.assign(directory_.size(), 0);
        for (size_t s = 0; s < directory_.size();) {
            size_t run = 1;
            while (s + run < directory_.size() && directory_[s + run] == directory_[s] + run) ++run;
            const uint64_t at = file_.sectorOffset(directory_[s]);
            const uint64_t have = std::min<uint64_t>(run * uint64_t{sectorSize_}, file_.fileSize() - at);
            file_.readAt(at, bytes_.data() + s * sectorSize_, static_cast<size_t>(have),
                         "a directory sector");
            for (size_t k = 0; k < run; ++k)
                have_[s + k] = static_cast<uint32_t>(
                    std::min<uint64_t>(sectorSize_, have - std::min<uint64_t>(have, k * sectorSize_)));
            s += run;
        }
    }

    const uint8_t* entry(uint32_t index) const {
        const uint32_t perDirSector = sectorSize_ / kEntrySize;
        if ((index % perDirSector + 1) * kEntrySize > have_[index / perDirSector])
            corrupt("a directory entry lies past the end of the file");
        return bytes_.data() + size_t{index} * kEntrySize;
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

            const uint8_t* e = entry(step.entry);
            const uint8_t type = e[66];
            const bool isRoot = step.entry == 0;
            if (isRoot != (type == kTypeRoot) ||
                (!isRoot && type != kTypeStorage && type != kTypeStream))
                corrupt("directory entry " + std::to_string(step.entry) + " has a wrong type");
            const uint32_t size = LoadLE32(e + 120);
            if (file_.wideSizes() && LoadLE32(e + 124) != 0)
                corrupt("directory entry " + std::to_string(step.entry) +
                        " is larger than 4 GiB");
            if (type != kTypeStorage && size > file_.fileSize())
                corrupt("directory entry " + std::to_string(step.entry) +
                        " is larger than the file");

            if (isRoot) {
                // libgsf would read siblings of the root as orphans, and lose
                // them (and their memory).
                if (LoadLE32(e + 68) != kNoEntry || LoadLE32(e + 72) != kNoEntry)
                    corrupt("the root entry has siblings");
                std::memcpy(listing.rootClassId.data(), e + 80, 16);
                listing.miniStreamStart = LoadLE32(e + 116);
                listing.miniStreamSize = size;
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
                listing.root.push_back({name, type == kTypeStorage, size, LoadLE32(e + 116)});
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
    // entries have type 0.
    void checkNoOrphans(const std::vector<bool>& seen) const {
        const uint32_t perDirSector = sectorSize_ / kEntrySize;
        for (size_t s = 0; s < directory_.size(); ++s) {
            for (uint32_t k = 0; (k + 1) * kEntrySize <= have_[s]; ++k) {
                const size_t index = s * perDirSector + k;
                if (!seen[index] && bytes_[index * kEntrySize + 66] != 0)
                    corrupt("directory entry " + std::to_string(index) + " is not reachable from the root");
            }
        }
    }

    CfbFile& file_;
    uint32_t sectorSize_;
    uint32_t sectors_;
    std::vector<uint32_t> directory_;  // its sectors, in order
    std::vector<uint8_t> bytes_;       // its entries
    std::vector<uint32_t> have_;       // bytes of each of its sectors the file holds
};

}  // namespace

CfbListing CheckCompoundFile(CfbFile& file) { return Checker(file).run(); }

}  // namespace tq
