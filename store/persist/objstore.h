// ObjectStore: one loaded module, and the class-wide table of modules.
//
// A module is one compound file; its ObjectStore owns the file's storage and
// is made by the application (StoreApplication::MakeStore) when the file is
// opened. A host may subclass it and keep data of its own in the module's
// storage through the three hooks, which the store calls while it tests,
// writes and discards a module.
//
// This class grows with the module table, loading, saving and unloading;
// for now it holds the storage and publishes object libraries.
//
// Invariants:
//  1. The storage belongs to the store from construction on and goes with it.
//  2. A published library stays loaded for the life of the process: classes
//     it registered point into it.
#pragma once

#include <memory>

namespace tq {

class OCLStorage;

class ObjectStore {
public:
    // Takes ownership of storage.
    explicit ObjectStore(OCLStorage* storage);
    virtual ~ObjectStore();
    ObjectStore(const ObjectStore&) = delete;
    ObjectStore& operator=(const ObjectStore&) = delete;

    // An extra test of whether module m has unsaved changes.
    virtual bool isDirtyHook(unsigned char m);
    // Extra writing while module m is saved.
    virtual void writeHook(unsigned char m);
    // Extra discarding while module m is deleted.
    virtual void deleteHook(unsigned char m);

    OCLStorage* storage() const { return storage_.get(); }

    // Loads the object library `library` ("tqstore" is this library itself)
    // and runs its POD_Populate, which registers its classes. A library that
    // will not load or has no POD_Populate raises the loader's text as a
    // SystemError StoreException.
    static void PublishObjectDLL(const char* library);

private:
    std::unique_ptr<OCLStorage> storage_;
};

}  // namespace tq
