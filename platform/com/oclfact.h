// OCLFactory: the class factory of one published class.
//
// Made by its DllServer with the class id's text; it creates objects through
// the creator that the class registered (ClassRegistry). A class that is not
// registered, or whose creator makes nothing, cannot be created: the factory
// answers E_NOINTERFACE.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/unknown.h"

namespace tq {

class DllServer;

class OCLFactory : public IClassFactory {
public:
    OCLFactory(DllServer& server, const char* clsidText);
    ~OCLFactory() override;
    OCLFactory(const OCLFactory&) = delete;
    OCLFactory& operator=(const OCLFactory&) = delete;

    const CLSID& classId() const { return classId_; }
    DllServer& server() const { return server_; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    // Counted on the server; the factory itself lives as long as the server.
    uint32_t AddRef() override;
    uint32_t Release() override;

    // Aggregation is refused (CLASS_E_NOAGGREGATION). On success the caller
    // holds the only reference to the new object; when the object does not
    // offer riid it is destroyed again and the QueryInterface result returned.
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT LockServer(int lock) override;

private:
    DllServer& server_;
    CLSID classId_;
};

}  // namespace tq
