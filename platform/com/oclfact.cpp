#include "platform/com/oclfact.h"

#include "platform/com/classreg.h"
#include "platform/com/dllserv.h"
#include "platform/util/uassert.h"

namespace tq {
namespace {

CLSID ParseClassId(const char* text) {
    const auto id = text ? GUID::Parse(text) : std::nullopt;
    TQ_ASSERT(id.has_value(), "valid class id");
    return *id;
}

}  // namespace

OCLFactory::OCLFactory(DllServer& server, const char* clsidText)
    : server_(server), classId_(ParseClassId(clsidText)) {}

OCLFactory::~OCLFactory() = default;

HRESULT OCLFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

uint32_t OCLFactory::AddRef() { return server_.addRef(); }
uint32_t OCLFactory::Release() { return server_.release(); }

HRESULT OCLFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    const ClassEntry* entry = ClassRegistry::FindByClsid(classId_);
    // The creator hands over the object's IUnknown holding one reference,
    // or null when it could not make it.
    IUnknown* object = entry && entry->creator ? entry->creator(&server_) : nullptr;
    if (!object) return E_NOINTERFACE;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    // Give back the creation reference: after a successful query the caller
    // holds the only one; after a failed one the object goes at once instead
    // of staying alive and keeping the server in use for ever.
    object->Release();
    return hr;
}

HRESULT OCLFactory::LockServer(int lock) {
    if (lock) {
        server_.lock();
        return S_OK;
    }
    return server_.unlock();
}

}  // namespace tq
