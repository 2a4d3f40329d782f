// DllServer: the class-factory server of a library.
//
// A library that publishes classes to COM-style clients owns one server, and
// the server owns one OCLFactory per class, searched in the order they were
// added. The server decides whether the library may be unloaded.
//
// Invariants:
//  1. The server is in use while its lock count (LockServer holds) is
//     non-zero or any object made through one of its factories is alive;
//     CanUnloadNow() answers S_FALSE then and S_OK otherwise.
//  2. The lock count never goes below zero: a LockServer(FALSE) without a
//     hold to give back is refused, so an unbalanced client cannot pin the
//     library or hide another client's hold.
//  3. Factories live as long as the server; their AddRef/Release count on
//     the server and never delete them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace tq {

class OCLFactory;

class DllServer {
public:
    DllServer();
    ~DllServer();
    DllServer(const DllServer&) = delete;
    DllServer& operator=(const DllServer&) = delete;

    // Adds a factory for the class whose id is clsidText ("{...}"); an id
    // that does not parse is a fault of the library's own table.
    OCLFactory& addFactory(const char* clsidText);
    const std::vector<std::unique_ptr<OCLFactory>>& factories() const { return factories_; }

    // The first factory whose class id equals clsid, asked for riid;
    // E_FAIL when no factory makes that class.
    HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** ppv);

    bool inUse() const { return lockCount_ != 0 || objectCount_ != 0; }
    HRESULT canUnloadNow() const { return inUse() ? S_FALSE : S_OK; }

    // LockServer(TRUE) / LockServer(FALSE).
    void lock();
    HRESULT unlock();

    // Objects made through a factory count themselves here (OCLObject).
    void objectCreated();
    void objectDestroyed();

    // References to the factories, forwarded by their AddRef/Release.
    uint32_t addRef();
    uint32_t release();

    int32_t lockCount() const { return lockCount_; }
    int32_t objectCount() const { return objectCount_; }
    uint32_t refCount() const { return refCount_; }

private:
    std::vector<std::unique_ptr<OCLFactory>> factories_;
    int32_t lockCount_ = 0;
    int32_t objectCount_ = 0;
    uint32_t refCount_ = 0;
};

}  // namespace tq
