#include "platform/storage/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/storage/fileops.h"
#include "platform/storage/fshooks.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/crc32c.h"
#include "platform/util/lebytes.h"

namespace tq {

namespace {

constexpr uint8_t kSignature[4] = {'T', 'Q', 'J', 'R'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeadSize = 40;
constexpr size_t kRecordHead = 12;

// The whole journal file, or nothing when there is none.
std::optional<std::vector<uint8_t>> ReadJournalFile(const std::string& journal,
                                                    const std::string& path) {
    UniqueFd fd(::open(journal.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) return std::nullopt;
        throw StorageError(path + ": cannot read its journal " + journal + ": " + ErrnoText(errno));
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw StorageError(path + ": its journal " + journal + " is not a regular file");
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    if (!ReadFullyAt(fd.get(), 0, bytes.data(), bytes.size()))
        throw StorageError(path + ": cannot read its journal " + journal + ": " + ErrnoText(errno));
    return bytes;
}

void RemoveJournal(const std::string& journal, const std::string& path) {
    if (::unlink(journal.c_str()) != 0 && errno != ENOENT)
        throw StorageError(path + ": cannot remove its journal " + journal + ": " +
                           ErrnoText(errno));
    SyncFolder(FolderOf(journal));
}

}  // namespace

std::string JournalPathOf(const std::string& file) { return file + "-journal"; }

bool HasJournal(const std::string& file) {
    struct stat st;
    return ::lstat(JournalPathOf(file).c_str(), &st) == 0;
}

std::vector<uint8_t> EncodeJournal(const Journal& journal) {
    size_t size = kHeadSize;
    for (const JournalRecord& r : journal.records) size += kRecordHead + r.bytes.size() + 4;
    std::vector<uint8_t> out(size);
    uint8_t* p = out.data();
    std::memcpy(p, kSignature, 4);
    StoreLE32(p + 4, kVersion);
    StoreLE64(p + 8, journal.fileSize);
    StoreLE64(p + 16, journal.device);
    StoreLE64(p + 24, journal.inode);
    StoreLE32(p + 32, static_cast<uint32_t>(journal.records.size()));
    StoreLE32(p + 36, Crc32c(0, p, 36));
    p += kHeadSize;
    for (const JournalRecord& r : journal.records) {
        StoreLE64(p, r.offset);
        StoreLE32(p + 8, static_cast<uint32_t>(r.bytes.size()));
        std::memcpy(p + kRecordHead, r.bytes.data(), r.bytes.size());
        const size_t n = kRecordHead + r.bytes.size();
        StoreLE32(p + n, Crc32c(0, p, n));
        p += n + 4;
    }
    return out;
}

std::optional<Journal> DecodeJournal(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < kHeadSize) return std::nullopt;
    const uint8_t* p = bytes.data();
    if (std::memcmp(p, kSignature, 4) != 0 || LoadLE32(p + 4) != kVersion ||
        LoadLE32(p + 36) != Crc32c(0, p, 36))
        return std::nullopt;
    Journal journal;
    journal.fileSize = LoadLE64(p + 8);
    journal.device = LoadLE64(p + 16);
    journal.inode = LoadLE64(p + 24);
    const uint32_t count = LoadLE32(p + 32);
    size_t pos = kHeadSize;
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes.size() - pos < kRecordHead + 4) return std::nullopt;
        const uint8_t* r = p + pos;
        const uint32_t length = LoadLE32(r + 8);
        if (length == 0 || length > kMaxJournalRecord ||
            bytes.size() - pos - kRecordHead - 4 < length)
            return std::nullopt;
        if (Crc32c(0, r, kRecordHead + length) != LoadLE32(r + kRecordHead + length))
            return std::nullopt;
        JournalRecord record;
        record.offset = LoadLE64(r);
        // A journal keeps only bytes the file had: a record past its old end
        // cannot be one we wrote.
        if (record.offset > journal.fileSize || journal.fileSize - record.offset < length)
            return std::nullopt;
        record.bytes.assign(r + kRecordHead, r + kRecordHead + length);
        journal.records.push_back(std::move(record));
        pos += kRecordHead + length + 4;
    }
    if (pos != bytes.size()) return std::nullopt;
    return journal;
}

void WriteJournal(int fd, const std::string& file, const std::string& path,
                  const std::vector<std::pair<uint64_t, uint32_t>>& ranges) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw StorageError(path + ": cannot read the file: " + ErrnoText(errno));
    Journal journal;
    journal.fileSize = static_cast<uint64_t>(st.st_size);
    journal.device = st.st_dev;
    journal.inode = st.st_ino;
    for (const auto& [offset, length] : ranges) {
        if (length == 0 || length > kMaxJournalRecord)
            throw StorageError(path + ": a journal record holds 1 to " +
                               std::to_string(kMaxJournalRecord) + " bytes");
        JournalRecord record;
        record.offset = offset;
        // Bytes past the end of the file are new: the rollback's cut to the
        // old size takes them away, and the record keeps what there was.
        const uint64_t end = std::min<uint64_t>(offset + length, journal.fileSize);
        if (offset >= end) continue;
        record.bytes.resize(end - offset);
        if (!ReadFullyAt(fd, offset, record.bytes.data(), record.bytes.size()))
            throw StorageError(path + ": cannot read the file: " + ErrnoText(errno));
        journal.records.push_back(std::move(record));
    }
    const std::vector<uint8_t> bytes = EncodeJournal(journal);
    const std::string name = JournalPathOf(file);
    UniqueFd out(::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out)
        throw StorageError(path + ": cannot make its journal " + name + ": " + ErrnoText(errno));
    try {
        CopyPermissions(fd, out.get());
        if (!WriteBlock(out.get(), 0, bytes.data(), bytes.size()))
            throw StorageError(path + ": write failed: cannot write its journal: " +
                               ErrnoText(errno));
        SyncFile(out.get(), name);
        // A journal the disk kept other bytes of would be thrown away as cut
        // short after a crash, leaving the file torn: it must read back
        // before the file may change.
        std::vector<uint8_t> back(bytes.size());
        if (!ReadFullyAt(out.get(), 0, back.data(), back.size()) || back != bytes)
            throw StorageError(path + ": write failed: its journal does not read back");
        SyncFolder(FolderOf(name));
    } catch (...) {
        ::unlink(name.c_str());
        throw;
    }
}

bool RollBackHotJournal(int fd, const std::string& file, const std::string& path) {
    const std::string name = JournalPathOf(file);
    const std::optional<std::vector<uint8_t>> bytes = ReadJournalFile(name, path);
    if (!bytes) return false;
    const std::optional<Journal> journal = DecodeJournal(*bytes);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw StorageError(path + ": cannot read the file: " + ErrnoText(errno));
    if (!journal || journal->device != st.st_dev || journal->inode != st.st_ino) {
        RemoveJournal(name, path);
        return false;
    }
    for (const JournalRecord& r : journal->records) {
        if (!WriteFullyAt(fd, r.offset, r.bytes.data(), r.bytes.size()))
            throw StorageError(path + ": cannot roll back an interrupted commit: " +
                               ErrnoText(errno));
        if (FileSystemHooks* hooks = InstalledFileSystemHooks()) hooks->wrote(fd);
    }
    if (::ftruncate(fd, static_cast<off_t>(journal->fileSize)) != 0)
        throw StorageError(path + ": cannot roll back an interrupted commit: " + ErrnoText(errno));
    SyncFile(fd, path);
    RemoveJournal(name, path);
    return true;
}

}  // namespace tq
