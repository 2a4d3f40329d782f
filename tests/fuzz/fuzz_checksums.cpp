// Reads arbitrary bytes as the stream of checksums of a file with a few
// streams. Whatever it accepts must come back the same from its own bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/storage/checksums.h"
#include "platform/storage/oclstorage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tq::CfbListing listing;
    listing.root = {{"Objects", false, 5000}, {"IdStrings", false, 0}, {"Checksums", false, 0},
                    {"Sub", true, 0}};
    if (size > 0) listing.root[0].size = data[0] * 97u;  // the pieces the entry needs vary
    const std::vector<uint8_t> bytes(data, data + size);
    tq::ChecksumTable table;
    try {
        table = tq::DecodeChecksums(bytes, listing, "fuzz");
    } catch (const tq::StorageError&) {
        return 0;
    }
    const uint32_t pieceSize = table.empty() ? tq::kChecksumPieceSize : table.begin()->second.pieceSize;
    const tq::ChecksumTable again =
        tq::DecodeChecksums(tq::EncodeChecksums(table, pieceSize), listing, "fuzz");
    if (again.size() != table.size()) std::abort();
    for (const auto& [name, sum] : table) {
        const auto it = again.find(name);
        if (it == again.end() || it->second.size != sum.size || it->second.pieceSize != sum.pieceSize ||
            it->second.pieces != sum.pieces)
            std::abort();
    }
    return 0;
}
