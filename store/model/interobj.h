// InterObjRep: the objects of the language.
//
// The model is prototype-based. A signature (sigrep.h) is made by an object,
// its prototype, the oldest object of the signature; later objects of the
// signature are clones of the prototype. Adding a field or an event to a
// clone first turns the clone into the prototype of a new child signature
// (discrimination), so every object can be specialised on the spot. Objects
// are named (static: reachable by a global name), unnamed (dynamic),
// embedded in another object through an embed field, or workers that hold
// the local variables and arguments of running procedures.
//
// Invariants:
//  1. Every live object has a signature and is in its signature's object
//     list; the prototype is the list's last entry.
//  2. A clone's signature is its prototype's; a clone defines no fields or
//     events of its own.
//  3. The data block is exactly iDataSize of the signature, laid out by the
//     section rule (sigrep.h), in step with every field change anywhere in
//     the signature chain.
//  4. An embedded object's host has an embed field whose value is that
//     object: removing the field destroys the object, destroying the object
//     removes the field.
//  5. A destroyed object keeps its memory and its handle id until
//     DeleteObjects(): a raw pointer that a running evaluation holds stays
//     valid, and references to it read null (isNullObject).
//
// Life:
//
//   New*/handles --init--> live --destroy()--> destroyed, awaiting deletion
//                                                 --DeleteObjects()--> freed
//   read from "Objects" --> live --module discarded--> freed
//
// A worker is freed as soon as it is destroyed. A detached object that is
// neither worker, hosted nor static destroys itself when its last counted
// reference goes, unless the store is locked. destroy() runs the object's
// "Destruct" handler once, before anything of the object goes; a handler
// that fails does not stop the destruction, its failure goes to
// StoreApplication::HandleException. When DeleteObjects frees an object its
// handle id is given back, and every slot that still names it (another
// object's field, an array element, a value) reads null from then on.
//
// "Objects" record (write / readFromStream):
//
//   item  width  meaning
//   1     4      record kind: 5 embedded, 6 named (static), 7 plain
//   2     1      flags (bits 0-2; the destruction bits are never stored)
//   3     5      signature, a signature reference
//   4     n      data: iDataSize bytes of the signature, each field's bytes
//                prepared for storage (references as descriptors)
//   5     16+c   compiled part, only for a signature with a class id (its
//                own or its guid source's): the class id (16 bytes, the
//                standard GUID layout), then c bytes that the compiled part
//                saves of itself (iintobj.h), running up to item 6; c is 0
//                when the class is not published in this process
//   6     5      access control, a reference
//   7     5      kind 6: the name, an identifier reference
//                kind 5: the host, an object reference
//                kind 7: nothing
//
// The reader finds item 6 from the record's end (5 bytes for kind 7, 10 for
// kinds 5 and 6), so it skips a compiled part it does not read, and a
// compiled part that reads past item 6 is refused. A record written before
// objects carried a compiled part has none (item 6 follows the data at
// once) and still reads; a compiled part shorter than a class id is no
// record the library writes.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "store/faultp.h"
#include "store/handkind.h"
#include "store/model/fwd.h"
#include "store/model/sigrep.h"
#include "store/persist/descobj.h"
#include "store/persist/idstr.h"

namespace tq {

enum tInterObjType : uint8_t {
    IOT_ORDINARY = 0,
    IOT_DYNAMIC = 1,   // registered with the store as a dynamic object
    IOT_EMBEDDED = 2,  // hosted
    IOT_FRAME = 3,     // worker and hosted: a stack frame's locals object
    IOT_WORKER = 4,    // worker: argument and local-variable prototypes
};

class SignatureProxy;

class InterObjRep : public CountedObject, public DescribedObject<InterObjRep> {
public:
    static constexpr const char* storageName = "Objects";
    static constexpr HandleTable::Kind kHandleKind = HK_OBJECT;
    static constexpr uint32_t storageVersion = 1;

    enum : uint8_t {
        kWorker = 0x01,
        kHosted = 0x02,
        kClone = 0x04,
        kDestroyed = 0x08,
        kDestroyStarted = 0x10,
        // In memory only: the data block was released ahead of an unload
        // and holds zeros.
        kDataReleased = 0x20,
        kStoredFlags = 0x07,
    };
    enum : uint32_t { kRecordEmbedded = 5, kRecordNamed = 6, kRecordPlain = 7 };

    // ---- creation ----------------------------------------------------------------
    //
    // Each makes the object in module m and runs init; the object holds no
    // count yet. A failure leaves nothing behind.

    // The prototype of a new root signature (of the ProgID's class when one
    // is given).
    static InterObjRep* New(tModuleIndex m, tInterObjType kind, const char* progId = nullptr);
    // A clone of copyOf (AccessDenied "InterObjRep::InterObjRep()" when
    // copyOf forbids copying).
    static InterObjRep* NewCopy(InterObjRep& copyOf, tModuleIndex m, tInterObjType kind);
    // A clone of the prototype of sig.
    static InterObjRep* NewOf(const Signature& sig, tModuleIndex m, tInterObjType kind);
    // A named object: a new prototype, or a named copy of copyOf.
    static NamedInterObjRep* NewNamed(const char* name, InterObjRep* copyOf, tModuleIndex m,
                                      tInterObjType kind, const char* progId = nullptr);
    // An embedded object of host: a copy of copyOf, or a clone of the
    // prototype of sig, or (neither) a new prototype.
    static EmbeddedInterObjRep* NewEmbedded(InterObjRep& host, InterObjRep* copyOf,
                                            SignatureRep* sig, tModuleIndex m);

    ~InterObjRep() override;
    InterObjRep(const InterObjRep&) = delete;
    InterObjRep& operator=(const InterObjRep&) = delete;

    // ---- what a fault pointer needs ------------------------------------------

    // A descriptor with the proxy bit names an object proxy of its module,
    // which looks the object up by name (null when it is not found).
    static InterObjRep* fault(tDescriptor d);
    // How module m names the object: its own descriptor when it is m's; a
    // new object proxy of m when the object is statically rooted; otherwise
    // the null descriptor.
    static tDescriptor internalDescriptor(const InterObjRep& o, tModuleIndex m);
    static bool isNullObject(const InterObjRep& o) { return o.isDestroyed(); }
    // Last release: see the life note above.
    void deref();

    static InterObjRep* readFromStream(OCLStream& in, uint32_t version, tModuleIndex m,
                                       uint32_t index);

    // What entry `index` of module m's "Objects" table holds, from the
    // object when it is in memory, else from the first bytes of its record
    // (kind and flags) without reading the object. For a named object and a
    // non-null `name`, *name is the descriptor of its name (from the last
    // bytes of the record; null when they are not a sound name reference).
    // For the checks a module makes of its static globals while it opens.
    enum class StoredKind { Named, Embedded, Dynamic, Worker, Spoilt };
    static StoredKind StoredKindOf(tModuleIndex m, uint32_t index, tDescriptor* name = nullptr);
    // The same for many entries at once (kinds[k] and (*names)[k] for
    // indexes[k]), for a check of a whole list as a module opens: records
    // that lie close together are looked at in one read, not two reads each.
    static void StoredKindsOf(tModuleIndex m, const std::vector<uint32_t>& indexes, std::vector<StoredKind>& kinds,
                              std::vector<tDescriptor>* names = nullptr);

    // ---- the virtual operations --------------------------------------------

    virtual void attach(tModuleIndex m);
    virtual bool isStaticObj() const { return false; }
    virtual bool isEmbeddedObj() const { return false; }
    virtual const char* name() const { return nullptr; }
    // TypeMismatch "InterObjRep::idname()" / "InterObjRep::Name()" unless
    // the object is named.
    virtual const IdString& idname() const;
    virtual void Name(const char* name);
    // The text that names the object; see alias.
    virtual std::string alias();
    virtual InterObjRep* host() const { return nullptr; }
    virtual InterObjRep* rootHost() { return nullptr; }
    // True when obj hosts this object, directly or further up.
    virtual bool containedBy(const InterObjRep* obj);
    virtual void write(OCLStream& out);
    virtual void destroy();

    // ---- flags and identity ----------------------------------------------------

    uint8_t objFlags() const { return flags_; }
    bool isWorkerObj() const { return (flags_ & kWorker) != 0; }
    bool isHosted() const { return (flags_ & kHosted) != 0; }
    bool isClone() const { return (flags_ & kClone) != 0; }
    bool isProto() const { return !isClone(); }
    bool isDestroyed() const { return (flags_ & kDestroyed) != 0; }
    bool isDestroyStarted() const { return (flags_ & kDestroyStarted) != 0; }
    // Neither worker, hosted nor static.
    bool isDynamicObj() const { return !isWorkerObj() && !isHosted() && !isStaticObj(); }
    // A frame's locals prototype (worker, hosted, not a clone) and a
    // frame's locals object (worker, hosted, clone).
    bool isLocalVarProto() const { return isWorkerObj() && isHosted() && !isClone(); }
    bool isLocalVarCopy() const { return isWorkerObj() && isHosted() && isClone(); }

    // True once its module's list of dynamic objects has taken this object
    // in this session and not let it go. An object read from a file starts
    // false whatever its module's record lists; the store asks the record.
    bool isOnDynamicList() const { return (listings_ & kOnDynamicList) != 0; }
    void setOnDynamicList(bool on) {
        listings_ = static_cast<uint8_t>(on ? listings_ | kOnDynamicList : listings_ & ~kOnDynamicList);
    }

    SignatureRep* signature() const { return signature_.get(); }
    const Signature& signatureRef() const { return signature_; }
    InterObjRep* protoObject() const;
    // "%s@%02x:%06x:%08x" of the root name, the module and description
    // index and the object's own number.
    std::string genericAlias();
    static bool isAlias(const char* text);
    // The prototype of the parent signature (a prototype with self 0) or of
    // the own signature; null when it is not statically rooted.
    InterObjRep* rootObj(int self);
    // The root object's alias, "Object" when there is no such signature,
    // empty (null) when the root is not statically rooted.
    std::string rootname(int self, bool* isNull = nullptr);
    bool isStaticallyRooted();
    int32_t depth();
    int32_t numChildren();
    bool hasChild(const InterObjRep* o);
    bool contains(const InterObjRep* o);
    void renameObject(const char* name);
    // The first of prefix1, prefix2, ... that no field of the chain and no
    // prototype of the progeny defines; valid until the next call.
    const char* uniqueName(const char* prefix);
    bool canBeTreatedAs(const InterObjRep* o);
    bool canBeTreatedAs(const SignatureRep* s);
    // This object depends on o when o is no clone and o's signature is one
    // of dependencySignatures.
    bool dependsOn(InterObjRep* o);
    // Appends the signatures whose prototypes this object depends on (with
    // repeats): the ancestry of its rootObj(0) and, for a hosted root, of
    // the root's outermost host, and those of every object embedded in it.
    void dependencySignatures(std::vector<SignatureRep*>& out);
    bool subsumes(InterObjRep* o);

    // ---- instance data ------------------------------------------------------------

    uint32_t dataSize() const { return dataSize_; }
    const uint8_t* data() const { return data_.get(); }
    // The built-in class's part of the object (iintobj.h); null for an
    // object whose signature has no class id.
    IInterObj* compiledPart() const { return comp_; }
    // The compiled part as the class's member functions are called on it
    // (index 0: the part itself); Is_Null "InterObjRep::cDataPtr()" on an
    // object that is destroyed, not loaded or has none.
    IInterObj* RWCDataPtr(int32_t index);
    const IInterObj* ROCDataPtr(int32_t index);
    // The interpreted data at offset for size bytes; Is_Null
    // "InterObjRep::iDataPtr()" on an object that is destroyed or not
    // loaded.
    uint8_t* RWIDataPtr(int32_t offset, int32_t size);
    const uint8_t* ROIDataPtr(int32_t offset, int32_t size);

    // ---- fields and events ----------------------------------------------------------

    void addField(Field* f, Value* init = nullptr, int prepend = 0);
    void removeField(const char* name);
    void removeField(const InterObjRep* embedded);
    void forciblyRemoveField(const char* name);
    void renameField(const InterObjRep* embedded, const char* name);
    void redimArrayField(SignatureRep& owner, InterArrayField* f, int preserve);
    // A frame's locals copy moved to a signature of its own, made on its
    // first resize.
    SignatureRep* privateLocalsSignature();
    // For values made before that move: field and owner (of the locals'
    // old signature) become the field of the same name and its owner in
    // the signature of their own. False, and nothing changed, when the
    // object is no frame's locals or has not moved since owner.
    bool followPrivateLocals(FieldPtr& field, Signature& owner);
    bool definesField(Field* f, const char* name);
    Field* findField(const char* name);
    Field* findField(const InterObjRep* embedded);
    Field* findField(const InterObjRep* embedded, SignatureRep*& owner);
    MemberPtr getMember(const char* name);
    void addEventDef(EventDef* e);
    void removeEventDef(const char* name);
    void forciblyRemoveEventDef(const char* name);
    EventDef* findEventDef(const char* name);

    // The per-object steps of the signature's field changes.
    void dataFieldConstruct(DataField& f, SignatureRep& owner);
    void dataFieldDestruct(DataField& f, SignatureRep& owner);
    // Takes the new block the signature prepared for a resize of oldField
    // (at is where the array starts): the bytes before and after the array
    // are moved over, newField's array is produced from oldField's
    // (InterArrayField::rebuildElements), and the block becomes the
    // object's data. Cannot fail.
    void arrayFieldRedim(InterArrayField& oldField, InterArrayField& newField, uint32_t at,
                         std::unique_ptr<uint8_t[]>& block, int preserve, std::vector<uint8_t>& dropped);
    // Takes a new block prepared by the signature (growing it), or drops n
    // bytes at `at` in place (shrinking it).
    void swapData(std::unique_ptr<uint8_t[]>& block, uint32_t size);
    void removeBytes(uint32_t at, uint32_t n);

    // ---- evaluation ------------------------------------------------------------------

    // Evaluates member `name` (looked up from `from`, default the object's
    // signature) with args; null when the object is destroyed or no member
    // handles it. *handled says whether a member was found.
    ValuePtr eval(const char* name, IdType type, const ValueList* args, SignatureRep* from,
                  int32_t flags, int* handled, MemberPtr* cache);
    ValuePtr eval(const char* name);
    // The object applied to arguments.
    ValuePtr eval(const ValueList* args, int* handled);
    ValuePtr evalIMember(const char* name, ValueList* args, int* handled);

    // Raising events (the five standard names among them). Nothing happens
    // once destruction has started or while the store is locked. With
    // mustExist the signature chain must define the event (StoreException
    // 32719). The object evaluates the member `name` with args, then, while
    // it is still alive and the store unlocked, its host evaluates the
    // handler named by constructEventName; the host's value, when it
    // handled the event, is the result. An embedded object whose host no
    // longer holds it in an embed field has no handler in the host. Handlers
    // run through the one member-evaluation path (eval, Field::getMember,
    // Member::memberEval).
    void evalIEvent(const char* name, ValueList* args, int mustExist);
    void evalIEvent_Return(const char* name, ValueList* args, ValuePtr& result, int mustExist);
    void evalIEvent_NoThrow(const char* name, ValueList* args, int mustExist);
    void evalICopy(InterObjRep* src);
    // "Destruct": destroy() raises it once, after the destruction has
    // started (when every other event is refused), while the object is
    // still whole. Nothing happens for an object already destroyed or while
    // the store is locked.
    void evalIDelete();
    // The handler name of an event: the event itself, or for an embedded
    // object "<embed field>_<event>".
    std::string constructEventName(const char* name);
    // The field that handles event `name`: the host's method or property
    // procedure named by constructEventName (handlerObject the host), else
    // the object's own of that name (handlerObject the object); null when
    // neither has one.
    Field* findEventHandler(const char* name, InterObjRep*& handlerObject);

    void deepDataMemberSet(const char* name, Value* v);

    // The argument prototype of a procedure: binding and checking actual
    // arguments against its own fields. Each argument is first converted to
    // its parameter's type; the converted values replace the arguments in
    // the list, which keeps them for the call (a by-reference parameter
    // bound to a converted temporary refers to the list's entry).
    InterObjRep* bind(ValueList* args);
    void checkBindings(ValueList* args);
    // The same into w, a worker that bind made from this prototype before
    // and releaseWorkerData emptied (the spare argument objects of a
    // method): false, with nothing done, when w no longer fits this
    // prototype's layout. A failure leaves w empty again.
    bool bindInto(ValueList* args, InterObjRep& w);
    // A new worker bound by position from args (first argument first, may
    // be null) as far as each argument fits its parameter: a parameter
    // with no argument, or with one that does not convert to its type or
    // bind to it, keeps its initial value, and arguments beyond the last
    // parameter are left out. For receivers that must not fail because of
    // what they are handed (a Catch clause's parameters). The list then
    // holds the values bound, to live as long as the worker.
    InterObjRep* bindAsFar(ValueList* args);
    // Lets go of what the fields of a worker hold and zeroes its data, so
    // that it holds nothing while it waits to be bound again.
    void releaseWorkerData();

    // The event names every object answers, and their argument texts.
    std::string getExtEventList();
    const char* getExtEventProto(const char* name, unsigned char& isFunction, int& found);
    int32_t getLocalEventCount();

    // Applies fn to the objects that share a change of this object (see
    // the object model note on propagation).
    void PropagateChangeFunction(const std::function<void(InterObjRep*)>& fn, int withProgeny);

    // ---- hierarchy edits ----------------------------------------------------------------

    void discriminateClone();
    void undiscriminateProto();
    void subsumeParent();
    InterObjRep* Abstract(const char* name);
    void reparent(SignatureRep* sig);

    // ---- access (isPermitted is the one place that decides; accctl.h) ---------------

    bool isPropertyAddAllowed() { return isPermitted(kPermitAddMember); }
    bool isPropertyDeleteAllowed() { return isPermitted(kPermitDeleteMember); }
    bool isReadAllowed() { return isPermitted(kPermitRead); }
    bool isWriteAllowed() { return isPermitted(kPermitWrite); }
    bool isCopyAllowed() { return isPermitted(kPermitCopy); }
    bool isAllAccessAllowed() { return isPermitted(kPermitAll); }
    bool canSetPermission() { return isPermitted(kPermitSetPermission); }
    bool canAddMember() { return isPropertyAddAllowed(); }
    bool canDeleteMember(const char*) { return isPropertyDeleteAllowed(); }
    // The object's access-control object: null for none (everything is
    // allowed); an ACL object without one answers for itself.
    void setAclObject(InterObjRep* acl);
    InterObjRep* getAclObject() const { return acl_.get(); }

    // ---- life and persistence --------------------------------------------------------

    void Destroy();
    void BeginDestroy();
    // Frees every destroyed object awaiting deletion.
    static void DeleteObjects();
    static size_t AwaitingDeletion();
    // Objects in memory (made or read, not yet freed), for leak checks.
    static size_t LiveCount() { return liveObjects; }
    // Moves whenever an object is destroyed or freed, after which references
    // to it read null: a holder of references that must drop dead ones
    // looks again only when it moved.
    static uint64_t DestroyedCount() { return destroyedObjects; }
    // The host forgets an embedded object that is being destroyed: its
    // slot no longer names it.
    void unembedded(InterObjRep* embedded);

    // Cached members of the interpreter's lookup cache may have gone stale
    // (an object destroyed, renamed, an array resized): the interpreter
    // installs what empties its cache.
    using CacheDumper = void (*)();
    static void SetCacheDumper(CacheDumper dumper) { cacheDumper = dumper; }
    static void DumpCache() {
        if (cacheDumper) cacheDumper();
    }
    void AttachToModule(tModuleIndex m);
    void softenSignature();
    void hardenToSignature(SignatureRep* sig);

    // The replacement object of a signature proxy that did not resolve gets
    // a copy of every field the proxy expects, without initial values, laid
    // out where the objects that were saved with the proxy keep their bytes.
    void duplicateProxyFields(SignatureProxy& p);
    // The object's module goes while others stay: the object lets go of
    // what its data holds while its whole signature chain is still in
    // memory, and leaves the object list of a signature of another module.
    // It is freed with its module's table afterwards.
    void releaseForUnload();
    // Module m goes: the loaded signatures and objects of the other modules,
    // and the detached module's static and dynamic objects, turn their
    // references to things of m into proxies of their own module (or null,
    // when the thing cannot be named from there).
    static void SoftenReferencesInto(tModuleIndex m);

    // The text form of the object's property values.
    void textUnload(const char* indent, std::string& out, int diffOnly, int assignStyle,
                    InterObjRep* propertyParent);
    void textFieldsUnload(const char** names, const char* indent, std::string& out);
    void textFieldUnload(const char* name, const char* indent, std::string& out);
    void printOn(std::ostream& os, int indent = 0);

    void changed() { DescribedObject<InterObjRep>::changed(); }

protected:
    InterObjRep(tModuleIndex m, tInterObjType kind);
    struct tFromRecord {};
    InterObjRep(tFromRecord, tDescriptor d);

    // The common tail of creation.
    void init(SignatureRep* sig, InterObjRep* proto, const char* progId, tModuleIndex m,
              tInterObjType kind);
    // Undoes what init did when it fails part way.
    void abandon();
    // CollisionOnChild (naming `where`) when a child signature has a field
    // `name` that a new field of this prototype would clash with.
    void checkNoChildDefines(const char* name, bool isMethod, const char* where) const;
    // True when the signature came through a signature proxy.
    bool readBody(OCLStream& in, tModuleIndex m, uint32_t index, uint32_t kind);
    void writeBody(OCLStream& out, uint32_t kind);
    // Releases what the data block holds, without the destruction
    // protocol (the object leaves memory with its module).
    void releaseData();
    // Gives the compiled part up, clearing its back reference first.
    void releaseCompiledPart();
    template <class F>
    void convertArguments(ValueList* args, F&& f);
    // Binds each converted argument into the parameter fields of w. args
    // may be null (a call without an argument list) only when there are no
    // parameters: convertArguments has refused it otherwise.
    void bindFields(InterObjRep& w, ValueList* args);
    template <class T>
    static T* Make(SignatureRep* sig, InterObjRep* proto, const char* progId, tModuleIndex m,
                   tInterObjType kind, bool clone);

    enum tPermission : uint8_t {
        kPermitRead,
        kPermitWrite,
        kPermitCopy,
        kPermitAddMember,
        kPermitDeleteMember,
        kPermitSetPermission,
        kPermitAll,
    };
    // Inline: reading and calling ask on every member use, and most objects
    // carry no access control and are no ACL.
    bool isPermitted(tPermission p) {
        if (!comp_ && !acl_.get()) [[likely]]
            return true;
        return testAccess(p);
    }
    bool testAccess(tPermission p);

    uint8_t flags_ = 0;
    // Which of the store's lists this object has joined or left in this
    // session; kept in memory only, never written. It spares the search an
    // object not on a list would cost (a search that finds nothing reads
    // every entry, and a prototype may have many thousands of clones):
    //   kOnDynamicList     its module's list of dynamic objects holds it
    //   kOffSignatureList  it has left its signature's object list (Destroy
    //                      takes it off before destroy runs); clear for an
    //                      object read from a file, whose signature's record
    //                      lists it, and for one that joins a list again
    // Each object is on at most one signature's object list, so leaving one
    // means leaving all.
    enum : uint8_t { kOnDynamicList = 0x01, kOffSignatureList = 0x02 };
    mutable uint8_t listings_ = 0;
    std::unique_ptr<uint8_t[]> data_;
    uint32_t dataSize_ = 0;
    // One counted reference to the compiled part (invariant 1 of iintobj.h).
    IInterObj* comp_ = nullptr;
    // The access-control object's store object (uncounted), written with
    // the object.
    Faultp<InterObjRep> acl_{UncountedIndirectReference, nullptr};
    Signature signature_;

    static inline std::vector<InterObjRep*> awaitingDeletion{};
    static inline CacheDumper cacheDumper = nullptr;
    static inline size_t liveObjects = 0;
    static inline uint64_t destroyedObjects = 0;
    friend class SignatureRep;
    friend class EmbedObjField;
};

class NamedInterObjRep final : public InterObjRep {
public:
    bool isStaticObj() const override { return true; }
    const char* name() const override { return static_cast<const char*>(name_); }
    const IdString& idname() const override { return name_; }
    // Interns the name in the object's module, re-registers the static
    // global; callers validate the name first (ObjectStore::Rename).
    void Name(const char* name) override;
    std::string alias() override;
    void attach(tModuleIndex m) override;
    void write(OCLStream& out) override;

private:
    friend class InterObjRep;
    NamedInterObjRep(tModuleIndex m, tInterObjType kind) : InterObjRep(m, kind) {}
    NamedInterObjRep(tFromRecord t, tDescriptor d) : InterObjRep(t, d) {}

    IdString name_;
};

class EmbeddedInterObjRep final : public InterObjRep {
public:
    bool isEmbeddedObj() const override { return true; }
    std::string alias() override;
    InterObjRep* host() const override { return host_.get(); }
    InterObjRep* rootHost() override;
    void attach(tModuleIndex m) override;
    void write(OCLStream& out) override;

    // The link to the host is cleared (the host gave the object up).
    void unhosted();

private:
    friend class InterObjRep;
    EmbeddedInterObjRep(tModuleIndex m, tInterObjType kind) : InterObjRep(m, kind) {}
    EmbeddedInterObjRep(tFromRecord t, tDescriptor d) : InterObjRep(t, d) {}

    Faultp<InterObjRep> host_{PrimaryReference, nullptr};
};

// ---- handles ----------------------------------------------------------------------

// A counted reference to an object.
class InterObj : public Faultp<InterObjRep> {
public:
    InterObj() = default;
    InterObj(InterObjRep* o) : Faultp<InterObjRep>(o) {}
    InterObj(InterObjRep& o) : Faultp<InterObjRep>(o) {}
    explicit InterObj(tDescriptor d) : Faultp<InterObjRep>(d) {}
    // A new object of sig in the current module: a clone of its prototype.
    explicit InterObj(const Signature& sig);
    // The object an alias names: NotFound 32686 for a text that is no
    // alias or does not resolve, 32741 for a description that does not
    // exist.
    explicit InterObj(const char* alias);
    InterObj(const InterObj&) = default;
    using Faultp<InterObjRep>::operator=;
    InterObj& operator=(const InterObj&) = default;
};

// The owner's own, uncounted reference. Its constructors make objects in
// the current module.
class PrimInterObj : public Faultp<InterObjRep> {
public:
    PrimInterObj() : Faultp<InterObjRep>(PrimaryReference, nullptr) {}
    explicit PrimInterObj(tDescriptor d) : Faultp<InterObjRep>(d, 0) {}
    explicit PrimInterObj(InterObjRep* o) : Faultp<InterObjRep>(PrimaryReference, o) {}
    // A new named prototype.
    explicit PrimInterObj(const char* name);
    // A clone of copyOf; with a name, a named copy.
    explicit PrimInterObj(const InterObj& copyOf);
    PrimInterObj(const char* name, const InterObj& copyOf);
    // A new empty prototype in module m.
    explicit PrimInterObj(tModuleIndex m);
    PrimInterObj(const PrimInterObj& o) : Faultp<InterObjRep>(PrimaryReference, o) {}
    PrimInterObj& operator=(const PrimInterObj& o) {
        Faultp<InterObjRep>::operator=(o.get());
        return *this;
    }
};

// An uncounted reference that reads null once the object is gone.
class IndirectInterObj : public Faultp<InterObjRep> {
public:
    IndirectInterObj() : Faultp<InterObjRep>(UncountedIndirectReference, nullptr) {}
    explicit IndirectInterObj(InterObjRep* o) : Faultp<InterObjRep>(UncountedIndirectReference, o) {}
    // The prototype object of a built-in class: a new object named `name`
    // whose signature holds the ProgID's class id (a child of copyOf's
    // signature when copyOf is given).
    IndirectInterObj(const char* progId, const char* name, const InterObj& copyOf,
                     tInterObjType kind);
};

// A counted reference through the handle cell.
class CountedIndirectInterObj : public Faultp<InterObjRep> {
public:
    CountedIndirectInterObj() : Faultp<InterObjRep>(IndirectReference, nullptr) {}
    explicit CountedIndirectInterObj(InterObjRep* o) : Faultp<InterObjRep>(IndirectReference, o) {}
    // A new embedded object of host: a copy of copyOf, or of sig's
    // prototype.
    CountedIndirectInterObj(InterObjRep& host, const InterObj& copyOf);
    CountedIndirectInterObj(InterObjRep& host, const Signature& sig);
};

static_assert(sizeof(InterObj) == 5, "an object reference is one fault pointer");

}  // namespace tq
