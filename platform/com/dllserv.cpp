#include "platform/com/dllserv.h"

#include "platform/com/oclfact.h"
#include "platform/util/uassert.h"

namespace tq {

DllServer::DllServer() = default;
DllServer::~DllServer() = default;

OCLFactory& DllServer::addFactory(const char* clsidText) {
    factories_.push_back(std::make_unique<OCLFactory>(*this, clsidText));
    return *factories_.back();
}

HRESULT DllServer::getClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv) *ppv = nullptr;
    const auto wanted = clsid.toBytes();
    for (const auto& factory : factories_) {
        if (factory->classId().toBytes() == wanted) return factory->QueryInterface(riid, ppv);
    }
    return E_FAIL;
}

void DllServer::lock() { ++lockCount_; }

HRESULT DllServer::unlock() {
    if (lockCount_ == 0) return E_FAIL;
    --lockCount_;
    return S_OK;
}

void DllServer::objectCreated() { ++objectCount_; }

void DllServer::objectDestroyed() {
    TQ_ASSERT(objectCount_ > 0, "objectCount > 0");
    --objectCount_;
}

uint32_t DllServer::addRef() { return ++refCount_; }

uint32_t DllServer::release() {
    TQ_ASSERT(refCount_ > 0, "refCount > 0");
    return --refCount_;
}

}  // namespace tq
