// SignatureRep: the class of the prototype-based object model.
//
// A signature owns the fields and event definitions that its objects share,
// records how many bytes of instance data each of its objects carries, knows
// its parent (from which it inherits fields, events and data), its child
// signatures and the objects made with it. The first object made with a
// signature is its prototype and stays last in the object list; newer
// objects, the clones, go in front. Signatures are persistent descriptions
// of their module's "Signatures" table.
//
// Instance data layout. An object's data is one block of iDataSize bytes of
// its signature. From the root down to the object's own signature, each
// signature S lays its section behind its parent's: S's section starts at
// iDataSize(parent) (0 for a root) and is iDataSize(S) - iDataSize(parent)
// bytes long. A data field of S has an offset relative to S's section, so
// its bytes lie at iDataSize(parent) + offset in every object whose
// signature is S or a descendant of S.
//
// Invariants:
//  1. iDataSize(S) = iDataSize(parent) + the sizes of S's own data fields.
//  2. A new data field gets the offset equal to the size of its section
//     before the addition: sections grow at their end.
//  3. Removing or resizing a field of S moves every field of S with a
//     greater offset by the change in size; descendants' sections follow by
//     themselves because they start at iDataSize(S).
//  4. Offsets of a signature's fields never depend on its descendants.
//  5. Every object's data block is exactly iDataSize of its signature, in
//     step with every change anywhere in the signature chain.
//  6. An operation that fails changes nothing: every check comes before the
//     first change, and the one step that can fail for want of memory
//     (growing every object's block) allocates all new blocks before it
//     swaps any in.
//
// Life:
//
//   Signature(NoParentSig, m) / makeChild --> live --Destroy / unmakeChild-->
//     detached from its module, deleted with its last reference
//   read from "Signatures" --> live --module discarded--> gone
//
// A signature of DETACHED_MODULE dies with its last counted reference
// (objects, child signatures and Signature handles hold counts). A module's
// signature stays until Destroy, unmakeChild or its module goes: counts of
// things read from a file are not exact, so reaching 0 means nothing there.
//
// "Signatures" record (write / readFromStream):
//
//   item  width  meaning
//   1     1      flags; the reader clears bits 0 and 2
//   2     5      parent, a signature reference; null for a root
//   3     ...    own fields, each its field record (field.h), then a 0 byte
//   4     5 * n  references to the objects of the list that lie in the
//                module being written, in list order, then a null reference
//   5     5 * n  the same for the child signatures
//   6     4      iDataSize, unsigned
//   7     ...    records of the writeable event definitions (eventdef.h),
//                then a 0 byte
//   8     16     the class id; only with flag bit 1
//
// Objects and child signatures of other modules are in the lists while they
// are in memory, but never in the record: their modules find the signature
// again through their signature proxies (sigproxy.h), which the signature
// keeps told of every change through its shadow.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/guid.h"
#include "store/cntedobj.h"
#include "store/eventdef.h"
#include "store/faultp.h"
#include "store/field.h"
#include "store/handkind.h"
#include "store/model/fwd.h"
#include "store/persist/descobj.h"
#include "store/reflist.h"

namespace tq {

using PrimInterObjList = RefList<InterObjRep, tPrimaryReference>;
using IndirectInterObjList = RefList<InterObjRep, tUncountedIndirectReference>;
using CountedIndirectInterObjList = RefList<InterObjRep, tIndirectReference>;
using PrimSignatureList = RefList<SignatureRep, tPrimaryReference>;
using IndirectSignatureList = RefList<SignatureRep, tUncountedIndirectReference>;

class SignatureShadow;
class SignatureProxy;

class SignatureRep : public CountedObject, public DescribedObject<SignatureRep> {
public:
    static constexpr const char* storageName = "Signatures";
    static constexpr HandleTable::Kind kHandleKind = HK_SIGNATURE;
    static constexpr uint32_t storageVersion = 1;

    enum : uint8_t {
        kCompFieldsDefined = 0x01,  // the compiled class defined its fields here
        kGuidHolder = 0x02,         // the signature has a class id of its own
        kGuidSourceCached = 0x04,   // guidSource_ holds the looked-up answer
        kHasPreload = 0x08,         // a method field named "Preload"
    };

    // Look-up flag: refuse a protected field of the signature itself.
    static constexpr int32_t kProtectionFlag = 0x10;

    // A new empty root signature in module m (DETACHED_MODULE: in none).
    explicit SignatureRep(tModuleIndex m);
    ~SignatureRep() override;
    SignatureRep(const SignatureRep&) = delete;
    SignatureRep& operator=(const SignatureRep&) = delete;

    // ---- persistence ---------------------------------------------------------

    static SignatureRep* readFromStream(OCLStream& in, uint32_t version, tModuleIndex m,
                                        uint32_t index);
    void write(OCLStream& out);

    // What a fault pointer needs. A descriptor with the proxy bit names a
    // signature proxy of its module, which gives the signature of another
    // module it stands for; a module refers to another module's signature
    // through its proxy there.
    static SignatureRep* fault(tDescriptor d);
    static tDescriptor internalDescriptor(const SignatureRep& s, tModuleIndex m);
    static bool isNullObject(const SignatureRep&) { return false; }
    void deref();

    // ---- look-up ---------------------------------------------------------------

    // Own fields, then the parent's, and so on up; owner receives the
    // signature where the field was found. With kProtectionFlag a
    // protected field of this signature's own list raises "Protection
    // violation". Allocates nothing.
    Field* findField(const char* name, SignatureRep*& owner, int32_t flags = 0);
    EventDef* findEventDef(const char* name, SignatureRep*& owner);
    // True when s is null, this signature or an ancestor.
    bool hasSignature(const SignatureRep* s);
    SignatureRep* parent();
    // The parent when it is in memory and the reference has been followed;
    // reads and resolves nothing (teardown walks chains with it).
    SignatureRep* loadedParent() const;
    // The prototype: the last entry of the object list.
    InterObjRep* protoObject();
    // The nearest ancestor with a class id of its own.
    SignatureRep* guidSrc();
    // The guid holder found from the parent; null when it has defined its
    // compiled fields.
    SignatureRep* getCompBase();
    bool hasPreloadHandler();
    // The position of o in the object list, or -1.
    int32_t objectIndex(const InterObjRep* o);

    uint32_t iDataSize() const { return iDataSize_; }
    // Where this signature's section starts: the parent's iDataSize.
    uint32_t parentDataSize();
    uint8_t flags() const { return flags_; }
    bool isGuidHolder() const { return (flags_ & kGuidHolder) != 0; }
    const GUID* classId() const { return classId_.get(); }
    const FieldPtrList& fields() const { return fields_; }
    const EventDefPtrList& events() const { return events_; }
    PrimInterObjList& objects() {
        readStoredLists();
        return objects_;
    }
    PrimSignatureList& children() {
        readStoredLists();
        return children_;
    }
    // Number of ancestors.
    int32_t depth();

    // Applies f to every object of this signature and of all descendants:
    // own objects first (list order), then each child's subtree in list
    // order. Objects that are not loaded are read.
    template <class F>
    void forProgeny(F&& f) {
        walkProgeny([&](InterObjRep* o) {
            f(o);
            return false;
        });
    }
    // The first object of the progeny for which pred is true, or null.
    template <class F>
    InterObjRep* firstProgenyThat(F&& pred) {
        return walkProgeny([&](InterObjRep* o) { return static_cast<bool>(pred(o)); });
    }

    // ---- fields ----------------------------------------------------------------

    // Gives f this signature's module and lets it add itself through the
    // overload of its kind.
    void addField(Field* f, Value* init, int prepend);
    void addField(InterDataField& f, int prepend, Value* init);
    void addField(EmbedObjField& f, int prepend, Value* init);
    void addField(InterProcDataField& f, int prepend);
    void addField(MethodField& f, int prepend);

    // Removes an own field by name (NotFound 32737; CollisionOnParent when
    // an ancestor defines it).
    void removeField(const char* name);
    void removeField(InterDataField* f);
    void removeField(InterProcDataField* f);
    void removeField(MethodField* f);

    // f must be in the own list under its current name; callers check
    // collisions first.
    void renameField(Field* f, const char* name);
    // Swaps the array field of newField's name for newField, resizing every
    // object of the progeny (see InterObjRep::arrayFieldRedim). The new
    // field must be of the same element type (TypeMismatch) and keep every
    // iDataSize of the subtree within 2 GB (StoreException 32742); a resize
    // that fails changes nothing.
    void redimArrayField(InterArrayField* newField, int preserve);
    // The checks of redimArrayField, made before anything changes; returns
    // the field newField replaces.
    InterArrayField* checkRedim(InterArrayField* newField);

    // The per-field operations on one object, own fields first (list
    // order), then the parent's. `block` is a block of obj's layout.
    void fieldConstructors(InterObjRep& obj);
    void fieldDestructors(InterObjRep& obj);
    void conditionForWrite(uint8_t* block, InterObjRep& obj);
    void conditionAfterRead(uint8_t* block, InterObjRep& obj);
    void conditionForAttach(InterObjRep& obj, tModuleIndex m);

    // Appends the interpreted data fields of this signature and then of
    // each ancestor to out, cloned when `clone` is set, each given module m.
    void copyInterDataFields(FieldPtrList& out, tModuleIndex m, int clone);

    // ---- events ------------------------------------------------------------------

    void addEventDef(EventDef* e);
    void removeEventDef(const char* name);

    // ---- objects and children -----------------------------------------------

    void addObject(InterObjRep* o, int notifyProxy);
    // The same at a given position of the list (undoing a removal).
    void addObjectAt(InterObjRep* o, size_t index);
    void removeObject(const InterObjRep* o);
    // A worker leaving memory leaves the list too. was is the module it
    // belonged to: one that never belonged to this signature's module (a
    // frame's locals, a bound argument object) is in no record, so its
    // leaving changes nothing to save.
    void removeWorker(const InterObjRep* o, tModuleIndex was);
    void removeObject(unsigned index);
    void addChildSignature(SignatureRep& s, int notifyProxy);
    void removeChildSignature(SignatureRep* s);
    void removeChildSignature(unsigned index);
    void attachChildObjectRef(InterObjRep& o);
    void attachChildSignatureRef(SignatureRep& s);
    // Moves the newest object (the front of the list) to the end, where the
    // prototype stands.
    void makeNewestPrototype();

    // ---- hierarchy -------------------------------------------------------------

    void setParent(SignatureRep* p);
    // A new child signature in module m, starting with this iDataSize and
    // this signature's class id (or its guid source).
    Signature makeChild(tModuleIndex m);
    // Leaves the parent and gives this signature up; returns the parent.
    SignatureRep* unmakeChild();
    void subsumeParent();
    void subsumeParent(SignatureRep* ancestor);
    InterObjRep* createNewPrototype(const char* name);
    void softenParent();
    void hardenToParent(SignatureRep* p);
    const Faultp<SignatureRep>& parentRef() const { return parent_; }

    // ---- other modules (sigproxy.h) -----------------------------------------

    // The shadow shared by the signature's proxies in other modules, made on
    // first use; null until then (proxyRecord).
    SignatureShadow& shadow();
    SignatureShadow* proxyRecord() const { return proxy_; }
    // The signature's proxy in module m, made when there is none.
    SignatureProxy* getProxy(tModuleIndex m);
    // True when the interpreted data fields of the prototype's chain agree
    // pairwise, in order, with the fields the proxy expects.
    bool match(const SignatureProxy& p);
    // Tells the shadow, when there is one, that what its proxies write has
    // changed: m is the module of the object or child concerned, 255 for a
    // change of the fields or the data size.
    void noteProxies(tModuleIndex m);
    // Reads what other modules recorded of this signature and have not
    // read yet, so that it joins the lists (the shadow's reattachChildren).
    void reattachChildren();
    // Whether an object or a child signature of the signature lies in m.
    bool hasExternalChildren(tModuleIndex m);
    // The objects and child signatures that lie in other modules.
    void shadowExternalObjects(IndirectInterObjList& out);
    void shadowExternalSigs(IndirectSignatureList& out);

    // An object or child signature of another module, just read, joins the
    // list without a change notice; and leaves it quietly when its module
    // goes. Neither touches this signature's record.
    void attachExternalObject(InterObjRep& o);
    void attachExternalChild(SignatureRep& s);
    void detachExternalObject(const InterObjRep& o);

    // Module-wide steps of unloading (every loaded signature of the module,
    // in index order). NoExternalChildren: the listed modules (ended by 255)
    // can go as a set only when every object and child signature of their
    // signatures lies among them (else ModuleUnloadFailed 32682 "Module is in
    // use and cannot be unloaded."). ConstructProxies: every other module
    // that holds something of a signature of m gets a proxy of it, the
    // shadows capture what the proxies need, and other modules' references
    // to m's objects and enumerations become proxies while m's objects can
    // still be named. SoftenExternalReferences: what stays in memory lets go
    // of m's signatures (see sigproxy.cpp).
    static void NoExternalChildren(const tModuleIndex* indexes);
    static void ConstructProxies(tModuleIndex m);
    static void SoftenExternalReferences(tModuleIndex m);

    // ---- class id ----------------------------------------------------------------

    // StoreException 32753 when the ProgID is not registered.
    void defineGuid(const char* progId);
    void setGuid(const SignatureRep* src, SignatureRep* guidSource);
    // The library that registered the class id; null without a class id.
    // OleException when the class id is not registered.
    const char* getDefiningDLL();

    // ---- the compiled part (iintobj.h) --------------------------------------
    //
    // On a signature that is not a guid holder these go to its guid source.

    // True when the class id is published in this process (a class
    // registered with a creator).
    bool isPublished();
    // Makes o's compiled part: an instance of the class, owned by o, whose
    // class has defined its members (ensureCompFields). Nothing when the
    // class is not published here.
    void compNew(InterObjRep* o);
    // Reads o's compiled part: the class id, which must be this class's
    // (ObjectLoadFailed otherwise), then the instance's own bytes.
    void compRead(OCLStream& in, InterObjRep* o);
    // Writes the class id and the instance's bytes.
    void compWrite(OCLStream& out, IInterObj* c);
    // Lets c's class declare its members, once, on the topmost signature of
    // the chain that holds the class id, with the detached module current
    // (the names of compiled members belong to no module file).
    void ensureCompFields(IInterObj* c);
    bool isCompFieldsDefined() const { return (flags_ & kCompFieldsDefined) != 0; }
    void setCompFieldsDefined() { flags_ |= kCompFieldsDefined; }
    // Lists a compiled member (a method or property of a built-in class):
    // it takes no bytes of any object and is never written.
    void addCompiledField(Field& f, int prepend);
    // Lists an event of a built-in class: one of the same name on this
    // signature is replaced; one an ancestor defines stays beside it.
    void defineCompiledEvent(EventDef* e);

    // ---- life ----------------------------------------------------------------------

    void attach(tModuleIndex m);
    // Destroys the child signatures, then every object, then this signature.
    void Destroy();
    // Reads every object of this signature and its descendants.
    void hardenObjectTree();
    // Destroy is running: the signature empties its own lists.
    bool isDestroying() const { return destroying_; }
    void printOn(std::ostream& os, int indent = 0);
    // Signatures in memory, for leak checks.
    static size_t LiveCount() { return liveSignatures; }

    // A change notice: the record must be written again.
    void changed() { DescribedObject<SignatureRep>::changed(); }

    // This signature and its descendants, each before its children, the
    // children in list order; and their objects in that order (reading
    // those not in memory).
    void collectSubtree(std::vector<SignatureRep*>& out);
    void collectProgeny(std::vector<InterObjRep*>& out);

    // Whether object entry objectIndex of this module may name this
    // signature: the record this signature was read from lists it (objects
    // check their signature's list when they are read). While the record's
    // lists are still in the file (StoredLists), the object is noted and
    // reading them checks it; the answer is yes.
    bool admitsObject(uint32_t objectIndex);
    // False while the record's lists are still in the file (StoredLists).
    bool listsInMemory() const { return !storedLists_; }

private:
    explicit SignatureRep(tDescriptor d);

    template <class F>
    InterObjRep* walkProgeny(F&& f) {
        std::vector<InterObjRep*> objs;
        collectProgeny(objs);
        for (InterObjRep* o : objs)
            if (f(o)) return o;
        return nullptr;
    }
    // Calls f(field, offset in the block) for every data field of the
    // chain that takes bytes.
    template <class F>
    void forDataFields(F&& f);

    void checkDataField(DataField& f);
    void addDataField(DataField& f, int prepend);
    void addMethodField(Field& m, int prepend);
    void insertField(Field& f, int prepend);
    void growObjects(InterDataField& f, int prepend, const std::vector<uint8_t>& bytes,
                     std::vector<InterObjRep*>& objs);
    void undoGrow(InterDataField& f, std::vector<InterObjRep*>& objs, size_t constructed);
    void shrinkObjects(InterDataField& f, std::vector<InterObjRep*>& objs);
    void moveFieldsAfter(int32_t offset, int32_t delta);
    void constructProxies();
    void softenExternalReferences();

    [[noreturn]] static void BadRecord(uint32_t index, const std::string& what);
    // Reads the record's two lists from `in`, positioned at their start,
    // and leaves it after them. The lists of a large record of a module read
    // on demand are only located (StoredLists). Returns whether the objects
    // list names one object twice (refused by the caller after the checks
    // of the layout).
    bool readLists(OCLStream& in, uint32_t index);
    void readStoredLists() {
        if (storedLists_) takeStoredLists();
    }
    // Takes the lists in from the file with every check of the record's
    // read; when a check fails (ObjectLoadFailed) they stay in the file.
    void takeStoredLists();
    bool listedInFile(uint32_t objectIndex) const;
    // Removes an object or child signature that is an entry of the lists
    // still in the file: noted, and left out when they are read. False when
    // the lists are in memory or the thing is not of this module.
    template <class T>
    bool removeStored(const T* thing);

    uint8_t flags_ = 0;
    std::unique_ptr<GUID> classId_;
    FieldPtrList fields_;
    uint32_t iDataSize_ = 0;
    PrimInterObjList objects_;
    PrimSignatureList children_;
    EventDefPtrList events_;
    Faultp<SignatureRep> parent_;
    Faultp<SignatureRep> guidSource_{PrimaryReference, nullptr};
    bool destroying_ = false;
    // The shadow, while the signature has proxies in other modules.
    SignatureShadow* proxy_ = nullptr;
    // The objects listed when this signature was read: bit i of word i / 64
    // is set when the record lists object entry i.
    std::vector<uint64_t> fileObjects_;
    // A signature of a module read on demand whose record lists thousands of
    // objects (a class with a row per object) keeps its lists in the file
    // until something needs them: reading one object, or finding the
    // prototype, needs neither the half megabyte of references nor their
    // checks. Invariants while it is set: objects_ and children_ hold only
    // what was added in front since the read (the file's entries follow
    // them), and no entry of the file's lists has been followed, so the
    // walks of an unload, which look only at followed entries, pass them
    // over rightly.
    struct StoredLists {
        // Where the lists lie, counted from the record's first byte (a
        // compaction moves the record whole): their first byte, and the
        // byte after the children list's closing null.
        uint32_t from = 0;
        uint32_t to = 0;
        // The objects list's last entry as stored (the prototype), or null
        // once it has been removed.
        tDescriptor last;
        // Objects read meanwhile, checked against the lists when they are
        // read; and entries removed meanwhile, left out then.
        std::vector<uint32_t> admitted;
        std::vector<uint32_t> removedObjects;
        std::vector<uint32_t> removedChildren;
    };
    std::unique_ptr<StoredLists> storedLists_;
    static inline size_t liveSignatures = 0;
    friend class SignatureShadow;
};

struct tNoParentSig {};
inline constexpr tNoParentSig NoParentSig{};

// Signature: a counted reference to a signature.
class Signature : public Faultp<SignatureRep> {
public:
    Signature() = default;
    Signature(SignatureRep* s) : Faultp<SignatureRep>(s) {}
    Signature(SignatureRep& s) : Faultp<SignatureRep>(s) {}
    explicit Signature(tDescriptor d) : Faultp<SignatureRep>(d) {}
    // A new empty signature in module m, held by this reference.
    Signature(tNoParentSig, tModuleIndex m);
    Signature(const Signature&) = default;
    using Faultp<SignatureRep>::operator=;
    Signature& operator=(const Signature&) = default;
};

// The owner's own, uncounted reference (made from a descriptor).
class PrimSignature : public Faultp<SignatureRep> {
public:
    explicit PrimSignature(tDescriptor d) : Faultp<SignatureRep>(d, 0) {}
    explicit PrimSignature(SignatureRep* s) : Faultp<SignatureRep>(PrimaryReference, s) {}
};

// Reads null once the signature is gone.
class UncountedIndirectSignature : public Faultp<SignatureRep> {
public:
    explicit UncountedIndirectSignature(SignatureRep* s)
        : Faultp<SignatureRep>(UncountedIndirectReference, s) {}
};

static_assert(sizeof(Signature) == 5, "a signature reference is one fault pointer");

}  // namespace tq
