// The rollback journal of a module file: what a commit that writes the file
// in place must put beside it first, and what an open does with one that a
// crash left behind.
//
// A commit that overwrites parts of the module file in place is atomic only
// through the journal: before the first byte of the file changes, the original
// content of every range about to be overwritten is written to
// "<file>-journal", flushed, and the folder flushed so that the journal's
// name is on the disk too. The file is then written and flushed, and the
// journal removed (the folder flushed again): its removal is the moment the
// commit is done. A journal found beside a module file ("hot") means a commit
// died between those moments, and an open rolls it back before it reads the
// file: every range gets its original bytes again, the file its original
// size, the file is flushed and only then the journal removed. A rollback
// killed half-way leaves the journal hot, and the next open does it again.
//
// A journal that is not whole (cut short, or a checksum that fails) was never
// flushed whole, so no in-place write had begun: it is removed and the file
// left as it is. So is a journal written for another file (the module file was
// replaced since, by a whole-file commit or by hand).
//
// The journal file (all numbers little-endian):
//
//   offset  width  meaning
//   0       4      signature "TQJR"
//   4       4      format version, 1
//   8       8      size of the module file before the commit
//   16      8      device number of the module file
//   24      8      inode number of the module file
//   32      4      number of records that follow, n
//   36      4      CRC-32C of bytes 0 to 35
//   40      ...    n records, each:
//                    8   offset in the module file
//                    4   length L, 1 to 1048576; the range lies within the
//                        file's size before the commit
//                    L   the bytes at that offset before the commit
//                    4   CRC-32C of the record's 12 + L bytes before it
//   end            nothing follows the last record
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tq {

inline constexpr uint32_t kMaxJournalRecord = 1 << 20;

struct JournalRecord {
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;  // the original content
};

struct Journal {
    uint64_t fileSize = 0;  // of the module file before the commit
    uint64_t device = 0;
    uint64_t inode = 0;
    std::vector<JournalRecord> records;
};

// The journal's name for the module file at path.
std::string JournalPathOf(const std::string& file);

std::vector<uint8_t> EncodeJournal(const Journal& journal);
// The journal in bytes, or nothing when it is not whole.
std::optional<Journal> DecodeJournal(const std::vector<uint8_t>& bytes);

// Writes the journal of the module file open on fd (file names it, path in
// error texts): the original bytes of each (offset, length) range, which
// must be a whole record each. Flushes the journal and its folder; raises
// StorageError (and leaves no journal) when it cannot.
void WriteJournal(int fd, const std::string& file, const std::string& path,
                  const std::vector<std::pair<uint64_t, uint32_t>>& ranges);

// Rolls back the hot journal of the module file open read-write on fd, whose
// write lock the caller holds. Returns true when it rolled one back; raises
// StorageError when it cannot, leaving the journal for the next open.
bool RollBackHotJournal(int fd, const std::string& file, const std::string& path);

// True when the module file at path has a journal beside it.
bool HasJournal(const std::string& file);

}  // namespace tq
