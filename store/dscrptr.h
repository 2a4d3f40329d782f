// tDescriptor: the persistent identity of every stored thing.
//
//   bits  0-21  description index: slot in the module's table of the kind
//   bits 22-29  module index: 0-253 a loaded module, 254 DETACHED_MODULE,
//               255 only inside the null descriptor
//   bit  30     carried unchanged, never interpreted
//   bit  31     proxy flag: the index names an entry of the module's proxy
//               table of the kind, not the thing itself
//
// A descriptor is null when its low 30 bits are all ones, whatever bits 30
// and 31 hold; a fresh null is 0x3FFFFFFF.
#pragma once

#include <cstdint>

#include "platform/util/uassert.h"

namespace tq {

using tModuleIndex = uint8_t;

inline constexpr tModuleIndex MAX_MODULES = 254;
inline constexpr tModuleIndex DETACHED_MODULE = 254;
// Ends lists of module indexes; "all modules" for UnloadingModule.
inline constexpr tModuleIndex NO_MODULE = 255;

class tDescriptor {
public:
    static constexpr uint32_t kNull = 0x3FFFFFFF;
    static constexpr uint32_t kIndexMask = 0x003FFFFF;
    static constexpr uint32_t kModuleShift = 22;
    static constexpr uint32_t kModuleMask = 0x3FC00000;
    static constexpr uint32_t kIdentityMask = 0x3FFFFFFF;
    static constexpr uint32_t kProxyBit = 0x80000000;
    static constexpr uint32_t kMaxIndex = kIndexMask;

    constexpr tDescriptor() = default;
    constexpr explicit tDescriptor(uint32_t raw) : raw_(raw) {}
    static constexpr tDescriptor Make(tModuleIndex m, uint32_t index, bool proxy = false) {
        return tDescriptor((proxy ? kProxyBit : 0u) | (uint32_t(m) << kModuleShift) |
                           (index & kIndexMask));
    }

    constexpr uint32_t raw() const { return raw_; }
    constexpr bool isNull() const { return (raw_ & kIdentityMask) == kNull; }
    constexpr uint32_t descIndex() const { return raw_ & kIndexMask; }
    constexpr tModuleIndex moduleIndex() const {
        return static_cast<tModuleIndex>((raw_ & kModuleMask) >> kModuleShift);
    }
    constexpr bool isProxy() const { return (raw_ & kProxyBit) != 0; }
    constexpr bool isDetached() const { return !isNull() && moduleIndex() == DETACHED_MODULE; }

    void setModuleIndex(tModuleIndex m) {
        raw_ = (raw_ & ~kModuleMask) | (uint32_t(m) << kModuleShift);
        TQ_ASSERT(moduleIndex() == m, "moduleIndex() == m");
    }
    void setDescIndex(uint32_t d) {
        raw_ = (raw_ & ~kIndexMask) | (d & kIndexMask);
        TQ_ASSERT(descIndex() == d, "descIndex() == d");
    }
    // Rewrites bits 0-29 to (m, d), keeping bits 30 and 31.
    void setIdentity(tModuleIndex m, uint32_t d) {
        setModuleIndex(m);
        setDescIndex(d);
    }
    void setProxy(bool on) { raw_ = on ? (raw_ | kProxyBit) : (raw_ & ~kProxyBit); }
    void setNull() { raw_ = kNull; }

    friend constexpr bool operator==(tDescriptor a, tDescriptor b) { return a.raw_ == b.raw_; }

private:
    uint32_t raw_ = kNull;
};

static_assert(sizeof(tDescriptor) == 4);

}  // namespace tq
