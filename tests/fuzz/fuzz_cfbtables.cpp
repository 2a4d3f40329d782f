// Reads arbitrary bytes as the tables of a compound file, as an in-place
// commit does, then moves every stream it accepts as an in-place commit
// would: cut in half, grown past the mini-stream cutoff, and written back.
// Whatever it accepts must never lead a chain, an allocation or the
// written sectors outside the tables it built, nor hold a chain that loops.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>

#include "platform/storage/cfbtables.h"
#include "platform/storage/oclstorage.h"
#include "tests/fuzz/scratchfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& file = tq::fuzz::ScratchFile();
    tq::fuzz::WriteRaw(file, data, size);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::abort();
    try {
        std::optional<tq::CfbTables> tables = tq::CfbTables::Load(fd, size, file);
        if (tables) {
            const auto entries = tables->rootEntries();
            for (const tq::CfbTables::Entry& e : entries) {
                if (e.isStorage) continue;
                auto chain = tables->chainOf(e.start, e.size);
                // A chain kept in part is refused exactly when the whole one
                // is, and is its beginning; an accepted chain never comes
                // back to a sector.
                const auto part = tables->chainOf(e.start, e.size, 3);
                if (chain.has_value() != part.has_value()) std::abort();
                if (!chain) continue;
                if (part->size() != std::min<size_t>(3, chain->size()) ||
                    !std::equal(part->begin(), part->end(), chain->begin()))
                    std::abort();
                std::set<uint32_t> seen(chain->begin(), chain->end());
                if (seen.size() != chain->size()) std::abort();
                const bool mini = e.size < tq::kCfbMiniStreamCutoff;
                chain->resize(chain->size() / 2);
                tables->release(*chain, mini);
                std::vector<uint32_t> grown;
                for (int i = 0; i < 12; ++i) grown.push_back(tables->allocate(false));
                tables->setStream(e.index, grown, false, 12 * tq::kCfbSectorSize);
                const uint32_t m = tables->allocate(true);
                (void)tables->miniOffset(m);
            }
            tq::SectorImage image(fd, size, file);
            tables->emit(image);
            (void)image.changedRuns(1 << 20);
        }
    } catch (const tq::StorageError&) {
    }
    ::close(fd);
    return 0;
}
