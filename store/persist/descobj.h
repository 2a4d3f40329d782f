// The described base of every persistent representation, and the
// class-wide tables of each kind.
//
// DescribedObjectNoDescriptor<T> keeps, for kind T, one DescriptionTable per
// loaded module and the operations on descriptors of that kind: entering a
// thing in a module, marking it changed or deleted, following a descriptor to
// the thing (the fault). DescribedObject<T> is the base of T itself: the
// thing's descriptor and its handle cell.
//
// T provides:
//   static constexpr const char* storageName;      the stream of the kind
//   static constexpr uint32_t storageVersion;
//   static T* readFromStream(OCLStream&, uint32_t version, tModuleIndex m,
//                            uint32_t index);        a record into a new thing
//   void write(OCLStream&);                          the thing's record
//   a virtual destructor (through CountedObject)
//
// A thing of DETACHED_MODULE belongs to no table: it is always in memory,
// never written, and counts as faulted and changed.
//
// ProxiedObject<T, P> is the same for the kinds that other modules may refer
// to (objects, signatures, enumerations): a descriptor with bit 31 names an
// entry of the module's table of proxies P (proxy.h), and following it asks
// the proxy for the thing it stands for.
//
// A kind may also declare `using TableIndex = X;`: each of its tables then
// holds one X, a look-up of the kind's own (proxies by text). It lives and
// dies with the table, so it never survives its module, and a module that
// later takes the same index starts without one.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/storage/oclstorage.h"
#include "platform/util/handle.h"
#include "platform/util/uassert.h"
#include "store/dscrptr.h"
#include "store/errors/extexcep.h"
#include "store/persist/desctab.h"
#include "store/persist/objstore.h"
#include "store/persist/recordread.h"

namespace tq {

// The look-up a kind keeps with each of its tables; nothing for most kinds.
template <class T>
struct TableIndexOf {
    struct type {};
};
template <class T>
    requires requires { typename T::TableIndex; }
struct TableIndexOf<T> {
    using type = typename T::TableIndex;
};

template <class T>
class DescriptionTable final : public VoidDescriptionTable {
public:
    DescriptionTable(OCLStorage& storage, tModuleIndex m)
        : VoidDescriptionTable(storage, T::storageName, T::storageVersion, m) {}

    // The thing of entry e, reading its record when it is not in memory.
    // Readers may fault other things of the same kind in the middle of their
    // own record: a nested fault puts the stream back where the outer reader
    // left it, also when it fails. A record that leads back to itself while
    // it is read (a loop in a corrupt file) raises ObjectLoadFailed instead of
    // recursing without end. A record that failed to read fails again at
    // once, without being read again.
    T* fault(Description& e, uint32_t index) {
        if (!e.exists()) return nullptr;
        if (e.memory() != 0) return HandleTable::Global().getAs<T>(e.memory());
        checkRecordBounds(e, index);
        if (e.isReading()) {
            const std::string text = std::string(T::storageName) + " entry " +
                                     std::to_string(index) + ": record refers to itself while it is read";
            throw ObjectLoadFailed(text.c_str());
        }
        if (e.isUnreadable()) {
            const std::string text =
                std::string(T::storageName) + " entry " + std::to_string(index) + ": the record cannot be read";
            throw ObjectLoadFailed(text.c_str());
        }
        OCLStream& s = stream();
        const bool nested = faultDepth++ > 0;
        const uint32_t resumeAt = nested ? s.tell() : 0;
        e.setReading(true);
        struct Restore {
            Description& e;
            OCLStream& s;
            bool nested;
            uint32_t at;
            bool read = false;
            ~Restore() {
                e.setReading(false);
                if (!read) e.markUnreadable();
                --faultDepth;
                if (nested) s.seek(at);
            }
        } restore{e, s, nested, resumeAt};
        s.seek(e.offset());
        T* thing = ReadRecord(s, version(), moduleIndex(), index);
        restore.read = true;
        e.setMemory(thing->selfId());
        noteHeld(index);
        return thing;
    }

    // Destroys every loaded thing that exists, loading nothing and passing
    // over the chunks of entries that never held a thing.
    void reclaimMemory() {
        for (uint32_t i = nextHeld(0); i < count(); i = nextHeld(i + 1)) {
            Description& e = entry(i);
            if (!e.hasFaulted()) continue;
            T* thing = HandleTable::Global().getAs<T>(e.memory());
            e.setMemory(0);
            delete thing;
        }
    }

    // The kind's own look-up over this table (see TableIndexOf).
    typename TableIndexOf<T>::type& tableIndex() { return tableIndex_; }

    static inline int faultDepth = 0;

protected:
    // Kinds with a conditional writer (bool writeIfNeeded(OCLStream&)) are
    // freed here when they say they are no longer needed.
    bool writeRecord(Description& e, uint32_t) override {
        T* thing = HandleTable::Global().getAs<T>(e.memory());
        if constexpr (requires(T& t, OCLStream& s) { { t.writeIfNeeded(s) } -> std::same_as<bool>; }) {
            if (thing->writeIfNeeded(stream())) return true;
            delete thing;
            return false;
        } else {
            thing->write(stream());
            return true;
        }
    }

private:
    // Bytes from the file that do not make a record of the kind raise
    // ObjectLoadFailed; storage read errors are reported the same way.
    static T* ReadRecord(OCLStream& s, uint32_t version, tModuleIndex m, uint32_t index) {
        try {
            const RecordRead reading;
            return T::readFromStream(s, version, m, index);
        } catch (const StorageError& e) {
            const std::string text =
                std::string(T::storageName) + " entry " + std::to_string(index) + ": " + e.what();
            throw ObjectLoadFailed(text.c_str());
        }
    }

    [[no_unique_address]] typename TableIndexOf<T>::type tableIndex_;
};

template <class T>
class DescribedObjectNoDescriptor {
public:
    static DescriptionTable<T>* descriptionTable(tModuleIndex m) {
        return m < MAX_MODULES ? descTable[m].get() : nullptr;
    }

    static void newModule(tModuleIndex m, OCLStorage& storage) {
        TQ_ASSERT(m < MAX_MODULES && !descTable[m], "descTable[m] == NULL");
        descTable[m] = std::make_unique<DescriptionTable<T>>(storage, m);
    }

    // Discards module m's table. Its loaded things are destroyed first: one
    // by one with their bookkeeping, or, when every module is going at once
    // (SkipReclaim), without it.
    static void delModule(tModuleIndex m) {
        if (m >= MAX_MODULES || !descTable[m]) return;
        descTable[m]->reclaimMemory();
        descTable[m].reset();
    }

    static void writeModule(tModuleIndex m) {
        if (auto* t = descriptionTable(m)) t->write();
    }

    static bool isDirty(tModuleIndex m) {
        auto* t = descriptionTable(m);
        return t && t->isDirty();
    }

    // Enters the thing in table m; d's identity becomes (m, new index), its
    // bits 30 and 31 are kept.
    static void add(tModuleIndex m, const T& thing, tDescriptor& d) {
        auto* t = descriptionTable(m);
        TQ_ASSERT(t != nullptr, "descTable[m]");
        d.setIdentity(m, t->add(thing.selfId()));
    }

    static bool changed(tDescriptor d) {
        const tModuleIndex m = d.moduleIndex();
        if (m == DETACHED_MODULE) return true;
        if (ObjectStore::DeletingModule(m)) return true;
        if (auto* t = descriptionTable(m); t && d.descIndex() < t->count()) t->changed(d.descIndex());
        return true;
    }

    // owner: the handle id of the reporting thing, or 0 (see
    // VoidDescriptionTable::deleted).
    static void deleted(tDescriptor d, HandleTable::Id owner = 0) {
        const tModuleIndex m = d.moduleIndex();
        if (d.isNull() || m == DETACHED_MODULE) return;
        auto* t = descriptionTable(m);
        if (!t || d.descIndex() >= t->count()) return;
        if (ObjectStore::DeletingModule(m) || VoidDescriptionTable::SkipReclaim())
            t->reclaimed(d.descIndex(), owner);
        else
            t->deleted(d.descIndex(), owner);
    }

    static bool hasFaulted(tDescriptor d) {
        if (d.moduleIndex() == DETACHED_MODULE) return true;
        auto* t = descriptionTable(d.moduleIndex());
        return t && t->hasFaulted(d.descIndex());
    }

    // The thing of d, reading it when needed; null for the null descriptor
    // and for a thing that does not exist.
    static T* fault(tDescriptor d) {
        if (d.isNull()) return nullptr;
        auto* t = descriptionTable(d.moduleIndex());
        if (!t || d.descIndex() >= t->count()) return nullptr;
        return t->fault(t->entry(d.descIndex()), d.descIndex());
    }

    static Description* objectDescription(tDescriptor d) {
        auto* t = descriptionTable(d.moduleIndex());
        if (!t || d.descIndex() >= t->count()) return nullptr;
        return &t->entry(d.descIndex());
    }

    static bool objectExists(tDescriptor d) {
        if (d.isNull()) return true;
        const tModuleIndex m = d.moduleIndex();
        if (m >= MAX_MODULES) return false;
        auto* t = descriptionTable(m);
        if (!t || d.descIndex() >= t->count()) return false;
        return t->entry(d.descIndex()).exists();
    }

    // How module m names the thing when it writes a reference to it. Kinds
    // with proxies replace this; the others are only ever written by their
    // own module.
    static tDescriptor internalDescriptor(const T& thing, tModuleIndex) {
        return thing.descriptor();
    }

    static bool isNullObject(const T&) { return false; }

    static inline std::array<std::unique_ptr<DescriptionTable<T>>, MAX_MODULES> descTable{};
};

// A reference read from a file that names a proxy the module does not have.
[[noreturn]] void ThrowMissingProxy(const char* table, tDescriptor d);

// P provides:
//   T* resolve();                                    the thing it stands for
//   static tDescriptor Describe(const T&, tModuleIndex m);
//                                                    a proxy of module m for it
template <class T, class P>
class ProxiedObject {
public:
    // The thing of d: read from its own table, or found through the proxy
    // that d names. The proxy bit comes from files as well as from the
    // library, so a descriptor that names no proxy is reported as corrupt
    // input rather than asserted.
    static T* fault(tDescriptor d) {
        if (d.isNull()) return nullptr;
        if (!d.isProxy()) return DescribedObjectNoDescriptor<T>::fault(d);
        P* proxy = DescribedObjectNoDescriptor<P>::fault(d);
        if (!proxy) ThrowMissingProxy(P::storageName, d);
        return proxy->resolve();
    }

    // How module m refers to the thing: its own descriptor when the thing is
    // m's, otherwise the descriptor of a proxy in m (bit 31 set) or null.
    static tDescriptor internalDescriptor(const T& thing, tModuleIndex m) {
        if (thing.moduleIndex() == m) return thing.descriptor();
        return P::Describe(thing, m);
    }

    // Whether d, a descriptor with the proxy bit, names a proxy of its
    // module; reads nothing.
    static bool proxyExists(tDescriptor d) {
        return !d.isNull() && DescribedObjectNoDescriptor<P>::objectExists(d);
    }
};

template <class T>
class DescribedObject : public DescribedObjectNoDescriptor<T> {
public:
    tDescriptor descriptor() const { return desc_; }
    tModuleIndex moduleIndex() const { return desc_.moduleIndex(); }
    bool isDetached() const { return desc_.moduleIndex() == DETACHED_MODULE; }

    // The thing's own handle id, the body of direct references to it.
    HandleTable::Id selfId() const {
        if (!selfId_) selfId_ = HandleTable::Global().add(const_cast<T*>(static_cast<const T*>(this)));
        return selfId_;
    }
    // The id if one was made, else 0: for comparing with an id taken
    // earlier, which a thing without one cannot be.
    HandleTable::Id selfIdIfMade() const { return selfId_; }

    // The handle cell through which indirect references reach the thing.
    HandleTable::Id handle() const {
        if (!cell_) cell_ = HandleTable::Global().add(const_cast<T*>(static_cast<const T*>(this)));
        return cell_;
    }

    // Moves the thing into module m, or detaches it (m == DETACHED_MODULE,
    // keeping its description index).
    void attach(tModuleIndex m) {
        if (desc_.moduleIndex() == m) return;
        if (!isDetached()) DescribedObjectNoDescriptor<T>::deleted(desc_, selfId_);
        if (m == DETACHED_MODULE)
            desc_.setModuleIndex(DETACHED_MODULE);
        else
            DescribedObjectNoDescriptor<T>::add(m, *static_cast<T*>(this), desc_);
    }

    bool changed() const { return DescribedObjectNoDescriptor<T>::changed(desc_); }

    // Indirect references read null from now on, while the thing itself
    // stays in memory (destroyed things awaiting their deletion).
    void clearHandleCell() {
        if (cell_) HandleTable::Global().set(cell_, nullptr);
    }

protected:
    DescribedObject() : desc_(tDescriptor::Make(DETACHED_MODULE, 0)) {}
    explicit DescribedObject(tDescriptor d) : desc_(d) {}
    DescribedObject(const DescribedObject&) : desc_(tDescriptor::Make(DETACHED_MODULE, 0)) {}
    DescribedObject& operator=(const DescribedObject&) { return *this; }

    // A thing that goes reports its description deleted (or reclaimed, when
    // its module is going), clears its handle cell so that indirect
    // references read null, and gives its own id back.
    ~DescribedObject() {
        DescribedObjectNoDescriptor<T>::deleted(desc_, selfId_);
        if (cell_) HandleTable::Global().set(cell_, nullptr);
        if (selfId_) HandleTable::Global().release(selfId_);
    }

    tDescriptor desc_;

private:
    mutable HandleTable::Id selfId_ = 0;
    mutable HandleTable::Id cell_ = 0;
};

}  // namespace tq
