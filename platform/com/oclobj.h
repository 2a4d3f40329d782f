// OCLObject: a reference-counted object of the COM-style layer.
//
// Objects that a factory makes derive from it: it starts with the one
// reference its creator hands over, deletes itself at the last Release, and
// while it lives counts as in use on the server it was made for, so that the
// library is not unloaded under a client's feet.
#pragma once

#include <cstdint>

#include "platform/com/unknown.h"

namespace tq {

class DllServer;

class OCLObject : public IUnknown {
public:
    // server may be null for an object that no server counts.
    explicit OCLObject(DllServer* server);
    OCLObject(const OCLObject&) = delete;
    OCLObject& operator=(const OCLObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    uint32_t AddRef() override;
    uint32_t Release() override;

protected:
    ~OCLObject() override;

    // The interface riid of this object without a reference added, or null.
    // The base offers IUnknown; subclasses add theirs and defer to it.
    virtual IUnknown* findInterface(REFIID riid);

private:
    uint32_t refs_ = 1;
    DllServer* server_;
};

}  // namespace tq
