#include "platform/storage/oclstorage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/storage/cfbcheck.h"
#include "platform/storage/fileops.h"
#include "platform/storage/gsfapi.h"
#include "platform/storage/storageimpl.h"

namespace tq {

OCLStorage::OCLStorage(const char* path, int create, uint32_t mode)
    : impl_(std::make_unique<StorageImpl>(path, create, mode)) {}

OCLStorage::OCLStorage(uint32_t mode) : impl_(std::make_unique<StorageImpl>(mode)) {}

OCLStorage::~OCLStorage() = default;

bool OCLStorage::IsStorageFile(const char* path) {
    if (path == nullptr) return false;
    // Not blocking: a FIFO or a device at the path must not hold us up.
    UniqueFd fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    uint8_t head[kCompoundFileSignature.size()];
    if (::pread(fd.get(), head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return false;
    return std::memcmp(head, kCompoundFileSignature.data(), sizeof head) == 0;
}

bool OCLStorage::isWritable() const { return impl_->isWritable(); }
bool OCLStorage::isTransacted() const { return impl_->isTransacted(); }
bool OCLStorage::isTemporary() const { return impl_->isTemporary(); }
bool OCLStorage::hasFile() const { return impl_->hasFile(); }
std::string OCLStorage::GetStoragePath() const { return impl_->path(); }

void OCLStorage::Commit() { impl_->commit(); }
void OCLStorage::Revert() { impl_->revert(); }
void OCLStorage::CopyTo(OCLStorage& dest) { impl_->copyTo(*dest.impl_); }
void OCLStorage::SwitchTo(const char* path) { impl_->switchTo(path); }

std::vector<std::string> OCLStorage::streamNames() const { return impl_->streamNames(); }
bool OCLStorage::hasStream(const std::string& name) const { return impl_->hasStream(name); }
bool OCLStorage::removeStream(const std::string& name) { return impl_->removeStream(name); }
uint64_t OCLStorage::bytesReadFromFile() const { return impl_->bytesRead(); }

void OCLStorage::SetChecksumWriting(ChecksumWriting how) { SetCommitChecksumWriting(how); }

void OCLStorage::SetChecksumPieceSize(uint32_t bytes) { SetCommitChecksumPieceSize(bytes); }

bool OCLStorage::hasChecksums() const { return impl_->hasChecksums(); }

void OCLStorage::verifyChecksums() { impl_->verifyChecksums(); }
uint64_t OCLStorage::bytesWrittenToStreams() const { return impl_->bytesWritten(); }

void OCLStorage::CommitWholeNextTime() { impl_->commitWholeNextTime(); }

void OCLStorage::SetInPlaceCommits(InPlaceCommits when) { SetCommitInPlace(when); }

void OCLStorage::SetWriteFaultHook(WriteFaultHook hook) { SetCommitFaultHook(std::move(hook)); }

bool OCLStorage::CompoundFileLibraryLoaded() { return GsfLoaded(); }

void OCLStorage::SetCompoundFileLibrary(const char* soname) {
    if (soname != nullptr) SetGsfLibraryName(soname);
}

}  // namespace tq
