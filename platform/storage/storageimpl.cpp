#include "platform/storage/storageimpl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/storage/cfbcheck.h"
#include "platform/storage/cfbreader.h"
#include "platform/storage/cfbwriter.h"
#include "platform/storage/checksums.h"
#include "platform/storage/inplace.h"
#include "platform/storage/journal.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/fileutil.h"
#include "platform/util/utfconv.h"

namespace tq {

namespace {

CfbWriter::FaultHook& CommitFaultHook() {
    static CfbWriter::FaultHook hook;
    return hook;
}

OCLStorage::ChecksumWriting& ChecksumWritingSeam() {
    static OCLStorage::ChecksumWriting how = OCLStorage::ChecksumWriting::kCompute;
    return how;
}

OCLStorage::InPlaceCommits& InPlaceSeam() {
    static OCLStorage::InPlaceCommits when = OCLStorage::InPlaceCommits::kWhenSmaller;
    return when;
}

uint32_t& ChecksumPieceSizeSeam() {
    static uint32_t bytes = kChecksumPieceSize;
    return bytes;
}

constexpr uint32_t kWriteBits = STGM_WRITE | STGM_READWRITE;

// libgsf lays out a storage's entries as one chain of siblings, and a chain
// longer than the directory depth we read (kMaxDirectoryDepth) would make a
// file we refuse to open: a storage holds at most this many entries.
constexpr size_t kMaxEntries = 1000;
static_assert(kMaxEntries < kMaxDirectoryDepth);

// New module files get the usual permissions, less the umask; the private
// temporary storages only their owner's.
constexpr unsigned kModuleFileMode = 0666;
constexpr unsigned kPrivateFileMode = 0600;

// A commit compares what it wrote with what it reads back in pieces of this
// size, so that a large stream never needs to be in memory whole.
constexpr size_t kReadBackChunk = 1 << 20;

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const std::string& a, const std::string& b) {
    return !NameLess{}(a, b) && !NameLess{}(b, a);
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    const auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

// Not blocking, in case something other than a file took the path; the
// reader refuses anything but a regular file.
UniqueFd OpenForReading(const std::string& file, const std::string& path) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) throw StorageError(path + ": cannot open: " + ErrnoText(errno));
    return fd;
}

// Names a new stream may have: 1 to 31 UTF-16 units, none of the characters
// the container reserves. (Streams found in a file are taken as named, even
// "\005SummaryInformation".)
bool IsValidStreamName(const std::string& name) {
    if (name.empty()) return false;
    for (const char c : name)
        if (c == '\0' || c == '/' || c == '\\' || c == ':' || c == '!') return false;
    const std::optional<std::u16string> utf16 = Utf8ToUtf16(name);
    return utf16 && utf16->size() <= 31;
}

// Whether the path still names the file whose lock we hold. A file renamed
// over it since (a backup restored, a sync tool, an editor's save) lets
// another writer in, and replacing it would lose what that writer commits.
// A path that names nothing leaves nobody's file to lose.
void CheckNotReplaced(const UniqueFd& held, const std::string& file, const std::string& path) {
    struct stat ours, now;
    if (!held || ::stat(file.c_str(), &now) != 0 || ::fstat(held.get(), &ours) != 0) return;
    if (ours.st_dev != now.st_dev || ours.st_ino != now.st_ino)
        throw StorageError(path + " was replaced by another program since it was opened");
}

}  // namespace

void SetCommitFaultHook(std::function<bool(uint64_t)> hook) { CommitFaultHook() = std::move(hook); }

void SetCommitChecksumWriting(OCLStorage::ChecksumWriting how) { ChecksumWritingSeam() = how; }

void SetCommitChecksumPieceSize(uint32_t bytes) { ChecksumPieceSizeSeam() = bytes; }

void SetCommitInPlace(OCLStorage::InPlaceCommits when) { InPlaceSeam() = when; }

bool NameLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Upper(x) < Upper(y); });
}

// ---- opening ------------------------------------------------------------------

StorageImpl::StorageImpl(const char* path, int create, uint32_t mode) {
    if (path == nullptr || *path == '\0')
        throw StorageError("cannot open a storage without a file name");
    openNamed(path, create, mode);
}

void StorageImpl::openNamed(const std::string& path, int create, uint32_t mode) {
    path_ = Absolute(path);
    file_ = ResolvedPath(path_);
    writable_ = (mode & kWriteBits) != 0;
    transacted_ = (mode & STGM_TRANSACTED) != 0;
    const bool replace = (mode & STGM_CREATE) != 0;
    if (replace && !writable_)
        throw StorageError(path_ + ": cannot replace a storage without write access");

    // A file made by another process between our look and our creation is
    // opened as it is found; the bound only guards against a peer that keeps
    // removing it.
    for (int round = 0; round < 16; ++round) {
        struct stat st;
        if (::stat(file_.c_str(), &st) != 0) {
            if (errno != ENOENT) throw StorageError(path_ + ": cannot open: " + ErrnoText(errno));
            if (!create && !replace) throw StorageError(path_ + ": no such file");
            if (!writable_)
                throw StorageError(path_ + ": cannot create a storage without write access");
            if (create == kCreateOnFirstCommit) {
                startUnborn(kModuleFileMode);
                return;
            }
            createFile();
            if (lock_) return;
            continue;
        }
        if (!S_ISREG(st.st_mode)) throw StorageError(path_ + ": not a regular file");
        if (writable_) {
            // The permission bits, not access(): a process running as root
            // may write anything, but a module marked read-only stays so.
            if ((st.st_mode & 0222) == 0)
                throw StorageError(path_ + ": the file is read-only");
            lock_ = OpenForWriting(file_);
            RollBackHotJournal(lock_.get(), file_, path_);
            RemoveStaleCommitFiles(file_);
            if (replace) {
                adoptImage(nullptr, true);
                return;
            }
        }
        UniqueFd fd = OpenForReading(file_, path_);
        // A reader's share before the look for a journal: from then on no
        // in-place commit starts on the file while the image reads it.
        if (!writable_) {
            TakeReaderShare(fd.get(), path_);
            if (HasJournal(file_)) rollBackForReading();
        }
        adoptImage(CfbReader::Open(fd.release(), path_), false);
        return;
    }
    throw StorageError(path_ + ": cannot create: the file keeps disappearing");
}

// A file beside a hot journal holds a commit cut short and reads as neither
// its old nor its new content until the journal is rolled back. A reader does
// that as a writer would, under the file's write lock, when it may write it.
void StorageImpl::rollBackForReading() const {
    UniqueFd fd;
    try {
        fd = OpenForWriting(file_);
    } catch (const StorageError& e) {
        throw StorageError(path_ + ": a commit of the file was cut short and must be rolled "
                                   "back before it can be read, which needs write access (" +
                           e.what() + ")");
    }
    RollBackHotJournal(fd.get(), file_, path_);
}

void StorageImpl::createFile() {
    // The empty storage is written under a temporary name and linked to the
    // path only when whole: the path never names a half-written file, and
    // link() refuses to replace a file that appeared in the meantime.
    TempFile temp(FolderOf(file_), CommitTempPrefix(file_), path_, kModuleFileMode);
    writeEmpty(temp.fd(), path_);
    SyncFile(temp.fd(), path_);
    auto image = CfbReader::Open(OpenForReading(temp.path(), path_).release(), path_);
    TryWriteLock(temp.fd());
    if (::link(temp.path().c_str(), file_.c_str()) != 0) {
        if (errno == EEXIST) return;
        throw StorageError(path_ + ": cannot create: " + ErrnoText(errno));
    }
    const std::string tempPath = temp.path();
    lock_ = temp.keep();
    ::unlink(tempPath.c_str());
    adoptImage(std::move(image), false);
    SyncFolder(FolderOf(file_));
}

StorageImpl::StorageImpl(uint32_t mode) {
    const char* folder = std::getenv("TMPDIR");
    path_ = file_ = NewTempFileName(folder && *folder ? folder : "/tmp", "qbo");
    if (path_.empty())
        throw StorageError("cannot make a temporary storage: " + ErrnoText(errno));
    writable_ = (mode & kWriteBits) != 0;
    transacted_ = (mode & STGM_TRANSACTED) != 0;
    temporary_ = true;
    startUnborn(kPrivateFileMode);
}

void StorageImpl::startUnborn(unsigned fileMode) {
    unborn_ = true;
    newFileMode_ = fileMode;
    adoptImage(nullptr, false);
}

StorageImpl::~StorageImpl() {
    // A storage in direct mode writes what it holds when it goes; a failure
    // here cannot be raised, and the file keeps its last committed content.
    if (writable_ && !transacted_ && dirty_ && !temporary_) {
        try {
            commitNow();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tqstore: %s\n", e.what());
        }
    }
    for (auto& [name, state] : streams_) state->detach();
    for (auto& state : phantoms_) state->detach();
    // A file at the name of a storage that never made its own is not ours.
    if (temporary_ && !unborn_) ::unlink(file_.c_str());
}

uint64_t StorageImpl::bytesRead() const { return image_ ? image_->bytesRead() : 0; }

bool StorageImpl::hasChecksums() const {
    return image_ && !baselineEmpty_ && image_->hasChecksums();
}

void StorageImpl::verifyChecksums() {
    if (image_ && !baselineEmpty_) image_->verifyAll();
}

// ---- the committed image and the transaction -------------------------------------

StreamContent StorageImpl::baseline(const std::string& name) const {
    if (!image_ || baselineEmpty_) return {};
    if (IsChecksumStreamName(name)) return {};
    for (const CfbEntry& e : image_->listing().root)
        if (!e.isStorage && SameName(e.name, name))
            return StreamContent::Committed(image_, e.name, e.size);
    return {};
}

std::map<std::string, StorageImpl::Carried, NameLess> StorageImpl::baselineStorages() const {
    std::map<std::string, Carried, NameLess> storages;
    if (!image_ || baselineEmpty_) return storages;
    for (const CfbEntry& e : image_->listing().root)
        if (e.isStorage) storages.emplace(e.name, Carried{image_, e.name});
    return storages;
}

void StorageImpl::adoptImage(std::shared_ptr<CfbReader> image, bool baselineEmpty) {
    image_ = std::move(image);
    baselineEmpty_ = baselineEmpty;
    classId_ = image_ && !baselineEmpty_ ? image_->listing().rootClassId
                                         : std::array<uint8_t, 16>{};
    if (image_ && !baselineEmpty_) {
        for (const CfbEntry& e : image_->listing().root)
            if (!e.isStorage && !IsChecksumStreamName(e.name)) stateFor(e.name);
    }
    for (auto& [name, state] : streams_) state->content = baseline(name);
    storages_ = baselineStorages();
    // Both leave the file behind the path without the storage's content
    // until a commit writes it.
    dirty_ = baselineEmpty_ || unborn_;
}

StreamState& StorageImpl::stateFor(const std::string& name) {
    auto it = streams_.find(name);
    if (it == streams_.end())
        it = streams_.emplace(name, std::make_shared<StreamState>(this, name)).first;
    return *it->second;
}

void StorageImpl::writeEmpty(int fd, const std::string& path) {
    CfbWriter writer(fd, path, nullptr);
    writer.finish();
}

// Every stream's checksums are taken from the bytes as they are written, and
// the stream of checksums follows the others. Committed bytes carried over
// are read through their old checksums first: damage is never written on
// under new ones.
void StorageImpl::writeContent(int fd, const std::string& path) {
    CfbWriter writer(fd, path, &CommitFaultHook());
    writer.setRootClassId(classId_);
    ChecksumTable checksums;
    const OCLStorage::ChecksumWriting how = ChecksumWritingSeam();
    // A file written without new checksums takes none: its commit costs
    // what a commit without checksums costs, the baseline benchmarks need.
    const bool summing = how == OCLStorage::ChecksumWriting::kCompute;
    for (const auto& [key, state] : streams_) {
        const StreamContent& content = state->content;
        if (!content.exists()) continue;
        ChecksumBuilder sum(content.size(), ChecksumPieceSizeSeam());
        writer.writeStream(state->name(), content.size(),
                           [&content, &sum, summing](uint32_t offset, uint8_t* out, size_t n) {
                               content.read(offset, out, n);
                               if (summing) sum.add(out, n);
                           });
        if (summing) checksums.emplace(state->name(), sum.take());
    }
    std::vector<uint8_t> table;
    if (summing) table = EncodeChecksums(checksums, ChecksumPieceSizeSeam());
    if (how == OCLStorage::ChecksumWriting::kKeepCommitted) {
        for (const CfbEntry& e : image_ ? image_->listing().root : std::vector<CfbEntry>{})
            if (!e.isStorage && IsChecksumStreamName(e.name)) {
                table.resize(e.size);
                image_->read(e.name, 0, table.data(), table.size());
            }
    }
    if (how == OCLStorage::ChecksumWriting::kCompute || !table.empty())
        writer.writeStream(kChecksumStreamName, static_cast<uint32_t>(table.size()),
                           [&table](uint32_t offset, uint8_t* out, size_t n) {
                               std::memcpy(out, table.data() + offset, n);
                           });
    for (const auto& [key, carried] : storages_) writer.copyStorage(*carried.from, carried.name);
    writer.finish();
}

// Opens what was just written and checks that it holds what it should, every
// stream byte for byte; a file that does not read back is never installed. A
// disk or file system may report a write done and keep other bytes, or fewer:
// only reading the file again tells.
std::shared_ptr<CfbReader> StorageImpl::readBack(int fd, const std::string& path) {
    std::shared_ptr<CfbReader> image;
    std::string fault;
    try {
        image = CfbReader::Open(fd, path,
                                ChecksumWritingSeam() == OCLStorage::ChecksumWriting::kCompute);
        fault = differenceFrom(*image);
    } catch (const StorageError& e) {
        fault = e.what();
    }
    if (!fault.empty())
        throw StorageError(path + ": write failed: the written file does not read back: " + fault);
    return image;
}

std::string StorageImpl::differenceFrom(CfbReader& image) const {
    size_t expected = storages_.size() + 1;  // and the stream of checksums
    std::vector<uint8_t> written, read;
    for (const auto& [key, state] : streams_) {
        const StreamContent& content = state->content;
        if (!content.exists()) continue;
        ++expected;
        const std::string& name = state->name();
        const CfbEntry* e = image.find(name);
        if (e == nullptr || e->isStorage || e->size != content.size())
            return "stream \"" + name + "\" is missing or of another size";
        const uint32_t size = content.size();
        written.resize(std::min<size_t>(size, kReadBackChunk));
        read.resize(written.size());
        for (uint32_t offset = 0; offset < size;) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(size - offset, kReadBackChunk));
            content.read(offset, written.data(), n);
            image.read(name, offset, read.data(), n);
            if (std::memcmp(written.data(), read.data(), n) != 0)
                return "stream \"" + name + "\" holds other bytes";
            offset += n;
        }
    }
    if (ChecksumWritingSeam() == OCLStorage::ChecksumWriting::kCompute) {
        if (!image.hasChecksums()) return "it lacks the checksums of its streams";
    } else {
        expected = image.listing().root.size();
    }
    if (image.listing().root.size() != expected) return "its entries are not the storage's";
    if (image.listing().rootClassId != classId_) return "its class id is not the storage's";
    return "";
}

void StorageImpl::commit() {
    if (!writable_ || !dirty_) return;
    commitNow();
}

void StorageImpl::commitNow() {
    // An in-place commit whose rollback failed left its journal: the file
    // gets its old bytes back before anything else is written.
    if (lock_ && !unborn_ && HasJournal(file_)) RollBackHotJournal(lock_.get(), file_, path_);
    if (commitInPlace()) return;
    const std::string folder = FolderOf(file_);
    TempFile temp(folder, CommitTempPrefix(file_), path_,
                  unborn_ ? newFileMode_ : kPrivateFileMode);
    if (lock_) CopyPermissions(lock_.get(), temp.fd());
    writeContent(temp.fd(), path_);
    SyncFile(temp.fd(), path_);
    auto image = readBack(OpenForReading(temp.path(), path_).release(), path_);
    CheckNotReplaced(lock_, file_, path_);
    // Lock the new file before it takes the path, so that there is no moment
    // when the path names an unlocked file.
    if (!TryWriteLock(temp.fd()))
        throw StorageError(path_ + ": cannot lock the new file");
    if (unborn_) {
        // The storage's first file: link() refuses to replace a file that
        // another program has put at the path meanwhile, which is not ours to
        // overwrite.
        if (::link(temp.path().c_str(), file_.c_str()) != 0)
            throw StorageError(path_ + ": cannot create: " + ErrnoText(errno));
        const std::string tempPath = temp.path();
        lock_ = temp.keep();
        ::unlink(tempPath.c_str());
        unborn_ = false;
    } else {
        if (!RenameFile(temp.path(), file_))
            throw StorageError(path_ + ": cannot replace the file: " + ErrnoText(errno));
        lock_ = temp.keep();  // closing the old descriptor frees the old file's lock
    }
    adoptImage(std::move(image), false);
    wholeNext_ = false;
    SyncFolder(folder);
}

bool StorageImpl::commitInPlace() {
    const OCLStorage::InPlaceCommits when = InPlaceSeam();
    if (when == OCLStorage::InPlaceCommits::kNever || wholeNext_ || unborn_ || baselineEmpty_ || !image_ ||
        !lock_ || !storages_.empty() || !image_->hasChecksums() ||
        ChecksumWritingSeam() != OCLStorage::ChecksumWriting::kCompute ||
        ChecksumPieceSizeSeam() != kChecksumPieceSize || classId_ != image_->listing().rootClassId)
        return false;
    long holders = 1;  // image_ itself
    std::vector<InPlaceStream> streams;
    for (const auto& [key, state] : streams_) {
        if (state->content.base() == image_) ++holders;
        if (state->content.exists()) streams.push_back({state->name(), &state->content});
    }
    if (image_.use_count() != holders) return false;
    CheckNotReplaced(lock_, file_, path_);
    if (!TryExcludeReaders(lock_.get())) return false;
    struct Admit {
        int fd;
        ~Admit() { AdmitReaders(fd); }
    } admit{lock_.get()};
    struct stat st;
    if (::fstat(lock_.get(), &st) != 0)
        throw StorageError(path_ + ": cannot read the file: " + ErrnoText(errno));
    // Past half the file, the journal and the sectors together write more
    // than a whole new file would.
    const uint64_t limit = when == OCLStorage::InPlaceCommits::kAlways
                               ? UINT64_MAX
                               : static_cast<uint64_t>(st.st_size) / 2;
    std::unique_ptr<InPlaceCommit> plan =
        InPlaceCommit::Plan(lock_.get(), path_, *image_, streams, limit);
    if (!plan) return false;
    std::shared_ptr<CfbReader> image = plan->run(file_, &CommitFaultHook());
    if (!image) {
        adoptImage(image_, false);  // the bytes written were the committed ones
        return true;
    }
    adoptImage(std::move(image), false);
    // The journal's removal reaches the disk with its folder (a failure here
    // comes with the commit done, as a whole commit's does).
    SyncFolder(FolderOf(file_));
    return true;
}

void StorageImpl::revert() {
    // In direct mode every write is the content already: there is nothing to
    // go back to.
    if (!transacted_) return;
    adoptImage(image_, baselineEmpty_);
}

// ---- copying and moving ------------------------------------------------------------

size_t StorageImpl::entryCount() const {
    size_t n = storages_.size() + 1;  // the stream of checksums a commit adds
    for (const auto& [key, state] : streams_)
        if (state->content.exists()) ++n;
    return n;
}

void StorageImpl::copyTo(StorageImpl& dest) {
    if (&dest == this) return;
    if (!dest.writable_)
        throw StorageError(dest.path_ + ": cannot copy into a storage without write access");
    const auto isNew = [&dest](const std::string& name) {
        return !dest.hasStream(name) && dest.storages_.count(name) == 0;
    };
    size_t after = dest.entryCount();
    for (const auto& [key, state] : streams_)
        if (state->content.exists() && isNew(key)) ++after;
    for (const auto& [key, carried] : storages_)
        if (isNew(key)) ++after;
    if (after > kMaxEntries)
        throw StorageError(dest.path_ + ": cannot copy " + path_ +
                           " into it: a storage holds at most " + std::to_string(kMaxEntries) +
                           " entries");
    for (const auto& [key, state] : streams_) {
        if (!state->content.exists()) continue;
        dest.stateFor(state->name()).content = state->content;
        dest.storages_.erase(state->name());
    }
    for (const auto& [key, carried] : storages_) {
        dest.storages_.insert_or_assign(carried.name, carried);
        auto it = dest.streams_.find(carried.name);
        if (it != dest.streams_.end()) it->second->content = StreamContent();
    }
    dest.classId_ = classId_;
    dest.dirty_ = true;
}

void StorageImpl::switchTo(const char* path) {
    if (path == nullptr || *path == '\0')
        throw StorageError(path_ + ": cannot switch to a file without a name");
    const std::string targetPath = Absolute(path);
    const std::string target = ResolvedPath(targetPath);
    struct stat current, st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && ::stat(file_.c_str(), &current) == 0 && current.st_dev == st.st_dev &&
        current.st_ino == st.st_ino)
        return;

    UniqueFd targetLock;
    if (exists) {
        if (!S_ISREG(st.st_mode)) throw StorageError(targetPath + ": not a regular file");
        if ((st.st_mode & 0222) == 0) throw StorageError(targetPath + ": the file is read-only");
        targetLock = OpenForWriting(target);
        // A journal left beside the file goes with the file it was for,
        // before a new file takes the path (and, one day, its inode number).
        RollBackHotJournal(targetLock.get(), target, targetPath);
    }
    const std::string folder = FolderOf(target);
    TempFile temp(folder, CommitTempPrefix(target), targetPath, kModuleFileMode);
    if (targetLock) CopyPermissions(targetLock.get(), temp.fd());
    if (image_ && !baselineEmpty_)
        CopyFileContent(image_->fd(), temp.fd(), targetPath);
    else
        writeEmpty(temp.fd(), targetPath);
    SyncFile(temp.fd(), targetPath);
    auto image = CfbReader::Open(OpenForReading(temp.path(), targetPath).release(), targetPath);
    if (writable_ && !TryWriteLock(temp.fd()))
        throw StorageError(targetPath + ": cannot lock the new file");
    if (!RenameFile(temp.path(), target))
        throw StorageError(targetPath + ": cannot create: " + ErrnoText(errno));

    // From here on the storage lives in the new file.
    UniqueFd newFd = temp.keep();
    if (temporary_ && !unborn_) ::unlink(file_.c_str());
    temporary_ = false;
    path_ = targetPath;
    file_ = target;
    if (writable_) lock_ = std::move(newFd);
    else lock_.reset();
    const std::shared_ptr<CfbReader> old = image_;
    if (baselineEmpty_ || unborn_) {
        // The new file holds an empty storage, as the committed content was.
        image_ = image;
        baselineEmpty_ = false;
        unborn_ = false;
    } else {
        image_ = image;
        for (auto& [key, state] : streams_) state->content.rebase(old, image);
        for (auto& [key, carried] : storages_)
            if (carried.from == old) carried.from = image;
    }
    SyncFolder(folder);
}

// ---- streams ---------------------------------------------------------------------------

std::vector<std::string> StorageImpl::streamNames() const {
    std::vector<std::string> names;
    for (const auto& [key, state] : streams_)
        if (state->content.exists()) names.push_back(state->name());
    std::sort(names.begin(), names.end());
    return names;
}

bool StorageImpl::hasStream(const std::string& name) const {
    const auto it = streams_.find(name);
    return it != streams_.end() && it->second->content.exists();
}

bool StorageImpl::removeStream(const std::string& name) {
    if (!writable_)
        throw StorageError(path_ + ": cannot remove stream \"" + name +
                           "\": the storage was opened without write access");
    const auto it = streams_.find(name);
    if (it == streams_.end() || !it->second->content.exists()) return false;
    it->second->content = StreamContent();
    dirty_ = true;
    return true;
}

std::shared_ptr<StreamState> StorageImpl::openStream(const std::string& name, bool create) {
    const auto it = streams_.find(name);
    if (it != streams_.end() && it->second->content.exists()) return it->second;
    if (storages_.count(name) != 0)
        throw StorageError(path_ + ": \"" + name + "\" is a storage, not a stream");
    if (IsChecksumStreamName(name))
        throw StorageError(path_ + ": the stream \"" + name + "\" is the storage's own");
    if (!create) throw StorageError(path_ + ": no stream named \"" + name + "\"");
    if (!IsValidStreamName(name))
        throw StorageError(path_ + ": \"" + name + "\" is not a valid stream name");
    if (writable_ && entryCount() >= kMaxEntries)
        throw StorageError(path_ + ": cannot create stream \"" + name +
                           "\": a storage holds at most " + std::to_string(kMaxEntries) +
                           " entries");
    if (!writable_) {
        auto phantom = std::make_shared<StreamState>(this, name);
        phantom->content = StreamContent::Empty();
        phantoms_.push_back(phantom);
        return phantom;
    }
    StreamState& state = stateFor(name);
    state.content = StreamContent::Empty();
    dirty_ = true;
    return streams_.find(name)->second;
}

void StorageImpl::checkWritable(const StreamState& stream) const {
    if (!writable_)
        throw StorageError(path_ + ": stream \"" + stream.name() +
                           "\": the storage was opened without write access");
}

}  // namespace tq
