// Helpers of the persistence suites: the names of DETACHED_MODULE for the
// whole program, and a module on a file with its tables of names and strings.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/persist/descobj.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "store/persist/vlstrrep.h"

namespace tq::test {

using Strings = DescribedObjectNoDescriptor<ValStringRep>;

// One module file, open in the module table with every table of the store;
// further kinds are the test's own business.
class TestModule {
public:
    explicit TestModule(const std::string& path, int create = 1) {
        store_ = std::make_unique<ObjectStore>(
            new OCLStorage(path.c_str(), create, STGM_READWRITE | STGM_SHARE_EXCLUSIVE));
        m = store_->moduleIndex();
    }
    ~TestModule() { close(); }
    TestModule(const TestModule&) = delete;
    TestModule& operator=(const TestModule&) = delete;

    OCLStorage& storage() { return store_->storage(); }

    void save() {
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
    }

    // Discards the tables and leaves the module table.
    void close() { store_.reset(); }

    tModuleIndex m = NO_MODULE;

private:
    std::unique_ptr<ObjectStore> store_;
};

// The streams every module file holds.
inline constexpr const char* kModuleStreams[] = {
    "Module version", "Static globals", "Objects",          "Signatures",         "Strings",
    "Enumerations",   "ObjectProxies",  "EnumerationProxies", "SignatureProxies", "IdStrings"};

// Writes bytes as the whole content of stream `name` of a new module file;
// the module's other streams are there, empty.
inline void WriteStreamFile(const std::string& path, const char* name, const std::string& bytes) {
    OCLStorage storage(path.c_str(), 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE);
    for (const char* other : kModuleStreams) OCLStream(storage, other, 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    OCLStream s(storage, name, 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.write(bytes.data(), bytes.size());
    storage.Commit();
}

// Little-endian pieces of hand-made records.
inline std::string U16(uint16_t v) { return std::string{char(v), char(v >> 8)}; }
inline std::string U32(uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

}  // namespace tq::test
