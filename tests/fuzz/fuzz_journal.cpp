// Reads arbitrary bytes as the rollback journal of a module file. Whatever it
// accepts must come back as the same bytes from its own encoding, and a record
// it yields is never empty nor larger than a record may be.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/storage/journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    const std::optional<tq::Journal> journal = tq::DecodeJournal(bytes);
    if (!journal) return 0;
    for (const tq::JournalRecord& r : journal->records)
        if (r.bytes.empty() || r.bytes.size() > tq::kMaxJournalRecord) std::abort();
    if (tq::EncodeJournal(*journal) != bytes) std::abort();
    return 0;
}
