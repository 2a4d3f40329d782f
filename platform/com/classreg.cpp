#include "platform/com/classreg.h"

#include <strings.h>

#include <algorithm>

namespace tq {
namespace {

struct Registry {
    std::vector<std::unique_ptr<ClassEntry>> entries;
    std::string publishingLibrary;
    ClassRegistry::PublishingScope* scope = nullptr;
};

// Never destroyed: classes may be looked up while the process ends.
Registry& TheRegistry() {
    static auto* const registry = new Registry;
    return *registry;
}

bool SameProgId(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

const ClassEntry& ClassRegistry::Register(const char* progId, REFCLSID clsid,
                                          ClassCreator creator) {
    Registry& r = TheRegistry();
    const std::string name = progId ? progId : "";
    // Whatever held this name or this id before is replaced; if they were
    // two different entries, the one keeping its place is the first found.
    ClassEntry* kept = nullptr;
    for (auto it = r.entries.begin(); it != r.entries.end();) {
        ClassEntry& e = **it;
        const bool clash = e.clsid == clsid || (!name.empty() && SameProgId(e.progId, name.c_str()));
        if (clash && !kept) {
            kept = &e;
            ++it;
        } else if (clash) {
            it = r.entries.erase(it);
        } else {
            ++it;
        }
    }
    if (!kept) {
        r.entries.push_back(std::make_unique<ClassEntry>());
        kept = r.entries.back().get();
    }
    kept->progId = name;
    kept->clsid = clsid;
    kept->creator = std::move(creator);
    kept->library = r.publishingLibrary;
    if (r.scope) r.scope->registered_.push_back(clsid);
    return *kept;
}

bool ClassRegistry::Unregister(REFCLSID clsid) {
    auto& entries = TheRegistry().entries;
    const auto it = std::find_if(entries.begin(), entries.end(),
                                 [&](const auto& e) { return e->clsid == clsid; });
    if (it == entries.end()) return false;
    entries.erase(it);
    return true;
}

const ClassEntry* ClassRegistry::FindByProgId(const char* progId) {
    if (!progId || !*progId) return nullptr;
    for (const auto& e : TheRegistry().entries) {
        if (SameProgId(e->progId, progId)) return e.get();
    }
    return nullptr;
}

const ClassEntry* ClassRegistry::FindByClsid(REFCLSID clsid) {
    for (const auto& e : TheRegistry().entries) {
        if (e->clsid == clsid) return e.get();
    }
    return nullptr;
}

std::optional<CLSID> ClassRegistry::CLSIDFromProgID(const char* progId) {
    const ClassEntry* e = FindByProgId(progId);
    return e ? std::optional<CLSID>(e->clsid) : std::nullopt;
}

std::string ClassRegistry::ProgIDFromCLSID(REFCLSID clsid) {
    const ClassEntry* e = FindByClsid(clsid);
    return e ? e->progId : std::string();
}

std::vector<const ClassEntry*> ClassRegistry::Entries() {
    std::vector<const ClassEntry*> all;
    for (const auto& e : TheRegistry().entries) all.push_back(e.get());
    return all;
}

size_t ClassRegistry::Count() { return TheRegistry().entries.size(); }

const std::string& ClassRegistry::PublishingLibrary() { return TheRegistry().publishingLibrary; }

ClassRegistry::PublishingScope::PublishingScope(std::string library)
    : previous_(std::move(TheRegistry().publishingLibrary)), outer_(TheRegistry().scope) {
    TheRegistry().publishingLibrary = std::move(library);
    TheRegistry().scope = this;
}

ClassRegistry::PublishingScope::~PublishingScope() {
    TheRegistry().publishingLibrary = std::move(previous_);
    TheRegistry().scope = outer_;
}

void ClassRegistry::PublishingScope::abandon() noexcept {
    while (!undo_.empty()) {
        std::function<void()> step = std::move(undo_.back());
        undo_.pop_back();
        try {
            step();
        } catch (...) {
            // Undoing goes on: what one step leaves, the others still take back.
        }
    }
    for (const CLSID& id : registered_) Unregister(id);
    registered_.clear();
}

void ClassRegistry::OnAbandon(std::function<void()> undo) {
    if (PublishingScope* s = TheRegistry().scope) s->undo_.push_back(std::move(undo));
}

}  // namespace tq
