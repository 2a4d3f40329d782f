// ObjectStore: one loaded module, and the class-wide module table.
//
// A module is one compound file (a binary module, ".qbo"), or a source text
// that the host compiles into such a storage held in a temporary file (a
// text module). Each loaded module has one ObjectStore in the module table,
// at the lowest slot that was free when it was loaded; the slot is the module
// index in every descriptor of the module's things. Module index
// DETACHED_MODULE (254) is the pseudo-module of things that belong to no file
// ("<Intrinsic module>").
//
// Class-wide state (one process, one thread, no locks):
//   module[]            the module table, 254 slots
//   openModuleIndex     the current module, into which new things go
//   writingModuleIndex  the module being saved (DETACHED_MODULE otherwise)
//   dyingModule         the module whose tables are being discarded
//   storeLockState      0 normal, 2 unloading, 3 unloading everything
//   untitled counter    the serial of the next untitled module, from 1
//
// Streams of a module file, each in the root storage:
//   "Module version"   the version record (below)
//   "Static globals"   static names, dynamic objects, preloads (statglob.cpp)
//   one stream per kind of thing, each a description table (desctab.h), in
//   the order of kTableKinds: "Objects", "Blocks", "Signatures", "Strings",
//   "Enumerations", "ObjectProxies", "EnumerationProxies",
//   "SignatureProxies"
//   "IdStrings"        the identifier table (idstr.h)
//
// "Module version" record, from offset 0:
//   offset  width   meaning
//   0       4       product version, high pair (major << 16 | minor)
//   4       4       product version, low pair (patch << 16 | build)
//   8       string  the libraries attached when it was written, a ';' list
//
// Invariants:
//  1. Opening reads the version, the identifier table, the head and array of
//     every description table and the static globals, and of the records of
//     the static and dynamic objects only their first and last bytes (their
//     kind and name, checked against the static globals); no record of a
//     thing is read until a fault pointer to it is followed. In a file with
//     checksums the static names stay in their record until a look-up needs
//     one, and a static object's record is looked at then.
//  2. A load either leaves a complete module in the table or nothing: every
//     module that a failing load made is unloaded again (lock state 2, no
//     revert) before the failure passes on.
//  3. Nothing reaches a module file before Commit; Save only fills the
//     storage's transaction. The version and the static globals are written
//     again only when their bytes change, and each table writes only its
//     changed records and its array (desctab.h).
//  4. A module's dictionary and lists hold names and references into its own
//     tables, so they are emptied before its tables are discarded, and the
//     identifier table goes last: every other kind refers to names.
//  5. A failed SaveAs leaves the module in its file, with its names and
//     flags, as it was.
//  6. A module file is refused or opened whole: a file that holds streams
//     must hold all of a module's, and the static globals must agree with
//     the tables (checkModuleStreams, checkStaticGlobals; for the static
//     names of a file with checksums, at the look-up or walk that reads
//     them, and before a save writes them). A save writes
//     the tables until none has changes left, so it never leaves the file
//     naming an entry it lacks, and a commit never replaces a file another
//     program put in the module's place.
//
// Life of a module (state: the operations that move it on):
//
//   (file) --LoadModule/LoadModules--> loaded --Save--> saved, uncommitted
//             |                          ^  |            |
//             |                          |  +--Commit----+--> committed
//             +--(failure)--> unloaded   |  SaveAs (moves the file)
//                                        |
//   loaded --UnloadModule(s)/UnloadAllModules--> unload --DelModule--> gone
//
// Object libraries are published here too: PublishObjectDLL loads a library
// and runs its POD_Populate, which registers its classes. A published library
// stays loaded for the life of the process, because the classes it
// registered point into it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/dscrptr.h"
#include "store/persist/idstr.h"
#include "store/reflist.h"

namespace tq {

class InterObj;
class InterObjRep;
class OCLStorage;
class OCLStream;
class StorageError;
class ValString;
class ValStringRep;

// The static objects of one module: name -> object, ordered by name.
//
// An entry read from a module file keeps its name and its object as the
// descriptors the file gave, and follows neither until it must: the name's
// stored count already includes this reference, and a descriptor stays safe
// to look at even when a file that understated a count lets the name go.
// Before an entry's name is followed or written it is checked to still be
// the entry's own (Settle).
//
// The entries a file gives are slots in dictionary order: a file without
// checksums has them all entered as it opens; a file with checksums keeps
// them in its record (Stored) until a look-up needs one. A look-up binary
// searches the slots, reading each unread slot it passes from the record,
// and a slot it returns is entered then, after its checks. Walking the
// entries in order reads every slot first. A slot is entered once and
// never moves, so an entry's address holds for as long as the entry is
// there; a removed slot keeps its name, so searches pass it without a read.
// Names made since the file was opened live in a map beside the slots; a
// name is in one or the other, never both.
class StaticGlobals {
public:
    struct Entry {
        Entry(IdString n, InterObjRep* o);
        Entry(tDescriptor n, tDescriptor o);
        IdString name;
        Faultp<InterObjRep> object;  // the store's own, uncounted reference
    };

    // A name as a key: its text, cut to 31 characters.
    class Key {
    public:
        Key() = default;
        explicit Key(std::string_view text);
        std::string_view view() const { return {text_, size_}; }

    private:
        char text_[kMaxIdLength];
        uint8_t size_ = 0;
    };
    // Byte order of the texts, as std::string orders them.
    struct KeyOrder {
        using is_transparent = void;
        static std::string_view View(const Key& k) { return k.view(); }
        static std::string_view View(std::string_view s) { return s; }
        template <class A, class B>
        bool operator()(const A& a, const B& b) const { return View(a) < View(b); }
    };

    // One pair of a module file's record as the file gives it: the slot,
    // the name's entry and text, and the object's reference unchecked.
    struct StoredPair {
        uint32_t slot = 0;
        Key key;
        tDescriptor name;
        uint8_t objectFlags = 0;
        uint32_t object = 0;
    };
    // The record of a module file whose pairs are read on demand. Each
    // raises the store's exception for what it cannot give.
    class Stored {
    public:
        // Pairs first .. first + n - 1, appended to out: refused when a
        // pair's name is not a name of the module.
        virtual void read(uint32_t first, uint32_t n, std::vector<StoredPair>& out) = 0;
        // The objects of pairs that were read, after every check an entry
        // needs; the first pair (in slot order) that fails is refused.
        virtual void settle(const std::vector<StoredPair>& pairs, std::vector<tDescriptor>& objects) = 0;
        // Refuses the record: the name of slot `slot` does not come after
        // the name before it (or is the same name, twice).
        [[noreturn]] virtual void outOfOrder(uint32_t slot, std::string_view key, bool twice) = 0;

    protected:
        ~Stored() = default;
    };

    StaticGlobals();
    ~StaticGlobals();
    StaticGlobals(const StaticGlobals&) = delete;
    StaticGlobals& operator=(const StaticGlobals&) = delete;

    // The entry of name; null when there is none. Allocates nothing for an
    // entry that is in; reads and enters the slot of a stored name.
    Entry* find(std::string_view name);
    // The first entry whose name comes after `name` in dictionary order (the
    // first of all for an empty name), with its name in *key; null at the
    // end.
    Entry* after(std::string_view name, std::string* key);
    // False when the name is already there.
    bool add(const IdString& name, InterObjRep* obj);
    // Room for n entries read from a module file, made before the first of
    // them is added (once; later calls do nothing).
    void expectFiled(size_t n);
    // An entry read from a module file: the name (whose text is key) and the
    // object by descriptor.
    bool add(std::string_view key, tDescriptor name, tDescriptor obj);
    // The n pairs of a record, left in it until a look-up needs them; from
    // must outlive them (clear lets it go). Made on an empty dictionary.
    void readOnDemand(uint32_t n, Stored& from);
    // Reads and enters every slot not read yet, checking the order of the
    // names on the way. A failure leaves the slots read so far in.
    void readAll();
    // True while every entry is one the file gave in dictionary order
    // (none came out of order, none was made since).
    bool allFiledInOrder() const { return added_.empty(); }
    // Makes the entry's name a followed reference to the name `key` of module
    // m: the one the file gave when that still names it, else the text
    // interned afresh.
    static void Settle(std::string_view key, Entry& e, tModuleIndex m);
    bool remove(std::string_view name);
    size_t count() const { return count_; }
    void clear();
    // Counts the entries entered and removed: the record's named part can
    // differ from what it was at a revision only when this has moved or a
    // name of the module was given up (IdString::FreedCount). Reading a
    // stored slot does not move it.
    uint64_t revision() const { return revision_; }

    template <class F>
    void forEach(F&& f) {
        forEachKeyed([&f](std::string_view, Entry& e) { f(e); });
    }
    // The same with the name each entry was entered under. That is the
    // entry's name for good: a file that understated the count of a name
    // can leave the entry's reference reading another text, or none.
    // Dictionary order, the filed and the added entries merged; f may add
    // or remove entries other than the one it is given. Reads every stored
    // slot first.
    template <class F>
    void forEachKeyed(F&& f) {
        readAll();
        size_t i = 0;
        auto j = added_.begin();
        for (;;) {
            while (i < filedCount_ && !slotAt(i)->entry) ++i;
            if (i < filedCount_ && (j == added_.end() || slotAt(i)->key.view() < j->first.view())) {
                Filed& slot = *slotAt(i++);
                f(slot.key.view(), *slot.entry);
            } else if (j != added_.end()) {
                auto& [key, entry] = *j++;
                f(key.view(), entry);
            } else {
                return;
            }
        }
    }

private:
    // A slot of the file: unread, an entry, or (read, no entry) removed.
    struct Filed {
        Key key;
        std::optional<Entry> entry;
        bool read = false;
    };
    // Slots are made a block at a time, when one of the block is entered:
    // a module of many names opened for a few look-ups makes few.
    static constexpr size_t kSlotBlock = 64;
    Filed* slotAt(size_t i) const {
        const std::unique_ptr<Filed[]>& block = blocks_[i / kSlotBlock];
        return block ? &block[i % kSlotBlock] : nullptr;
    }
    Filed& makeSlot(size_t i);
    // The slot whose name is text (an entry or a removed one); null when
    // none is.
    Filed* filedSlot(std::string_view text);
    // The slot enters the stored pair, after the pair's checks.
    Filed& enter(const StoredPair& pair);
    Entry* findFiled(std::string_view text);
    Entry* findAdded(std::string_view text);

    std::vector<std::unique_ptr<Filed[]>> blocks_;
    size_t filedCount_ = 0;
    size_t filedRoom_ = 0;
    // Slots of the record not read yet, and the record they are in.
    size_t unread_ = 0;
    Stored* stored_ = nullptr;
    // Entries made since, and any a file gave out of order.
    std::map<Key, Entry, KeyOrder> added_;
    size_t count_ = 0;
    uint64_t revision_ = 0;
};

using DynamicObjectList = RefList<InterObjRep, tPrimaryReference>;
using PreloadList = RefList<InterObjRep, tUncountedIndirectReference>;
// The list a Group keeps its members in.
using GroupObjectList = RefList<InterObjRep, tIndirectReference>;

enum LockStateType : uint8_t {
    LOCK_NORMAL = 0,
    LOCK_UNLOADING = 2,
    LOCK_UNLOADING_ALL = 3,
};

class ObjectStore {
public:
    enum : uint8_t {
        kUntitled = 0x01,      // the file is a temporary file, deleted with the module
        kReadOnlyText = 0x02,  // a text module opened read-only
    };

    // Opens the module on storage, which the store owns from here on: reads
    // the version, takes the lowest free module slot ("Module limit
    // exceeded." when none is), opens every description table and reads the
    // identifier table. A file whose bytes do not make a module raises
    // ModuleOpenFailed, and the slot is free again.
    explicit ObjectStore(OCLStorage* storage);
    // Discards the tables when that has not been done (DelModule), closes the
    // storage and, for an untitled or text module, deletes its temporary file.
    virtual ~ObjectStore();
    ObjectStore(const ObjectStore&) = delete;
    ObjectStore& operator=(const ObjectStore&) = delete;

    // Hooks for a host's subclass that keeps data of its own in the module.
    virtual bool isDirtyHook(tModuleIndex m);
    virtual void writeHook(tModuleIndex m);
    virtual void deleteHook(tModuleIndex m);

    tModuleIndex moduleIndex() const { return index_; }
    // A number no other store of this process has had: tells a module from
    // a later one loaded into the same slot.
    uint64_t serial() const { return serial_; }
    OCLStorage& storage() { return *storage_; }
    uint8_t flags() const { return flags_; }
    const std::string& textPath() const { return textPath_; }
    uint32_t versionHigh() const { return versionHigh_; }
    uint32_t versionLow() const { return versionLow_; }
    const std::string& attachedLibraries() const { return attachedDLLs_; }

    // ---- the module table ----------------------------------------------------

    static bool ValidIndex(tModuleIndex m) { return m < MAX_MODULES && module[m] != nullptr; }
    static int ModuleCount();
    // The next used slot after m (from the start when m >= 254); 254 if none.
    static tModuleIndex NextValidIndex(tModuleIndex m);
    // The lowest free slot; throws "Module limit exceeded." when none is.
    static tModuleIndex NextIndex();
    static ObjectStore* Module(tModuleIndex m) { return m < MAX_MODULES ? module[m] : nullptr; }

    static tModuleIndex OpenModule();
    // Makes m current and returns the previous current module. An index that
    // is neither a used slot nor DETACHED_MODULE raises AccessDenied.
    static tModuleIndex OpenModule(tModuleIndex m);
    static tModuleIndex WritingModule();
    static bool DeletingModule(tModuleIndex m);

    static LockStateType LockState() { return storeLockState; }
    // While the state is not LOCK_NORMAL, objects neither run event methods
    // nor destroy themselves on their last release, and timers are held, so
    // that no Timeout runs into a module being unloaded. The hold follows
    // the change of state: leaving LOCK_NORMAL takes one, coming back gives
    // it back, and setting the state it already has does neither, so that
    // a repeated setting never takes away a hold the debugger or the
    // program keeps.
    static void setLockState(LockStateType s) {
        const bool wasNormal = storeLockState == LOCK_NORMAL;
        storeLockState = s;
        if (wasNormal == (s == LOCK_NORMAL)) return;
        if (void (*change)() = wasNormal ? holdTimers : releaseTimers) change();
    }
    // The Timer class's hold and release, filled when it is first
    // published; until then there are no timers to hold.
    static inline void (*holdTimers)() = nullptr;
    static inline void (*releaseTimers)() = nullptr;

    // Resolves every signature proxy of module m against the modules loaded
    // now; each that fails is shown to the user, and the load goes on.
    static void resolveSigProxies(tModuleIndex m);

    // ---- module properties (each raises AccessDenied 32717 "Invalid module
    // index." for an index that is not a loaded module, unless it says
    // otherwise)

    // False for DETACHED_MODULE.
    static bool ModuleIsUntitled(tModuleIndex m);
    static bool ModuleIsText(tModuleIndex m);
    // A read-only text module, a text module whose text file is marked
    // read-only, or a binary module whose storage is not writable.
    static bool ModuleIsReadOnly(tModuleIndex m);
    // The text file of a text module, else the module file; empty for
    // DETACHED_MODULE and unused slots.
    static std::string GetModuleFileNameA(tModuleIndex m);
    // -1 for an unused slot, 0 for a titled module.
    static int16_t ModuleUntitledSerialNum(tModuleIndex m);
    // Untitled, or a description table changed, or the host's hook says so.
    static bool IsDirty(tModuleIndex m);
    // "<Intrinsic module>", "Untitled-<n>", the file name alone when a search
    // of the module path finds this very file by it, else the full path.
    static ValString FormatModuleDisplayName(tModuleIndex m);
    // "Tessaro:<major.minor.patch.build>;<attached libraries>": the module's
    // version record, or the running library's for DETACHED_MODULE; empty
    // for a slot that is not in use.
    static ValString FormatModuleVersion(tModuleIndex m);
    // This library's product version, as the version record holds it.
    static void GetTessaroProductVersion(uint32_t& high, uint32_t& low);
    // Whether a loaded thing of a depends on b: an object whose signature,
    // or a signature whose parent, lies in b.
    static bool ModuleDependsOn(tModuleIndex a, tModuleIndex b);
    // Replaces out's text with the libraries that defined the classes of
    // module m's signatures (reading them all), when there are any.
    static void GetPublishedObjectDLLList(tModuleIndex m, ValStringRep& out);

    // ---- loading ---------------------------------------------------------------

    // A bare name is searched for in the system's default order, then along
    // TESSARO_PATH, with ext added when it has none; a name with a folder must
    // exist as it is. The full path found, or empty.
    static std::string SearchTessaroPath(const char* name, const char* ext);
    // The index of a loaded module known by name ("<Intrinsic module>",
    // "Untitled-<n>" in any case, or a file name the search resolves), 254 for
    // the intrinsic module, 255 when none is loaded by that name.
    static tModuleIndex FindModule(const char* name);
    // Loads the module at path (a new untitled module for an empty path),
    // or takes it as it is when it is loaded already, and makes it current.
    // 254 when nothing was loaded (a text module the user gave up).
    static tModuleIndex LoadModule(const char* path, int32_t create, int32_t readOnly);
    // Loads every module of a ';' list ("name|ro" opens one read-only), then
    // resolves them in list order. The indexes in list order (254 for one not
    // loaded) followed by 255; empty for an empty list.
    static std::vector<tModuleIndex> LoadModules(const char* pathList);
    static ObjectStore* LoadModuleNoResolve(const char* path, int32_t create, int32_t readOnly);
    static ObjectStore* LoadBinaryModule(const char* path, int32_t create, int32_t readOnly);
    static ObjectStore* LoadTextModule(const char* path, int32_t readOnly);
    // Why the last text module that was given up failed to load (what the
    // compiler reported), for a caller that must say so once LoadModule
    // gave 254; empty when the last text load succeeded or none was made.
    static const std::string& TextLoadFailure() { return textLoadFailure; }
    // Runs the "Preload" member of every preload object of module m.
    static void NotifyPreloads(tModuleIndex m);

    // Loads the object library `library` ("tqstore" is this library itself)
    // and runs its POD_Populate. A library that will not load or has no
    // POD_Populate raises the loader's text as a SystemError StoreException.
    static void PublishObjectDLL(const char* library);

    // ---- unloading ---------------------------------------------------------------

    // Unloads module m (nothing for a slot that is not in use).
    // ModuleUnloadFailed 32682 when an object or child signature of one of its
    // signatures lies in another module.
    static void UnloadModule(tModuleIndex m);
    static void UnloadModule(ObjectStore* s);
    // The same for every used slot of a list ended by 255, checked as a set.
    static void UnloadModules(const tModuleIndex* indexes);
    // Unloads every module, discarding uncommitted changes when revert is set.
    // The lock state stays LOCK_UNLOADING_ALL: no module may be used after.
    static void UnloadAllModules(int32_t revert);

    // ---- saving --------------------------------------------------------------------

    // Writes module m into its storage's transaction. A module opened
    // read-only is left alone; when it has changes, that is ModuleSaveError
    // rather than a silent success. "Can't save detached module." for 254.
    static void Save(tModuleIndex m);
    // The transaction into the file, atomically; ModuleSaveError when the
    // file system refuses, or when another program renamed a file over the
    // module's path since it was opened (the changes stay, for SaveAs).
    static void Commit(tModuleIndex m);
    // Save for every module, then Commit for every module; then a module
    // opened read-only that has changes raises as Save does (one without
    // changes is passed over).
    static void SaveAll();
    // Moves module m to the file at path (as a text module with asText),
    // saves and commits it. "Could not save as: %s" (named
    // "ModuleSaveAsError") when the target cannot be written or taken over.
    static void SaveAs(tModuleIndex m, const char* path, int asText);
    // Saves module m and closes every gap in its streams; the file shrinks to
    // its live bytes at the next Commit. A record the file cannot give back
    // (damage) is ModuleSaveError naming it, and its table stays as it was.
    static void Compact(tModuleIndex m);

    // ---- static objects ------------------------------------------------------------

    // InvalidObjectName 32708 for a name that is no identifier, DuplicateName
    // when module m already has a static object of that name.
    static void ValidateNewStaticGlobal(const char* name, tModuleIndex m);
    // Enters obj under its own name into module m's dictionary;
    // DuplicateName when the name is taken.
    static void addStaticGlobal(InterObjRep& obj, tModuleIndex m);
    // Removes obj's name, except while module m is being discarded.
    static void removeStaticGlobal(InterObjRep& obj, tModuleIndex m);
    // The detached dictionary first, then every module's in index order.
    static bool findStatic(const char* name, InterObj& out);
    // An alias that resolves, or a name in any dictionary.
    static bool contains(const char* name);
    // A static name or an alias, followed by ".embed" steps.
    static bool find(const char* path, InterObj& out);
    static bool findEmbed(InterObjRep* obj, const char* path, InterObj& out);
    static bool lookupEmbed(InterObjRep* obj, std::string_view path, InterObj& out);
    // Renames a static object (NotFound 32740, AccessDenied, InvalidFieldName
    // 32708, DuplicateName).
    static void Rename(const char* oldName, const char* newName);
    // The dictionary of module m, the detached one for DETACHED_MODULE.
    static StaticGlobals& Dictionary(tModuleIndex m);
    // -1 for a slot that is not in use.
    static int32_t StaticCount(tModuleIndex m);

    // ---- dynamic and preload objects ----------------------------------------

    static void addDynamicObject(InterObjRep& obj, tModuleIndex m);
    static void removeDynamicObject(InterObjRep& obj, tModuleIndex m);
    // Whether m's list of dynamic objects holds obj; a search only when
    // obj joined the list in this session or m's record lists it.
    static bool isListedDynamic(InterObjRep& obj, tModuleIndex m);
    static DynamicObjectList& DynamicsList(tModuleIndex m);
    static int32_t DynamicCount(tModuleIndex m);

    // Preloads are kept for objects of loaded modules only; asking for a
    // detached object does nothing.
    static void RequestPreload(InterObjRep* obj);
    static bool RemovePreload(InterObjRep* obj);
    static bool IsPreload(InterObjRep* obj);
    PreloadList& preloads() { return preloads_; }

    // ---- collecting objects for a group ---------------------------------------
    //
    // Each appends counted references to group and returns its new length.

    // The module's non-null dynamic objects, in list order.
    static int32_t GetDynamicObjects(tModuleIndex m, GroupObjectList& group);
    // The prototype of every signature of module m (reading them all), except
    // prototypes that are workers.
    static int32_t GetPrototypeObjects(tModuleIndex m, GroupObjectList& group);
    // The module's non-null static objects: unsorted, in reverse dictionary
    // order; sorted, each after every object it depends on.
    static int32_t GetStaticObjects(tModuleIndex m, GroupObjectList& group, int sorted);

    // The same into the list of a Group object: a null group gives 0, an
    // object that is no Group raises TypeMismatch; the group is marked
    // changed.
    static int32_t GetDynamicObjects(tModuleIndex m, InterObj& group);
    static int32_t GetPrototypeObjects(tModuleIndex m, InterObj& group);
    static int32_t GetStaticObjects(tModuleIndex m, InterObj& group, int sorted);
    // The member list of a Group object, null for any other object; the
    // Group class installs it when it is published.
    using GroupListOf = GroupObjectList* (*)(InterObjRep* obj);
    static inline GroupListOf groupListOf = nullptr;

    // ---- iterators -------------------------------------------------------------------

    // The entries of the detached dictionary, then of every loaded module's
    // in index order (or of module m's only), in dictionary order; null at the
    // end. Entries added or removed during the walk are met or missed by
    // their place in the order, never twice.
    class StaticObjectsIterator {
    public:
        StaticObjectsIterator();
        explicit StaticObjectsIterator(tModuleIndex m);
        StaticGlobals::Entry* operator()();

    private:
        tModuleIndex module_;
        bool all_;
        std::string last_;
    };

    // The same over the dynamic-object lists; each step gives the next entry's
    // reference.
    class DynamicObjectsIterator {
    public:
        DynamicObjectsIterator();
        explicit DynamicObjectsIterator(tModuleIndex m);
        Faultp<InterObjRep>* operator()();

    private:
        tModuleIndex module_;
        bool all_;
        size_t next_ = 0;
    };

    // Makes m the current module (OpenModule) for the life of the scope.
    class OpenModuleScope {
    public:
        explicit OpenModuleScope(tModuleIndex m) : previous_(OpenModule(m)) {}
        ~OpenModuleScope() { OpenModule(previous_); }
        OpenModuleScope(const OpenModuleScope&) = delete;
        OpenModuleScope& operator=(const OpenModuleScope&) = delete;

    private:
        tModuleIndex previous_;
    };

    // Makes m the module being written for the life of the scope.
    class WritingScope {
    public:
        explicit WritingScope(tModuleIndex m);
        ~WritingScope();
        WritingScope(const WritingScope&) = delete;
        WritingScope& operator=(const WritingScope&) = delete;

    private:
        tModuleIndex previous_;
    };

    // Marks this store as the one whose tables are being discarded.
    class DyingScope {
    public:
        explicit DyingScope(ObjectStore* s);
        ~DyingScope();
        DyingScope(const DyingScope&) = delete;
        DyingScope& operator=(const DyingScope&) = delete;

    private:
        ObjectStore* previous_;
    };

private:
    static inline std::array<ObjectStore*, MAX_MODULES> module{};
    static inline tModuleIndex openModuleIndex = DETACHED_MODULE;
    static inline tModuleIndex writingModuleIndex = DETACHED_MODULE;
    static inline ObjectStore* dyingModule = nullptr;
    static inline LockStateType storeLockState = LOCK_NORMAL;
    static inline int16_t untitledCounter = 1;
    static inline std::string textLoadFailure;
    static inline uint64_t lastSerial = 0;

    static StaticGlobals& detachedGlobals();
    static DynamicObjectList& detachedDynamics();
    static bool mayBeListedDynamic(const InterObjRep& obj, tModuleIndex m);
    // The store of module m; AccessDenied 32717 "Invalid module index." naming
    // where when m is not a loaded module.
    static ObjectStore& Store(tModuleIndex m, const char* where);

    // Opening (objstore.cpp).
    // ModuleOpenFailed when the storage holds streams but not all of a
    // module's.
    void checkModuleStreams() const;
    void initVersion();
    void takeCurrentVersion();
    std::vector<uint8_t> versionImage() const;
    void writeVersion();
    // Raises the storage's failure to write this module as ModuleSaveError.
    [[noreturn]] void throwSaveFailed(const StorageError& e) const;
    // "path: reason" for a storage failure about the file at path; the
    // storage's texts name the file themselves, and it is named once.
    static std::string WithCause(const std::string& path, const StorageError& e);
    // ModuleSaveError when module m, opened read-only, has changes.
    void refuseReadOnlyChanges(tModuleIndex m);
    void openTables();
    // Discards the dictionary, the lists and every table of the module.
    static void DelModule(tModuleIndex m);
    // Writes module m's tables until none has changes left.
    static void WriteTables(tModuleIndex m);
    static void unload(ObjectStore* s, int32_t revert);
    std::string where() const;

    // The "Static globals" stream (statglob.cpp).
    void initStaticGlobals();
    // ModuleOpenFailed when the record and the tables disagree on what the
    // module holds (a lost or spoilt record).
    void checkStaticGlobals();
    // Whether any description table of the module has an entry in use.
    bool tablesHoldThings() const;
    // The record's named part and its lists, appended to out.
    void appendStaticNames(std::vector<uint8_t>& out);
    void appendObjectLists(std::vector<uint8_t>& out);
    void writeStaticGlobals();
    void writeStaticsFrom(uint32_t at, const std::vector<uint8_t>& bytes);

    // Loading (modload.cpp).
    static std::string NewTempFile();
    static void UndoLoads(const std::vector<ObjectStore*>& loaded);
    static void UnloadSet(const std::vector<tModuleIndex>& indexes);

    // The pairs of the "Static globals" record of a file with checksums,
    // read through the stream when a look-up needs them: each piece read is
    // checked then, and each pair is checked as the open checks those of a
    // file without checksums. What fails is ObjectLoadFailed.
    class StoredStatics final : public StaticGlobals::Stored {
    public:
        explicit StoredStatics(ObjectStore& store) : store_(store) {}
        void read(uint32_t first, uint32_t n, std::vector<StaticGlobals::StoredPair>& out) override;
        void settle(const std::vector<StaticGlobals::StoredPair>& pairs, std::vector<tDescriptor>& objects) override;
        [[noreturn]] void outOfOrder(uint32_t slot, std::string_view key, bool twice) override;

    private:
        ObjectStore& store_;
    };

    std::unique_ptr<OCLStorage> storage_;
    std::unique_ptr<OCLStream> staticGlobals_;
    uint8_t flags_ = 0;
    tModuleIndex index_ = NO_MODULE;
    uint64_t serial_ = ++lastSerial;
    StoredStatics storedStatics_{*this};
    StaticGlobals statics_;
    DynamicObjectList dynamics_;
    // The descriptors (raw, sorted) of the dynamic objects as the record
    // listed them: an object read from the file may be on dynamics_ without
    // having joined it in this session.
    std::vector<uint32_t> fileDynamics_;
    PreloadList preloads_;
    std::string textPath_;
    uint32_t versionHigh_ = 0;
    uint32_t versionLow_ = 0;
    std::string attachedDLLs_;
    int16_t untitledSerial_ = 0;
    bool tablesOpen_ = false;
    bool staticsRead_ = false;
    // The bytes the two small streams hold, so that a save rewrites them only
    // when they change: "Static globals" from offset heldFrom_ on (the end
    // of its named part while that is read on demand, else 0).
    std::vector<uint8_t> versionBytes_;
    std::vector<uint8_t> staticsBytes_;
    size_t heldFrom_ = 0;
    // What staticsBytes_ holds of the dictionary: its named part ends at
    // namesEnd_ and reads as the dictionary did at staticsRevision_ with
    // namesFreed_ names given up (namesKnown_ false: unknown, made afresh).
    bool namesKnown_ = false;
    size_t namesEnd_ = 0;
    uint64_t staticsRevision_ = 0;
    uint64_t namesFreed_ = 0;
};

}  // namespace tq
