// Faultp<T>: the fault pointer, the store's reference to a persistent thing.
//
// A reference holds either a descriptor that has not been followed yet or the
// thing itself, and turns the descriptor into the thing on first use by
// reading the thing's record from its module (the fault). It is one packed
// five-byte type everywhere, in object data and in C++ members alike, because
// object data lays references out at fixed five-byte offsets:
//
//   offset  width  meaning
//   0       1      flags: bit 0 indirect (the body is a handle cell)
//                         bit 1 counted (the reference holds one count)
//                         bit 2 descriptor (the body is a tDescriptor)
//   1       4      body: a tDescriptor, a handle cell id, or the thing's own
//                  handle id (never a machine pointer), little-endian
//
// The kinds of reference, chosen at construction:
//   tPrimaryReference            flags 0  direct, uncounted (the owner's own)
//   default / from T* or T&      flags 2  direct, counted
//   tUncountedIndirectReference  flags 1  through the handle cell, uncounted;
//                                         reads null once the thing is gone
//   tIndirectReference           flags 3  through the handle cell, counted
//
// Invariants:
//  1. A counted reference that still holds a descriptor holds no count; once
//     resolved it holds one. Resolving never changes a count: stored counts
//     already include the references held by stored things, so destroying a
//     resolved reference gives back the count its record held. Stored counts
//     come from files and may be too small: releasing a module's thing whose
//     count is already 0 leaves it at 0 (it is kept, as stored records may
//     still name it) and never reaches an assertion. Only a detached thing,
//     whose counts the library alone keeps, asserts on such a release. A
//     counted reference that resolves through a proxy (a thing of another
//     module, or a detached one) does take a count: no stored count includes
//     it.
//  2. A direct body names the thing by its own handle id, which it gives back
//     only when its memory is freed; an indirect body names the handle cell,
//     which is cleared (not given back) when the thing dies.
//  3. A descriptor with the proxy bit (a thing of another module, named by
//     text) that finds nothing when followed is kept: the reference reads
//     null until the other module is loaded, and is never lost by looking.
//
// What T provides (the persistent kinds do, through DescribedObject or by
// hand):
//   HandleTable::Id selfId() const;    its own id, made on first use
//   HandleTable::Id handle() const;    its handle cell, made on first use
//   tDescriptor descriptor() const;
//   void ref(); void deref();
//   static T* fault(tDescriptor);                      follow a descriptor
//   static bool objectExists(tDescriptor);             without loading
//   static tDescriptor internalDescriptor(const T&, tModuleIndex);
//   static bool isNullObject(const T&);                e.g. destroyed objects
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/storage/oclstream.h"
#include "platform/util/handle.h"
#include "platform/util/lebytes.h"
#include "platform/util/uassert.h"
#include "store/dscrptr.h"

namespace tq {

struct tPrimaryReference {};
struct tUncountedIndirectReference {};
struct tIndirectReference {};
inline constexpr tPrimaryReference PrimaryReference{};
inline constexpr tUncountedIndirectReference UncountedIndirectReference{};
inline constexpr tIndirectReference IndirectReference{};

// The module being written and the bad-input report of reference reads; both
// live with the module table.
tModuleIndex FaultpWritingModule();
[[noreturn]] void FaultpCorruptReference(const char* what);
// Following a reference that reads null: Is_Null "object is null". A host
// may hold an object past its module's unload, or follow a handle it never
// filled; that is its fault to hear, not an end of its process.
[[noreturn]] void FaultpNullReference();

template <class T>
class Faultp {
public:
    enum : uint8_t { kIndirect = 1, kCounted = 2, kDescriptor = 4, kAllFlags = 7 };

    Faultp() : flags_(kCounted) { setBody(0); }
    Faultp(T* p) : flags_(kCounted) { takeThing(p, true); }
    Faultp(T& r) : flags_(kCounted) { takeThing(&r, true); }
    Faultp(tPrimaryReference, T* p) : flags_(0) { takeThing(p, false); }
    Faultp(tUncountedIndirectReference, T* p) : flags_(kIndirect) { takeThing(p, false); }
    Faultp(tIndirectReference, T* p) : flags_(kIndirect | kCounted) { takeThing(p, true); }
    Faultp(tPrimaryReference, const Faultp& src) : flags_(0) { takeOver(src); }
    Faultp(tUncountedIndirectReference, const Faultp& src) : flags_(kIndirect) { takeOver(src); }
    Faultp(tIndirectReference, const Faultp& src) : flags_(kIndirect | kCounted) { takeOver(src); }
    // A reference that names d and has not been followed; counted unless the
    // flags say otherwise.
    explicit Faultp(tDescriptor d, uint8_t kind = kCounted)
        : flags_(static_cast<uint8_t>((kind & (kIndirect | kCounted)) | kDescriptor)) {
        setBody(d.raw());
    }

    // The plain copy resolves the source and holds its own count.
    Faultp(const Faultp& src) : flags_(kCounted) { takeThing(src.get(), true); }

    ~Faultp() { dropHeld(); }

    Faultp& operator=(const Faultp& src) {
        if (this != &src) assign(src.get());
        return *this;
    }
    Faultp& operator=(T* p) {
        assign(p);
        return *this;
    }

    // Resolves: follows a descriptor (reading the thing when needed) and
    // keeps the result in place. Null when the thing is gone. A proxy that
    // finds nothing stays a descriptor: the thing it names may be loaded
    // later, and the module writes the reference as it read it meanwhile.
    // The resolved case is a handle-table look-up, inline at every use;
    // the fault itself is out of line so that it does not stop that.
    [[gnu::always_inline]] T* get() const {
        if (flags_ & kDescriptor) [[unlikely]] {
            resolve();
            if (flags_ & kDescriptor) return nullptr;
        }
        return thingFromBody();
    }
    operator T*() const { return get(); }
    T* operator->() const {
        T* p = get();
        if (!p) FaultpNullReference();
        return p;
    }
    T& operator*() const { return *operator->(); }

    bool isNull() const {
        if (flags_ & kDescriptor) {
            const tDescriptor d(body());
            if (d.isNull()) return true;
            if (!d.isProxy()) return !T::objectExists(d);
            return get() == nullptr;
        }
        T* p = thingFromBody();
        return p == nullptr || T::isNullObject(*p);
    }
    bool is() const { return !isNull(); }

    bool isDescriptor() const { return (flags_ & kDescriptor) != 0; }
    bool isCounted() const { return (flags_ & kCounted) != 0; }
    bool isIndirect() const { return (flags_ & kIndirect) != 0; }
    uint8_t flags() const { return flags_; }

    tDescriptor descriptor() const {
        if (flags_ & kDescriptor) return tDescriptor(body());
        const T* p = thingFromBody();
        return p ? p->descriptor() : tDescriptor();
    }
    tModuleIndex moduleIndex() const { return descriptor().moduleIndex(); }
    bool isDetached() const { return descriptor().isDetached(); }

    void setModuleIndex(tModuleIndex m) {
        TQ_ASSERT(isDescriptor(), "isDescriptor()");
        tDescriptor d(body());
        d.setModuleIndex(m);
        setBody(d.raw());
    }

    // Turns the reference into a descriptor as module m sees the thing. A
    // counted reference gives up its count: a descriptor holds none.
    void soften(tModuleIndex m) {
        if ((flags_ & kDescriptor) && tDescriptor(body()).moduleIndex() == m) return;
        T* p = get();
        const tDescriptor d = p ? T::internalDescriptor(*p, m) : tDescriptor();
        if (p && (flags_ & kCounted)) p->deref();
        flags_ |= kDescriptor;
        setBody(d.raw());
    }

    // The thing lies in module gone, which goes while the reference stays:
    // the reference becomes a descriptor as module holder sees the thing.
    void softenFrom(tModuleIndex gone, tModuleIndex holder) {
        if (flags_ & kDescriptor) return;
        T* p = thingFromBody();
        if (p && !T::isNullObject(*p) && p->moduleIndex() == gone) soften(holder);
    }

    // Two detached references are equal when they reach the same thing;
    // others when their descriptors are equal.
    friend bool operator==(const Faultp& a, const Faultp& b) {
        if (a.isDetached() && b.isDetached()) return a.get() == b.get();
        return a.descriptor() == b.descriptor();
    }

    void ref() const {
        TQ_ASSERT(isCounted(), "isCounted()");
        if (T* p = get()) p->ref();
    }
    void deref() const {
        TQ_ASSERT(isCounted(), "isCounted()");
        if (T* p = get()) p->deref();
    }
    // Gives up the count where this reference is known to hold the last one.
    void release() {
        TQ_ASSERT(isCounted(), "isCounted()");
        T* p = get();
        nullify();
        if (p) {
            p->deref();
        }
    }
    void nullify() {
        flags_ &= static_cast<uint8_t>(~kDescriptor);
        setBody(0);
    }

    // The five-byte stream form, as module WritingModule() sees the thing.
    void write(OCLStream& out) const {
        uint8_t form[5];
        streamForm(form);
        out.writeReference(form[0], LoadLE32(form + 1));
    }

    // The same five bytes into a byte image (object data prepared for
    // writing), without touching the reference.
    void streamForm(uint8_t* out) const {
        const tModuleIndex w = FaultpWritingModule();
        tDescriptor outd;
        if (flags_ & kDescriptor) {
            outd = tDescriptor(body());
            if (!outd.isNull() && outd.moduleIndex() != w) {
                T* p = get();
                outd = p ? T::internalDescriptor(*p, w) : tDescriptor();
            }
        } else if (const T* p = thingFromBody()) {
            outd = T::internalDescriptor(*p, w);
        }
        TQ_ASSERT(outd.isNull() || outd.moduleIndex() == w,
                  "!isExternal(outd, ObjectStore::WritingModule())");
        TQ_ASSERT(!outd.isDetached(), "!isDetached()");
        TQ_ASSERT(outd.isNull() || outd.moduleIndex() < MAX_MODULES,
                  "isNull() || moduleIndex()<MAX_MODULES");
        out[0] = static_cast<uint8_t>(flags_ | kDescriptor);
        StoreLE32(out + 1, outd.raw());
    }

    // Reads the stream form into this null reference. A stored descriptor
    // always means module m, whatever module index it was written with. The
    // bytes come from a file: anything but a well-formed reference is
    // reported as corrupt, never asserted.
    void read(OCLStream& in, tModuleIndex m) {
        TQ_ASSERT(body() == 0 || ((flags_ & kDescriptor) && tDescriptor(body()).isNull()),
                  "isNull()");
        uint8_t flags = 0;
        uint32_t raw = 0;
        in.readReference(flags, raw);
        if ((flags & ~kAllFlags) != 0 || !(flags & kDescriptor))
            FaultpCorruptReference("reference flags");
        tDescriptor d(raw);
        if (!d.isNull()) {
            if (d.moduleIndex() >= MAX_MODULES) FaultpCorruptReference("reference module index");
            d.setModuleIndex(m);
        }
        flags_ = flags;
        setBody(d.raw());
    }

    // Raw access for the table code and tests.
    uint32_t body() const { return LoadLE32(body_); }

private:
    void setBody(uint32_t v) { StoreLE32(body_, v); }

    [[gnu::always_inline]] T* thingFromBody() const {
        const uint32_t id = body();
        if (id == 0) return nullptr;
        return HandleTable::Global().getAs<T>(id);
    }

    void takeThing(T* p, bool counted) {
        if (!p) {
            setBody(0);
            return;
        }
        setBody((flags_ & kIndirect) ? p->handle() : p->selfId());
        if (counted) p->ref();
    }

    void takeOver(const Faultp& src) {
        if (src.isDescriptor()) {
            flags_ |= kDescriptor;
            setBody(src.body());
        } else {
            takeThing(src.thingFromBody(), (flags_ & kCounted) != 0);
        }
    }

    [[gnu::noinline]] void resolve() const {
        Faultp* self = const_cast<Faultp*>(this);
        const tDescriptor d(body());
        T* p = d.isNull() ? nullptr : T::fault(d);
        if (!p && d.isProxy()) return;
        // The stored counts of another module's thing know nothing of this
        // module's references to it: one that crosses through a proxy takes
        // its own count.
        if (p && d.isProxy() && (flags_ & kCounted)) p->ref();
        self->flags_ &= static_cast<uint8_t>(~kDescriptor);
        self->setBody(p ? ((flags_ & kIndirect) ? p->handle() : p->selfId()) : 0);
    }

    void dropHeld() {
        if ((flags_ & kCounted) && !(flags_ & kDescriptor)) {
            if (T* p = thingFromBody()) p->deref();
        }
    }

    // Takes the new count before releasing the old, so that assigning a
    // reference to the thing it already holds never frees it.
    void assign(T* p) {
        if (p && (flags_ & kCounted)) p->ref();
        dropHeld();
        flags_ &= static_cast<uint8_t>(~kDescriptor);
        setBody(p ? ((flags_ & kIndirect) ? p->handle() : p->selfId()) : 0);
    }

    uint8_t flags_;
    uint8_t body_[4];
};

}  // namespace tq
