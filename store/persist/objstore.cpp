// The module table, opening and discarding a module's tables, the version
// record, module properties, and saving.
#include "store/persist/objstore.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/com/classreg.h"
#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/dllutils.h"
#include "platform/util/dynlib.h"
#include "platform/util/fileutil.h"
#include "platform/util/lebytes.h"
#include "platform/util/pathsrch.h"
#include "platform/util/pathstr.h"
#include "platform/util/pushdir.h"
#include "platform/util/uassert.h"
#include "store/block.h"
#include "store/errors/extexcep.h"
#include "store/faultp.h"
#include "store/model/enum.h"
#include "store/model/interobj.h"
#include "store/model/sigrep.h"
#include "store/persist/desciter.h"
#include "store/persist/idstr.h"
#include "store/persist/proxy.h"
#include "store/persist/vlstrrep.h"
#include "store/sigproxy.h"
#include "store/storeapp.h"
#include "store/tqstore.h"

namespace tq {

namespace {

// The kinds of thing a module keeps in description tables, in the order of
// their streams: tables are opened and written in this order, and discarded
// in it too. Objects come first when they are discarded because an object
// releases what its data holds through its signature's fields, so the
// signatures must still be there; strings and names outlive everything that
// names them. A new kind is one more line here.
struct TableKind {
    void (*open)(tModuleIndex, OCLStorage&);
    void (*discard)(tModuleIndex);
    VoidDescriptionTable* (*table)(tModuleIndex);
};

template <class T>
constexpr TableKind KindOf() {
    return {&DescribedObjectNoDescriptor<T>::newModule, &DescribedObjectNoDescriptor<T>::delModule,
            [](tModuleIndex m) -> VoidDescriptionTable* {
                return DescribedObjectNoDescriptor<T>::descriptionTable(m);
            }};
}

constexpr TableKind kTableKinds[] = {
    KindOf<InterObjRep>(),
    KindOf<BlockRep>(),
    KindOf<SignatureRep>(),
    KindOf<ValStringRep>(),
    KindOf<EnumRep>(),
    KindOf<InterObjProxy>(),
    KindOf<EnumProxy>(),
    KindOf<SignatureProxy>(),
};

// Streams of the store itself are opened read-write and exclusive, created
// when missing (on a read-only storage a missing one reads as empty).
constexpr int kCreateWhenMissing = 1;
constexpr uint32_t kStreamMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

constexpr const char* kVersionStream = "Module version";
constexpr const char* kStaticGlobalsStream = "Static globals";
// A version record names the libraries of one process; anything longer than
// this is not one.
constexpr uint32_t kMaxVersionRecord = 64 * 1024;

constexpr const char* kIntrinsicName = "<Intrinsic module>";
constexpr const char* kUntitledPrefix = "Untitled-";

// The streams every module this library has written holds, whatever it
// holds: the store makes each of them when it opens a new module, and the
// first commit writes them. A stream of a kind added later is not among
// them, so that modules written before it still open (it is made empty).
constexpr const char* kModuleStreams[] = {
    kVersionStream, kStaticGlobalsStream, "Objects",          "Signatures",         "Strings",
    "Enumerations", "ObjectProxies",      "EnumerationProxies", "SignatureProxies", "IdStrings",
};

// One past the highest filled slot of the module table, 0 when none is: a
// walk over the loaded modules stops there instead of at MAX_MODULES. Slots
// are filled and emptied only through SetSlot, which keeps it so.
int gModuleEnd = 0;

void SetSlot(std::array<ObjectStore*, MAX_MODULES>& table, tModuleIndex m, ObjectStore* s) {
    table[m] = s;
    if (s)
        gModuleEnd = std::max(gModuleEnd, m + 1);
    else
        while (gModuleEnd > 0 && !table[gModuleEnd - 1]) --gModuleEnd;
}

}  // namespace

// ---- construction and the module's tables -------------------------------------------

ObjectStore::ObjectStore(OCLStorage* storage) : storage_(storage) {
    TQ_ASSERT(storage_ != nullptr, "storage");
    checkModuleStreams();
    try {
        staticGlobals_ =
            std::make_unique<OCLStream>(*storage_, kStaticGlobalsStream, kCreateWhenMissing, kStreamMode);
        initVersion();
    } catch (const StorageError& e) {
        throw ModuleOpenFailed(WithCause(where(), e).c_str());
    }
    index_ = NextIndex();
    SetSlot(module, index_, this);
    try {
        openTables();
    } catch (...) {
        SetSlot(module, index_, nullptr);
        throw;
    }
}

ObjectStore::~ObjectStore() {
    if (tablesOpen_) DelModule(index_);
    if (index_ < MAX_MODULES && module[index_] == this) SetSlot(module, index_, nullptr);
    if (openModuleIndex == index_) openModuleIndex = NextValidIndex(index_);
    // An untitled module's file, and a text module's storage, are temporary
    // files of this store alone; one never committed was never made, and
    // its name may since be another program's.
    const bool temporary = ((flags_ & kUntitled) || !textPath_.empty()) && storage_->hasFile();
    const std::string file = temporary ? storage_->GetStoragePath() : std::string();
    staticGlobals_.reset();
    storage_.reset();
    if (temporary) RemoveFile(file);
}

std::string ObjectStore::where() const { return storage_->GetStoragePath(); }

// Streams are opened "create when missing", which is how a new module gets
// them. A file that holds streams but lacks one of a module's is another
// kind of file, or a module whose directory lost entries: opened, it would
// show as a module without what the lost streams held, and its next save
// would write it so. A storage without any stream is a new module (as
// LoadModule with create leaves a file that was never committed).
void ObjectStore::checkModuleStreams() const {
    if (storage_->streamNames().empty()) return;
    for (const char* name : kModuleStreams) {
        if (!storage_->hasStream(name))
            throw ModuleOpenFailed((where() + " is not a module: stream \"" + name + "\" is missing").c_str());
    }
}

void ObjectStore::openTables() {
    size_t opened = 0;
    bool namesOpen = false;
    try {
        for (const TableKind& k : kTableKinds) {
            k.open(index_, *storage_);
            ++opened;
        }
        IdString::newModule(index_, *storage_);
        namesOpen = true;
    } catch (...) {
        DyingScope dying(this);
        for (size_t i = 0; i < opened; ++i) kTableKinds[i].discard(index_);
        if (namesOpen) IdString::delModule(index_);
        try {
            throw;
        } catch (const StorageError& e) {
            throw ModuleOpenFailed(WithCause(where(), e).c_str());
        }
    }
    tablesOpen_ = true;
}

bool ObjectStore::tablesHoldThings() const {
    for (const TableKind& k : kTableKinds) {
        const VoidDescriptionTable* t = k.table(index_);
        for (uint32_t i = 0; t && i < t->count(); ++i)
            if (!t->entry(i).isFree()) return true;
    }
    return false;
}

// Discards the dictionary and the lists first (they hold names and
// references into the tables), then every table, the host's data and the
// names last.
void ObjectStore::DelModule(tModuleIndex m) {
    TQ_ASSERT(m < MAX_MODULES && module[m] != nullptr, "module[i]");
    ObjectStore* s = module[m];
    {
        DyingScope dying(s);
        s->statics_.clear();
        s->dynamics_.clear();
        s->preloads_.clear();
        if (s->tablesOpen_) {
            for (const TableKind& k : kTableKinds) k.discard(m);
        }
        s->deleteHook(m);
        if (s->tablesOpen_) IdString::delModule(m);
        s->tablesOpen_ = false;
    }
    SetSlot(module, m, nullptr);
}

void ObjectStore::unload(ObjectStore* s, int32_t revert) {
    const tModuleIndex m = s->index_;
    // Revert only matters to a file that stays: an untitled module's file goes
    // with it.
    if (!(s->flags_ & kUntitled) && revert && s->storage_->isWritable()) s->storage_->Revert();
    DelModule(m);
    delete s;
    TQ_ASSERT(module[m] == nullptr, "module[i] == NULL");
}

bool ObjectStore::isDirtyHook(tModuleIndex) { return false; }
void ObjectStore::writeHook(tModuleIndex) {}
void ObjectStore::deleteHook(tModuleIndex) {}

// ---- the version record ---------------------------------------------------------------

void ObjectStore::GetTessaroProductVersion(uint32_t& high, uint32_t& low) {
    // The library states its version when it attaches; read it once.
    static const std::pair<uint32_t, uint32_t> version = [] {
        VersionData v;
        DLLUtils::GetVersionData(LibraryPath().c_str(), v);
        uint32_t h = 0, l = 0;
        DLLUtils::GetProductVersion(v, h, l);
        return std::pair<uint32_t, uint32_t>(h, l);
    }();
    high = version.first;
    low = version.second;
}

void ObjectStore::takeCurrentVersion() {
    GetTessaroProductVersion(versionHigh_, versionLow_);
    attachedDLLs_ = DLLUtils::AttachedDLLs();
}

void ObjectStore::initVersion() {
    OCLStream s(*storage_, kVersionStream, kCreateWhenMissing, kStreamMode);
    if (s.size() == 0) {
        takeCurrentVersion();
        return;
    }
    if (s.size() > kMaxVersionRecord) {
        throw ModuleOpenFailed((where() + ": stream \"Module version\": the record is too long").c_str());
    }
    versionBytes_.resize(s.size());
    s.read(versionBytes_.data(), versionBytes_.size());
    s.seek(0);
    versionHigh_ = s.readU32();
    versionLow_ = s.readU32();
    attachedDLLs_ = s.readString();
}

std::vector<uint8_t> ObjectStore::versionImage() const {
    std::vector<uint8_t> image(12 + attachedDLLs_.size());
    StoreLE32(image.data(), versionHigh_);
    StoreLE32(image.data() + 4, versionLow_);
    StoreLE32(image.data() + 8, static_cast<uint32_t>(attachedDLLs_.size()));
    std::copy(attachedDLLs_.begin(), attachedDLLs_.end(), image.begin() + 12);
    return image;
}

void ObjectStore::writeVersion() {
    std::vector<uint8_t> image = versionImage();
    if (image == versionBytes_) return;
    OCLStream s(*storage_, kVersionStream, kCreateWhenMissing, kStreamMode);
    s.seek(0);
    s.write(image.data(), image.size());
    s.setSize(static_cast<uint32_t>(image.size()));
    versionBytes_ = std::move(image);
}

// ---- the module table -------------------------------------------------------------------

int ObjectStore::ModuleCount() {
    int n = 0;
    for (ObjectStore* s : module) n += s != nullptr;
    return n;
}

tModuleIndex ObjectStore::NextValidIndex(tModuleIndex m) {
    const int start = m >= MAX_MODULES ? 0 : m + 1;
    for (int i = start; i < gModuleEnd; ++i)
        if (module[i]) return static_cast<tModuleIndex>(i);
    return DETACHED_MODULE;
}

tModuleIndex ObjectStore::NextIndex() {
    for (int i = 0; i < MAX_MODULES; ++i)
        if (!module[i]) return static_cast<tModuleIndex>(i);
    throw StoreException("Module limit exceeded.");
}

tModuleIndex ObjectStore::OpenModule() {
    const tModuleIndex i = openModuleIndex;
    TQ_ASSERT(i < MAX_MODULES ? (module[i] != nullptr) : (i == DETACHED_MODULE),
              "i<MAX_MODULES? (module[i]!= NULL) : (i == DETACHED_MODULE)");
    return i;
}

tModuleIndex ObjectStore::OpenModule(tModuleIndex m) {
    if (m != DETACHED_MODULE && !ValidIndex(m))
        throw AccessDenied("ObjectStore::OpenModule", 32717);
    const tModuleIndex previous = openModuleIndex;
    openModuleIndex = m;
    return previous;
}

tModuleIndex ObjectStore::WritingModule() {
    TQ_ASSERT(ValidIndex(writingModuleIndex), "ValidIndex(writingModuleIndex)");
    return writingModuleIndex;
}

bool ObjectStore::DeletingModule(tModuleIndex m) {
    if (m == DETACHED_MODULE) return false;
    TQ_ASSERT(m < MAX_MODULES, "i < MAX_MODULES");
    return dyingModule != nullptr && module[m] == dyingModule;
}

// Module indexes come from hosts and, through the module built-ins, from
// programs: one that names no loaded module is their fault, raised as
// OpenModule raises it, never asserted.
ObjectStore& ObjectStore::Store(tModuleIndex m, const char* where) {
    if (!ValidIndex(m)) throw AccessDenied(where, 32717);
    return *module[m];
}

ObjectStore::WritingScope::WritingScope(tModuleIndex m) : previous_(writingModuleIndex) {
    writingModuleIndex = m;
}
ObjectStore::WritingScope::~WritingScope() { writingModuleIndex = previous_; }

ObjectStore::DyingScope::DyingScope(ObjectStore* s) : previous_(dyingModule) { dyingModule = s; }
ObjectStore::DyingScope::~DyingScope() { dyingModule = previous_; }

void ObjectStore::PublishObjectDLL(const char* library) {
    DynamicLibrary::Handle handle = DynamicLibrary::Open(library);
    if (!handle) ThrowSystemError(DynamicLibrary::LastError(), nullptr);
    void* proc = DynamicLibrary::Symbol(handle, "POD_Populate");
    if (!proc) {
        const std::string error = DynamicLibrary::LastError();
        DynamicLibrary::Close(handle);
        ThrowSystemError(error, nullptr);
    }
    // Classes registered by the routine are recorded as this library's; a
    // routine that fails takes back everything it published.
    ClassRegistry::PublishingScope scope(DynamicLibrary::PathOf(handle));
    try {
        reinterpret_cast<void (*)()>(proc)();
    } catch (...) {
        scope.abandon();
        throw;
    }
}

// ---- module properties --------------------------------------------------------------------

bool ObjectStore::ModuleIsUntitled(tModuleIndex m) {
    if (m == DETACHED_MODULE) return false;
    return (Store(m, "ObjectStore::ModuleIsUntitled").flags_ & kUntitled) != 0;
}

bool ObjectStore::ModuleIsText(tModuleIndex m) {
    if (m == DETACHED_MODULE) return false;
    return !Store(m, "ObjectStore::ModuleIsText").textPath_.empty();
}

bool ObjectStore::ModuleIsReadOnly(tModuleIndex m) {
    if (m == DETACHED_MODULE) return false;
    ObjectStore& s = Store(m, "ObjectStore::ModuleIsReadOnly");
    if (s.flags_ & kReadOnlyText) return true;
    if (!s.textPath_.empty()) return FileHasReadOnlyAttribute(s.textPath_);
    return !s.storage_->isWritable();
}

std::string ObjectStore::GetModuleFileNameA(tModuleIndex m) {
    if (!ValidIndex(m)) return {};
    ObjectStore& s = *module[m];
    return s.textPath_.empty() ? s.storage_->GetStoragePath() : s.textPath_;
}

int16_t ObjectStore::ModuleUntitledSerialNum(tModuleIndex m) {
    if (!ValidIndex(m)) return -1;
    return module[m]->untitledSerial_;
}

bool ObjectStore::IsDirty(tModuleIndex m) {
    if (m == DETACHED_MODULE) return false;
    ObjectStore& s = Store(m, "ObjectStore::IsDirty");
    if (s.flags_ & kUntitled) return true;
    for (const TableKind& k : kTableKinds) {
        if (VoidDescriptionTable* t = k.table(m); t && t->isDirty()) return true;
    }
    return s.isDirtyHook(m);
}

ValString ObjectStore::FormatModuleDisplayName(tModuleIndex m) {
    ValString out(ConstructWithSize, kMaxPath);
    if (m == DETACHED_MODULE) {
        out->assign(kIntrinsicName);
        return out;
    }
    ObjectStore& s = Store(m, "ObjectStore::FormatModuleDisplayName");
    if (s.flags_ & kUntitled) {
        out->assign(kUntitledPrefix + std::to_string(s.untitledSerial_));
        return out;
    }
    const std::string full = GetModuleFileNameA(m);
    const std::string file(FilePart(full));
    // A module the search path finds by its bare name is shown by that name.
    // The search must not count the current folder, which changes: it runs
    // from the root, as from a folder that holds no modules.
    std::string found;
    try {
        PushDir root("/");
        found = SearchTessaroPath(file.c_str(), ".qbo");
    } catch (const XException&) {
    }
    out->assign(!found.empty() && SamePathIgnoringCase(found, full) ? file : full);
    return out;
}

ValString ObjectStore::FormatModuleVersion(tModuleIndex m) {
    uint32_t high = 0, low = 0;
    std::string libraries;
    if (m == DETACHED_MODULE) {
        GetTessaroProductVersion(high, low);
        libraries = DLLUtils::AttachedDLLs();
    } else if (ValidIndex(m)) {
        high = module[m]->versionHigh_;
        low = module[m]->versionLow_;
        libraries = module[m]->attachedDLLs_;
    } else {
        return ValString("");
    }
    ValString out(ConstructWithSize, 256);
    out->assign("Tessaro:" + DLLUtils::FormatVersion(high, low) + ";" + libraries);
    return out;
}

bool ObjectStore::ModuleDependsOn(tModuleIndex a, tModuleIndex b) {
    if (a == b || !ValidIndex(a)) return false;
    DescribedObjectIterator<InterObjRep> objects(a);
    while (InterObjRep* o = objects.nextFaulted()) {
        if (o->signatureRef().moduleIndex() == b) return true;
    }
    DescribedObjectIterator<SignatureRep> signatures(a);
    while (SignatureRep* s = signatures.nextFaulted()) {
        SignatureRep* p = s->parent();
        if (p && p->moduleIndex() == b) return true;
    }
    // Things of a that are not read yet belong to b's signatures through a's
    // signature proxies.
    DescribedObjectIterator<SignatureProxy> proxies(a);
    while (SignatureProxy* p = proxies()) {
        SignatureRep* s = p->signature();
        if (s && s->moduleIndex() == b) return true;
    }
    return false;
}

void ObjectStore::GetPublishedObjectDLLList(tModuleIndex m, ValStringRep& out) {
    if (!ValidIndex(m)) return;
    PathString list;
    DescribedObjectIterator<SignatureRep> signatures(m);
    while (SignatureRep* s = signatures()) {
        const char* dll = s->getDefiningDLL();
        if (dll && *dll && !list.contains(dll)) list.append(dll);
    }
    if (!list.empty()) out.assign(list.text());
}

// ---- saving -------------------------------------------------------------------------------

void ObjectStore::Save(tModuleIndex m) {
    if (m == DETACHED_MODULE) throw StoreException("Can't save detached module.");
    ObjectStore& s = Store(m, "ObjectStore::Save");
    if (!s.storage_->isWritable()) {
        s.refuseReadOnlyChanges(m);
        return;
    }
    try {
        WritingScope writing(m);
        s.takeCurrentVersion();
        s.writeVersion();
        s.writeStaticGlobals();
        WriteTables(m);
        s.writeHook(m);
        WriteTables(m);
        // Writing the other records interns the names they use into this
        // module, so the names go last.
        IdString::writeModule(m);
    } catch (const StorageError& e) {
        s.throwSaveFailed(e);
    }
    if (!s.textPath_.empty() && !(s.flags_ & kReadOnlyText)) StoreApplication::SaveText(s.textPath_.c_str(), m);
}

// Writing one table can enter things in another that was written before it
// in the same pass (a signature proxy's field copies name enumerations,
// which take enumeration proxies): the tables are written again until none
// has anything left, so the names go last and the file never names an entry
// it lacks. Each pass writes only what the one before entered, so a few
// passes suffice.
void ObjectStore::WriteTables(tModuleIndex m) {
    constexpr int kMaxPasses = 8;
    for (int pass = 0;; ++pass) {
        bool dirty = false;
        for (const TableKind& k : kTableKinds) {
            if (VoidDescriptionTable* t = k.table(m); t && t->isDirty()) dirty = true;
        }
        if (!dirty) return;
        if (pass == kMaxPasses)
            throw StoreException(("Could not save module: " + module[m]->where() +
                                  " (its tables keep changing while they are written)")
                                     .c_str(),
                                 "ModuleSaveError");
        for (const TableKind& k : kTableKinds) {
            if (VoidDescriptionTable* t = k.table(m)) t->write();
        }
    }
}

void ObjectStore::Commit(tModuleIndex m) {
    ObjectStore& s = Store(m, "ObjectStore::Commit");
    // A text module's file is its text, which Save wrote. Its storage is
    // scratch that this process alone reads, and always from memory: a
    // commit would only copy the module into the temporary folder, where a
    // full disk would fail a save that has already succeeded.
    if (!s.textPath_.empty()) return;
    if (!s.storage_->isWritable()) {
        s.refuseReadOnlyChanges(m);
        return;
    }
    try {
        s.storage_->Commit();
    } catch (const StorageError& e) {
        s.throwSaveFailed(e);
    }
}

// A full disk or a lost folder reaches the host as the store's own failure,
// naming the module, like every other failure of the store; the file keeps
// what it had.
void ObjectStore::throwSaveFailed(const StorageError& e) const {
    throw StoreException(("Could not save module: " + storage_->GetStoragePath() + " (" + e.what() + ")").c_str(),
                         "ModuleSaveError");
}

std::string ObjectStore::WithCause(const std::string& path, const StorageError& e) {
    const std::string reason = e.what();
    if (reason.compare(0, path.size() + 2, path + ": ") == 0) return reason;
    return path + ": " + reason;
}

// Every writable module is saved first; then a module opened read-only that
// has changes is refused as Save refuses it, so that the caller never takes
// changes left unsaved for saved ones. One without changes is passed over.
void ObjectStore::SaveAll() {
    for (tModuleIndex m = NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE; m = NextValidIndex(m))
        if (module[m]->storage_->isWritable()) Save(m);
    for (tModuleIndex m = NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE; m = NextValidIndex(m))
        if (module[m]->storage_->isWritable()) Commit(m);
    for (tModuleIndex m = NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE; m = NextValidIndex(m))
        if (!module[m]->storage_->isWritable()) module[m]->refuseReadOnlyChanges(m);
}

// An explicit save of a module opened read-only writes nothing; when the
// module has changes, returning as if it had saved them would lose them
// without a word.
void ObjectStore::refuseReadOnlyChanges(tModuleIndex m) {
    if (!IsDirty(m)) return;
    throw StoreException(("Could not save module: " + storage_->GetStoragePath() +
                          " (it was opened read-only and has changes)")
                             .c_str(),
                         "ModuleSaveError");
}

// Each table slides its live records together, and the commit after writes
// the compound file whole and gap-free (a commit in place would leave the
// sectors the streams gave up free inside the file). The storage is never
// closed for it, so no other writer can take the file in between.
void ObjectStore::Compact(tModuleIndex m) {
    if (m == DETACHED_MODULE) throw StoreException("Can't compact detached module.");
    ObjectStore& s = Store(m, "ObjectStore::Compact");
    if (!s.storage_->isWritable()) {
        s.refuseReadOnlyChanges(m);
        return;
    }
    Save(m);
    s.storage_->CommitWholeNextTime();
    // A table whose records cannot all be read leaves its stream as it was
    // (VoidDescriptionTable::compact), and the failure names the module and
    // the damage.
    try {
        for (const TableKind& k : kTableKinds) {
            if (VoidDescriptionTable* t = k.table(m)) t->compactStream();
        }
    } catch (const StorageError& e) {
        s.throwSaveFailed(e);
    }
}

void ObjectStore::resolveSigProxies(tModuleIndex m) { SignatureProxy::ResolveModule(m); }

tModuleIndex FaultpWritingModule() { return ObjectStore::WritingModule(); }

void FaultpCorruptReference(const char* what) { throw ObjectLoadFailed(what); }

void FaultpNullReference() { throw Is_Null("Faultp::operator->()", 32744); }

}  // namespace tq
