#include "platform/com/oclobj.h"

#include "platform/com/dllserv.h"
#include "platform/util/uassert.h"

namespace tq {

OCLObject::OCLObject(DllServer* server) : server_(server) {
    if (server_) server_->objectCreated();
}

OCLObject::~OCLObject() {
    if (server_) server_->objectDestroyed();
}

HRESULT OCLObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    IUnknown* found = findInterface(riid);
    *ppv = found;
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    return S_OK;
}

uint32_t OCLObject::AddRef() { return ++refs_; }

uint32_t OCLObject::Release() {
    TQ_ASSERT(refs_ > 0, "count>0");
    const uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
}

IUnknown* OCLObject::findInterface(REFIID riid) {
    return riid == IID_IUnknown ? this : nullptr;
}

}  // namespace tq
