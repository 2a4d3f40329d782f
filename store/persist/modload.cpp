// Finding, loading and unloading modules, and moving a module to another
// file (SaveAs).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/fileutil.h"
#include "platform/util/pathsrch.h"
#include "platform/util/pathstr.h"
#include "platform/util/strutil.h"
#include "platform/util/syserror.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/model/interobj.h"
#include "store/model/objval.h"
#include "store/model/sigrep.h"
#include "store/persist/desctab.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"
#include "store/vals.h"

namespace tq {

namespace {

constexpr const char* kIntrinsicName = "<Intrinsic module>";
constexpr std::string_view kUntitledPrefix = "Untitled-";
constexpr const char* kModuleExtension = ".qbo";
// The question after a text module failed to compile: yes/no, question icon,
// task-modal.
constexpr unsigned kUnloadQuestionStyle = 0x2000 | MB_ICONQUESTION | MB_YESNO;

// Binary modules open read-write in a transaction, or read-only; either way
// no other process may write the file meanwhile.
constexpr uint32_t kReadOnlyMode = STGM_READ | STGM_SHARE_DENY_WRITE;
constexpr uint32_t kReadWriteMode = STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_DENY_WRITE;

// The lock state for a scope that unloads modules: objects neither run event
// methods nor destroy themselves on their last release meanwhile.
class UnloadingScope {
public:
    UnloadingScope() { ObjectStore::setLockState(LOCK_UNLOADING); }
    ~UnloadingScope() { ObjectStore::setLockState(LOCK_NORMAL); }
    UnloadingScope(const UnloadingScope&) = delete;
    UnloadingScope& operator=(const UnloadingScope&) = delete;
};

// "name|options": the name, and whether the options ask for read-only ("ro",
// in any case, at their start).
std::string SplitEntry(const std::string& entry, bool* readOnly) {
    const size_t bar = entry.find('|');
    if (readOnly) {
        const std::string options = bar == std::string::npos ? "" : entry.substr(bar + 1);
        *readOnly = options.size() >= 2 && CompareIgnoringCase(options.substr(0, 2), "ro") == 0;
    }
    return bar == std::string::npos ? entry : entry.substr(0, bar);
}

}  // namespace

// ---- finding ------------------------------------------------------------------------------

std::string ObjectStore::SearchTessaroPath(const char* name, const char* ext) {
    if (!name || !*name) return {};
    std::string found;
    if (!HasFolderPart(name)) {
        found = SearchDefaultPath(name, ext);
        if (found.empty()) {
            RegistryEnvPathString tessaroPath("TESSARO_PATH");
            if (!tessaroPath.empty()) found = SearchPath(tessaroPath, name, ext);
        }
    } else {
        found = FullPathName(name);
        if (!FileExists(found)) found.clear();
    }
    return found.size() < kMaxPath ? found : std::string();
}

tModuleIndex ObjectStore::FindModule(const char* name) {
    if (!name || !*name) return NO_MODULE;
    const std::string text(name);
    if (text == kIntrinsicName) return DETACHED_MODULE;
    if (text.size() > kUntitledPrefix.size() &&
        CompareIgnoringCase(std::string_view(text).substr(0, kUntitledPrefix.size()), kUntitledPrefix) == 0) {
        const std::string digits = text.substr(kUntitledPrefix.size());
        if (digits.find_first_not_of("0123456789") == std::string::npos) {
            int32_t n = 0;
            for (char c : digits) n = std::min<int32_t>(n * 10 + (c - '0'), INT16_MAX + 1);
            // Serials are never given twice: one below the counter names the
            // untitled module that had it, or none when that one has gone.
            if (n > 0 && n < untitledCounter) {
                for (tModuleIndex m = NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE; m = NextValidIndex(m))
                    if ((module[m]->flags_ & kUntitled) && module[m]->untitledSerial_ == n) return m;
                return NO_MODULE;
            }
        }
    }
    const std::string file = SplitEntry(text, nullptr);
    std::string full = SearchTessaroPath(file.c_str(), kModuleExtension);
    // A module whose file is no longer where it was loaded from is still
    // known by the path it was loaded by.
    if (full.empty()) full = FullPathName(file);
    if (full.empty()) return NO_MODULE;
    for (tModuleIndex m = NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE; m = NextValidIndex(m))
        if (SamePathIgnoringCase(GetModuleFileNameA(m), full)) return m;
    return NO_MODULE;
}

// ---- loading ------------------------------------------------------------------------------

std::string ObjectStore::NewTempFile() {
    std::string name = NewTempFileName(TempFolder(), "qbo");
    if (name.empty()) ThrowSystemError(0u, nullptr);
    return name;
}

// The undoing of a failed load: the modules it made go again, without revert
// (there is nothing of theirs to keep). Resolving their signature proxies
// may have read some of their objects into other modules' signatures, so
// those let go first; a record that fails to read on the way does not stop
// the undo, whose own failure is the one that passes on.
void ObjectStore::UndoLoads(const std::vector<ObjectStore*>& loaded) {
    for (ObjectStore* s : loaded) {
        try {
            SignatureRep::ConstructProxies(s->index_);
        } catch (const StoreException&) {
        }
    }
    for (ObjectStore* s : loaded) {
        try {
            SignatureRep::SoftenExternalReferences(s->index_);
        } catch (const StoreException&) {
        }
    }
    UnloadingScope unloading;
    for (ObjectStore* s : loaded) unload(s, 0);
}

tModuleIndex ObjectStore::LoadModule(const char* path, int32_t create, int32_t readOnly) {
    const tModuleIndex found = FindModule(path);
    if (found != NO_MODULE) {
        OpenModule(found);
        return found;
    }
    ObjectStore* s = LoadModuleNoResolve(path, create, readOnly);
    const tModuleIndex m = s ? s->index_ : DETACHED_MODULE;
    if (s) {
        try {
            resolveSigProxies(m);
        } catch (...) {
            UndoLoads({s});
            throw;
        }
    }
    OpenModule(m);
    return m;
}

std::vector<tModuleIndex> ObjectStore::LoadModules(const char* pathList) {
    std::vector<tModuleIndex> indexes;
    if (!pathList || !*pathList) return indexes;
    const PathString list(pathList);
    std::vector<ObjectStore*> loaded;
    try {
        for (size_t i = 0; i < list.count(); ++i) {
            bool readOnly = false;
            const std::string name = SplitEntry(list.entry(i), &readOnly);
            tModuleIndex m = FindModule(name.c_str());
            if (m == NO_MODULE) {
                ObjectStore* s = LoadModuleNoResolve(name.c_str(), 0, readOnly);
                if (s) loaded.push_back(s);
                m = s ? s->index_ : DETACHED_MODULE;
            }
            indexes.push_back(m);
        }
        // Only now that every listed module is in are the signature proxies
        // of each resolved, in list order, so that the modules of one list
        // find each other's prototypes whatever their order.
        for (tModuleIndex m : indexes)
            if (ValidIndex(m)) resolveSigProxies(m);
    } catch (...) {
        UndoLoads(loaded);
        throw;
    }
    if (indexes.empty()) return indexes;
    const tModuleIndex last = indexes.back();
    OpenModule(ValidIndex(last) ? last : DETACHED_MODULE);
    indexes.push_back(NO_MODULE);
    return indexes;
}

ObjectStore* ObjectStore::LoadModuleNoResolve(const char* path, int32_t create, int32_t readOnly) {
    if (create && readOnly) throw StoreException("Cannot open untitled module read-only");
    // Modules are made by the host's application: without one there is
    // nothing to make them, and no file is touched.
    if (!StoreApplication::Current())
        throw StoreException(std::string("Could not open module: ") + (path && *path ? path + std::string(": ") : "") +
                             "there is no application object");
    if (!path || !*path) {
        const std::string temp = NewTempFile();
        ObjectStore* s = nullptr;
        try {
            // Its file is made when the module is first committed: a module
            // that is only run (a text module) never writes one.
            s = LoadBinaryModule(temp.c_str(), kCreateOnFirstCommit, 0);
        } catch (...) {
            RemoveFile(temp);
            throw;
        }
        s->flags_ |= kUntitled;
        s->untitledSerial_ = untitledCounter++;
        return s;
    }
    std::string full = SearchTessaroPath(path, kModuleExtension);
    if (full.empty()) full = FullPathName(path);
    if (full.empty()) throw StoreException(std::string("Could not open module: ") + path);
    if (FileExists(full) && !OCLStorage::IsStorageFile(full.c_str())) return LoadTextModule(full.c_str(), readOnly);
    // A named module that is created gets its file at once, whatever
    // nonzero value asked for it.
    return LoadBinaryModule(full.c_str(), create ? 1 : 0, readOnly);
}

ObjectStore* ObjectStore::LoadBinaryModule(const char* path, int32_t create, int32_t readOnly) {
    const bool asReadOnly = readOnly || FileHasReadOnlyAttribute(path);
    OCLStorage* storage = nullptr;
    try {
        storage = new OCLStorage(path, create, asReadOnly ? kReadOnlyMode : kReadWriteMode);
    } catch (const StorageError& e) {
        throw StoreException(("Could not open module: " + WithCause(path, e)).c_str());
    }
    // From here the store owns the storage, also when its making fails.
    ObjectStore* s = StoreApplication::MakeStore(storage);
    if (!s) {
        delete storage;
        throw StoreException(std::string("Could not open module: ") + path + ": the application made no store");
    }
    try {
        s->initStaticGlobals();
        s->checkStaticGlobals();
    } catch (...) {
        UndoLoads({s});
        throw;
    }
    return s;
}

ObjectStore* ObjectStore::LoadTextModule(const char* path, int32_t readOnly) {
    if (!StoreApplication::CanLoadText()) throw StoreException("Text load is not enabled.");
    const std::string full = FullPathName(path ? path : "");
    if (full.size() >= kMaxPath) throw StoreException("Path is longer than MAX_PATH");
    const tModuleIndex m = LoadModule(nullptr, 1, 0);
    ObjectStore* s = module[m];
    bool failed = false;
    std::string reason;
    textLoadFailure.clear();
    try {
        InterObj compiled;
        StoreApplication::LoadText(full.c_str(), compiled);
    } catch (const std::exception& e) {
        failed = true;
        reason = e.what();
    } catch (...) {
        failed = true;
    }
    if (failed) {
        // What the compiler reported stands before the question: the user
        // asked to give the module up must see why it failed, and nothing
        // else shows the errors once the failure is swallowed here.
        std::string text = reason.empty() ? std::string() : reason + "\n\n";
        text += "Unload module: " + full + "?";
        if (StoreApplication::MessageBox(nullptr, text.c_str(), "Load text module error",
                                         kUnloadQuestionStyle) == IDYES) {
            UnloadModule(m);
            StoreApplication::ModuleUnloaded();
            textLoadFailure = reason.empty() ? "its text did not load" : reason;
            return nullptr;
        }
    }
    s->flags_ &= static_cast<uint8_t>(~kUntitled);
    s->untitledSerial_ = 0;
    if (readOnly) s->flags_ |= kReadOnlyText;
    s->textPath_ = full;
    return s;
}

void ObjectStore::NotifyPreloads(tModuleIndex m) {
    if (!ValidIndex(m)) return;
    // A Preload member may change the list; the objects are taken first.
    std::vector<InterObj> objects;
    PreloadList& list = module[m]->preloads_;
    for (size_t i = 0; i < list.length(); ++i)
        if (InterObjRep* o = list[i].get(); o && !o->isDestroyed()) objects.emplace_back(o);
    for (InterObj& o : objects) {
        if (o.isNull()) continue;
        int handled = 0;
        o->evalIMember("Preload", nullptr, &handled);
    }
}

// ---- unloading ------------------------------------------------------------------------------

void ObjectStore::UnloadSet(const std::vector<tModuleIndex>& indexes) {
    InterObjRep::DeleteObjects();
    for (tModuleIndex m : indexes) StoreApplication::UnloadingModule(m);
    // Other modules' references into these modules become proxies or
    // descriptors again: first every module of the set makes the proxies
    // that stay behind, then each softens what stays.
    for (tModuleIndex m : indexes)
        if (ValidIndex(m)) SignatureRep::ConstructProxies(m);
    for (tModuleIndex m : indexes)
        if (ValidIndex(m)) SignatureRep::SoftenExternalReferences(m);
    UnloadingScope unloading;
    for (tModuleIndex m : indexes)
        if (ValidIndex(m)) unload(module[m], 0);
    if (openModuleIndex != DETACHED_MODULE && !ValidIndex(openModuleIndex))
        openModuleIndex = NextValidIndex(openModuleIndex);
}

void ObjectStore::UnloadModule(tModuleIndex m) {
    if (!ValidIndex(m)) return;
    const tModuleIndex set[] = {m, NO_MODULE};
    SignatureRep::NoExternalChildren(set);
    UnloadSet({m});
}

// A null store or list is a host's slip: raised, not asserted.
void ObjectStore::UnloadModule(ObjectStore* s) {
    if (!s) throw StoreException("ObjectStore::UnloadModule: no module was given");
    UnloadSet({s->index_});
}

void ObjectStore::UnloadModules(const tModuleIndex* indexes) {
    if (!indexes) throw StoreException("ObjectStore::UnloadModules: no list of modules was given");
    std::vector<tModuleIndex> set;
    for (const tModuleIndex* i = indexes; *i != NO_MODULE; ++i)
        if (ValidIndex(*i)) set.push_back(*i);
    std::vector<tModuleIndex> listed(set);
    listed.push_back(NO_MODULE);
    SignatureRep::NoExternalChildren(listed.data());
    UnloadSet(set);
}

void ObjectStore::UnloadAllModules(int32_t revert) {
    StoreApplication::UnloadingModule(NO_MODULE);
    VoidDescriptionTable::SetSkipReclaim(true);
    setLockState(LOCK_UNLOADING_ALL);
    InterObjRep::DeleteObjects();
    for (tModuleIndex m = NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE; m = NextValidIndex(m))
        unload(module[m], revert);
}

// ---- save as ----------------------------------------------------------------------------------

void ObjectStore::SaveAs(tModuleIndex m, const char* path, int asText) {
    if (m == DETACHED_MODULE) throw StoreException("Can't save detached module.");
    ObjectStore& s = Store(m, "ObjectStore::SaveAs");
    const std::string given = path ? path : "";
    // The reason, when there is one beyond the path, follows it.
    auto refuse = [&given](const std::string& reason = "") {
        throw StoreException(("Could not save as: " + given + (reason.empty() ? "" : " (" + reason + ")")).c_str(),
                             "ModuleSaveAsError");
    };
    const std::string target = FullPathName(given);
    if (target.empty() || target.size() >= kMaxPath) refuse("the name is empty or too long");
    // A module opened read-only saves nothing, so the new file would only be
    // a copy of the old one without the changes made since: refused rather
    // than reported as saved.
    if (!s.storage_->isWritable()) refuse("the module was opened read-only");

    // Another loaded module's file is never taken over: a module opened
    // read-only holds no lock on it, and a text module's text is the host's
    // to write. Two modules known by one file name could not be told apart.
    for (tModuleIndex other = NextValidIndex(DETACHED_MODULE); other != DETACHED_MODULE;
         other = NextValidIndex(other))
        if (other != m && SamePathIgnoringCase(GetModuleFileNameA(other), target))
            refuse("another loaded module has that file");

    const bool wasUntitled = (s.flags_ & kUntitled) != 0;
    const bool wasText = !s.textPath_.empty();
    const std::string oldFile = s.storage_->GetStoragePath();
    bool created = false;
    if (IsFolder(target)) refuse("it is a folder");
    if (FileExists(target) && FileHasReadOnlyAttribute(target)) refuse("the file is read-only");
    if (!FileExists(target)) {
        created = CreateNewFile(target);
        if (!created) refuse(SystemErrorText(LastSystemError()));
    }
    // Where the storage goes: the target itself, or for a text module a
    // temporary file beside its text (a text module keeps the one it has).
    std::string file;
    if (!asText)
        file = target;
    else if (!wasText)
        file = NewTempFile();
    const bool moves = !file.empty() && !SamePath(file, oldFile);
    if (moves) {
        try {
            s.storage_->SwitchTo(file.c_str());
        } catch (const StorageError& e) {
            if (created) RemoveFile(target);
            refuse(e.what());
        }
    }
    const std::string oldText = s.textPath_;
    const uint8_t oldFlags = s.flags_;
    s.textPath_ = asText ? target : std::string();
    s.flags_ &= static_cast<uint8_t>(~kReadOnlyText);
    try {
        Save(m);
        Commit(m);
    } catch (...) {
        // Back to the old file, so the module is where it was; when even that
        // fails it lives on in the new one.
        bool back = true;
        if (moves) {
            try {
                s.storage_->SwitchTo(oldFile.c_str());
            } catch (const StorageError&) {
                back = false;
            }
        }
        if (back) {
            s.textPath_ = oldText;
            s.flags_ = oldFlags;
            if (created) RemoveFile(target);
        } else {
            s.flags_ &= static_cast<uint8_t>(~kUntitled);
        }
        if (moves && asText && !wasText && back) RemoveFile(file);
        throw;
    }
    // The old file was a temporary one of this module: an untitled module's,
    // or the storage of a text module that is one no longer.
    if (moves && (wasUntitled || wasText)) RemoveFile(oldFile);
    if (wasUntitled) {
        s.flags_ &= static_cast<uint8_t>(~kUntitled);
        s.untitledSerial_ = 0;
    }
}

}  // namespace tq
