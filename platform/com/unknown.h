// The COM-style interfaces: IUnknown and IClassFactory.
//
// Objects handed across the library's boundary are reference counted through
// AddRef/Release and asked for their interfaces with QueryInterface, as COM
// clients expect. An interface pointer is never deleted by its holder; the
// object deletes itself when its last reference goes.
#pragma once

#include <cstdint>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace tq {

class IUnknown {
public:
    // On success *ppv holds the interface with one reference added for the
    // caller; on failure *ppv is null.
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
public:
    // Makes one object of the factory's class and returns its interface riid.
    // outer is the controlling unknown of an aggregate.
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    // Non-zero keeps the server in use, zero gives one such hold back.
    virtual HRESULT LockServer(int lock) = 0;
};

inline constexpr IID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory{
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

}  // namespace tq
