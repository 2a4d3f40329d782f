// The object store's name space of static objects, and its lists of dynamic
// and preload objects.
#include <cstring>
#include <string>

#include "store/errors/extexcep.h"
#include "store/interp/keytab.h"
#include "store/model/interobj.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"

namespace tq {

// ---- StaticGlobals -------------------------------------------------------------

StaticGlobals::Entry::Entry(IdString n, InterObjRep* o)
    : name(std::move(n)), object(PrimaryReference, o) {}

StaticGlobals::StaticGlobals() = default;
StaticGlobals::~StaticGlobals() = default;

StaticGlobals::Entry* StaticGlobals::find(std::string_view name) {
    auto it = entries_.find(name);
    return it == entries_.end() ? nullptr : &it->second;
}

bool StaticGlobals::add(const IdString& name, InterObjRep* obj) {
    const char* text = name;
    TQ_ASSERT(text != nullptr, "(const char*)id");
    return entries_.try_emplace(std::string(text), name, obj).second;
}

bool StaticGlobals::remove(std::string_view name) {
    auto it = entries_.find(name);
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

void StaticGlobals::clear() { entries_.clear(); }

// ---- the name space ------------------------------------------------------------

StaticGlobals& ObjectStore::detachedGlobals() {
    // Never destroyed: static objects of the detached module may outlive
    // every other static of the process.
    static StaticGlobals* globals = new StaticGlobals();
    return *globals;
}

DynamicObjectList& ObjectStore::detachedDynamics() {
    static DynamicObjectList* list = new DynamicObjectList();
    return *list;
}

StaticGlobals& ObjectStore::Dictionary(tModuleIndex m) {
    TQ_ASSERT(m == DETACHED_MODULE || ValidIndex(m),
              "i == DETACHED_MODULE || ValidIndex((tModuleIndex)i)");
    return m == DETACHED_MODULE ? detachedGlobals() : module[m]->statics_;
}

int32_t ObjectStore::StaticCount(tModuleIndex m) {
    if (m != DETACHED_MODULE && !ValidIndex(m)) return -1;
    return static_cast<int32_t>(Dictionary(m).count());
}

void ObjectStore::ValidateNewStaticGlobal(const char* name, tModuleIndex m) {
    if (!IsIdentifierValid(name)) throw InvalidObjectName(32708, name);
    if (Dictionary(m).find(name)) throw DuplicateName(name);
}

void ObjectStore::addStaticGlobal(InterObjRep& obj, tModuleIndex m) {
    const IdString& name = obj.idname();
    if (!Dictionary(m).add(name, &obj)) throw DuplicateName(static_cast<const char*>(name));
}

void ObjectStore::removeStaticGlobal(InterObjRep& obj, tModuleIndex m) {
    if (DeletingModule(m)) return;
    if (const char* name = obj.name()) {
        StaticGlobals::Entry* e = Dictionary(m).find(name);
        // Only the object's own entry goes: a name another object took
        // meanwhile stays.
        if (e && e->object.get() == &obj) Dictionary(m).remove(name);
    }
}

bool ObjectStore::findStatic(const char* name, InterObj& out) {
    if (!name || !*name) return false;
    for (tModuleIndex m = DETACHED_MODULE;; m = NextValidIndex(m)) {
        if (StaticGlobals::Entry* e = Dictionary(m).find(name)) {
            if (InterObjRep* o = e->object.get()) {
                out = o;
                return true;
            }
        }
        if (NextValidIndex(m) == DETACHED_MODULE) return false;
    }
}

bool ObjectStore::contains(const char* name) {
    if (!name || !*name) return false;
    if (InterObjRep::isAlias(name)) {
        try {
            InterObj o(name);
            return o.is();
        } catch (const StoreException&) {
            return false;
        }
    }
    for (tModuleIndex m = DETACHED_MODULE;; m = NextValidIndex(m)) {
        if (Dictionary(m).find(name)) return true;
        if (NextValidIndex(m) == DETACHED_MODULE) return false;
    }
}

bool ObjectStore::find(const char* path, InterObj& out) {
    if (!path || !*path) return false;
    const std::string_view text(path);
    // A generated alias starts with its root's name, which may itself hold
    // dots: the first step ends at the first "." after the "@".
    const size_t at = text.find('@');
    const size_t dot = text.find('.', at == std::string_view::npos ? 0 : at);
    const std::string first(text.substr(0, dot));
    InterObj root;
    if (InterObjRep::isAlias(first.c_str())) {
        try {
            root = InterObj(first.c_str());
        } catch (const NotFound&) {
            return false;
        }
    } else if (!findStatic(first.c_str(), root)) {
        return false;
    }
    if (dot == std::string_view::npos) {
        if (root.isNull()) return false;
        out = root;
        return true;
    }
    return lookupEmbed(root.get(), text.substr(dot + 1), out);
}

bool ObjectStore::findEmbed(InterObjRep* obj, const char* path, InterObj& out) {
    if (!obj || !path) return false;
    return lookupEmbed(obj, path, out);
}

bool ObjectStore::lookupEmbed(InterObjRep* obj, std::string_view path, InterObj& out) {
    InterObj current(obj);
    while (!path.empty()) {
        if (current.isNull()) return false;
        const size_t dot = path.find('.');
        const std::string step(path.substr(0, dot));
        path = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
        SignatureRep* owner = nullptr;
        SignatureRep* sig = current->signature();
        Field* f = sig ? sig->findField(step.c_str(), owner) : nullptr;
        if (!f || !f->isEmbed()) return false;
        InterObj next;
        f->get(next, *current, *owner);
        current = next;
    }
    if (current.isNull()) return false;
    out = current;
    return true;
}

void ObjectStore::Rename(const char* oldName, const char* newName) {
    InterObj obj;
    if (!findStatic(oldName, obj)) throw NotFound(32740, oldName);
    if (!obj->isAllAccessAllowed()) throw AccessDenied("ObjectStore::Rename()", 32755);
    if (!IsIdentifierValid(newName)) throw InvalidFieldName(32708, newName);
    if (contains(newName)) throw DuplicateName(newName);
    const tModuleIndex m = obj->moduleIndex();
    Dictionary(m).remove(oldName);
    obj->Name(newName);
    InterObjRep::DumpCache();
    StoreApplication::ObjectRenamed(obj.get());
}

// ---- dynamic objects ---------------------------------------------------------------

DynamicObjectList& ObjectStore::DynamicsList(tModuleIndex m) {
    TQ_ASSERT(m == DETACHED_MODULE || ValidIndex(m),
              "i == DETACHED_MODULE || ValidIndex((tModuleIndex)i)");
    return m == DETACHED_MODULE ? detachedDynamics() : module[m]->dynamics_;
}

int32_t ObjectStore::DynamicCount(tModuleIndex m) {
    if (m != DETACHED_MODULE && !ValidIndex(m)) return -1;
    return static_cast<int32_t>(DynamicsList(m).length());
}

void ObjectStore::addDynamicObject(InterObjRep& obj, tModuleIndex m) {
    TQ_ASSERT(m == DETACHED_MODULE || module[m] != nullptr, "module[i]");
    DynamicObjectList& list = DynamicsList(m);
    TQ_ASSERT(!list.contains(&obj), "!olist->contains(val)");
    list.append(&obj);
}

void ObjectStore::removeDynamicObject(InterObjRep& obj, tModuleIndex m) {
    if (DeletingModule(m)) return;
    if (m != DETACHED_MODULE && !ValidIndex(m)) return;
    DynamicObjectList& list = DynamicsList(m);
    list.remove(&obj);
    TQ_ASSERT(!list.contains(&obj), "!olist.contains(val)");
}

// ---- preloads ------------------------------------------------------------------------

void ObjectStore::RequestPreload(InterObjRep* obj) {
    if (!obj || obj->isDetached()) return;
    const tModuleIndex m = obj->moduleIndex();
    TQ_ASSERT(ValidIndex(m), "ValidIndex(i)");
    PreloadList& list = module[m]->preloads_;
    if (list.contains(obj)) return;
    list.append(obj);
    obj->changed();
}

bool ObjectStore::RemovePreload(InterObjRep* obj) {
    if (!obj || obj->isDetached() || !ValidIndex(obj->moduleIndex())) return false;
    if (!module[obj->moduleIndex()]->preloads_.remove(obj)) return false;
    obj->changed();
    return true;
}

bool ObjectStore::IsPreload(InterObjRep* obj) {
    if (!obj || obj->isDetached() || !ValidIndex(obj->moduleIndex())) return false;
    return module[obj->moduleIndex()]->preloads_.contains(obj);
}

}  // namespace tq
