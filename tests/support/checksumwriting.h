// Commits a storage with the stream of checksums written as a test asks:
// none (a file as written before there were any) or the committed one kept
// (damage as a disk makes it). Later commits compute them again, also when
// this one fails.
#pragma once

#include "platform/storage/oclstorage.h"

namespace tq::test {

inline void CommitWritingChecksums(OCLStorage& storage, OCLStorage::ChecksumWriting how) {
    OCLStorage::SetChecksumWriting(how);
    try {
        storage.Commit();
    } catch (...) {
        OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
        throw;
    }
    OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
}

}  // namespace tq::test
