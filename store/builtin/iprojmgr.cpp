// iProjectManager: the open projects and the current one (iproject.h).
#include <algorithm>
#include <string>
#include <vector>

#include "platform/util/pathsrch.h"
#include "platform/util/pushdir.h"
#include "store/builtin/iobjstor.h"
#include "store/builtin/iproject.h"
#include "store/errors/extexcep.h"

namespace tq {
namespace {

IInterObj* MakeProjectManager(DllServer* server) { return new iProjectManager(server); }

// Never destroyed, like the store's other process-wide state.
GroupObjectList& Projects() {
    static auto* const list = new GroupObjectList;
    return *list;
}
int16_t currentProject = -1;

}  // namespace

PublishedClass& iProjectManager::Class() {
    static PublishedClass* const cls = new PublishedClass(
        "Tessaro.ProjectManager", "ProjectManager", "{A7231B89-E641-4B10-AD5F-5F05F11584FA}", &MakeProjectManager);
    return *cls;
}

iProjectManager::iProjectManager(DllServer* server) : IInterObj(server) {}

iProjectManager::~iProjectManager() = default;

// ---- the list ---------------------------------------------------------------------------------

GroupObjectList& iProjectManager::OpenProjects() {
    GroupObjectList& list = Projects();
    // A project whose object went (its module was unloaded) or that was
    // closed behind the list's back is open no longer; the current index
    // keeps naming the same project, or the new last one.
    InterObjRep* current = currentProject >= 0 && static_cast<size_t>(currentProject) < list.length()
                               ? list[static_cast<size_t>(currentProject)].get()
                               : nullptr;
    list.removeIf([](const Faultp<InterObjRep>& r) {
        iProject* p = iProject::Of(r.get());
        return !p || !p->isOpen();
    });
    int32_t at = -1;
    for (size_t i = 0; current && i < list.length(); ++i)
        if (list[i].get() == current) at = static_cast<int32_t>(i);
    if (at < 0 && currentProject >= 0) at = static_cast<int32_t>(list.length()) - 1;
    currentProject = static_cast<int16_t>(at);
    return list;
}

int16_t iProjectManager::CurrentProjectIndex() {
    OpenProjects();
    return currentProject;
}

InterObjRep* iProjectManager::CurrentProject() {
    GroupObjectList& list = OpenProjects();
    return currentProject >= 0 ? list[static_cast<size_t>(currentProject)].get() : nullptr;
}

int32_t iProjectManager::Enter(InterObjRep* project) {
    GroupObjectList& list = Projects();
    for (size_t i = 0; i < list.length(); ++i)
        if (list[i].get() == project) return static_cast<int32_t>(i);
    list.append(project);
    return static_cast<int32_t>(list.length()) - 1;
}

void iProjectManager::MakeCurrent(int32_t index) {
    GroupObjectList& list = Projects();
    if (index < 0 || static_cast<size_t>(index) >= list.length()) {
        currentProject = -1;
        return;
    }
    currentProject = static_cast<int16_t>(index);
    if (iProject* p = iProject::Of(list[static_cast<size_t>(index)].get())) p->makeModuleCurrent();
}

bool iProjectManager::HeldElsewhere(const InterObjRep* module, const InterObjRep* except) {
    GroupObjectList& list = OpenProjects();
    for (size_t i = 0; i < list.length(); ++i) {
        InterObjRep* o = list[i].get();
        iProject* p = iProject::Of(o);
        if (o != except && p && p->holds(module)) return true;
    }
    return false;
}

InterObj iProjectManager::OpenProjectFile(const char* path) {
    const std::string full = FullPathName(path ? path : "");
    if (full.empty()) throw StoreException("Could not read project file: (no file name was given)");
    const ProjectFile file = ReadProjectFile(full);
    if (file.name.empty() || file.modulePath.empty()) return InterObj();
    const std::string folder = ParentFolder(full);
    // What this call loads goes again when the file names no project.
    std::vector<tModuleIndex> before;
    for (tModuleIndex m = ObjectStore::NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE;
         m = ObjectStore::NextValidIndex(m))
        before.push_back(m);
    InterObj found;
    {
        PushDir in(folder.c_str());
        iModuleManager::LoadModules(file.modulePath.c_str(), 1, nullptr);
        ObjectStore::find(file.name.c_str(), found);
    }
    iProject* project = iProject::Of(found.get());
    if (!project) {
        std::vector<tModuleIndex> loaded;
        for (tModuleIndex m = ObjectStore::NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE;
             m = ObjectStore::NextValidIndex(m))
            if (std::find(before.begin(), before.end(), m) == before.end()) loaded.push_back(m);
        loaded.push_back(NO_MODULE);
        found = InterObj();
        ObjectStore::UnloadModules(loaded.data());
        iObjectModule::RefreshList();
        throw StoreException("Could not open project file: " + full + " (its modules hold no Project named '" +
                             file.name + "')");
    }
    project->pdSetProjectFileName(full.c_str());
    project->pdSetModulePath(file.modulePath.c_str());
    if (!project->isOpen()) project->completeOpening(folder);
    return found;
}

// ---- members ----------------------------------------------------------------------------------

void iProjectManager::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        sig.addField(CompProcDataField::make("CurrentIndex", IDT_SHORT, Method(&iProjectManager::pdSetCurrentIndex),
                                             Method(&iProjectManager::pdGetCurrentIndex)),
                     nullptr, 0);
        sig.addField(CompProcDataField::make("CurrentProject", IDT_OBJECT,
                                             Method(&iProjectManager::pdSetCurrentProject),
                                             Method(&iProjectManager::pdGetCurrentProject)),
                     nullptr, 0);
        sig.addField(
            CompProcDataField::make("ProjectCount", IDT_SHORT, NoSetter, Method(&iProjectManager::pdGetProjectCount)),
            nullptr, 0);
        ParseCppField("Function OpenProject(ByVal filename As String) As Project", sig,
                      &iProjectManager::imOpenProject);
        ParseCppField("Function Project(ByVal index As Integer) As Project", sig, &iProjectManager::imProject);
        ParseCppField("Function FirstProjectContainingModule(m As ObjectModule) As Project", sig,
                      &iProjectManager::imFirstProjectContainingModule);
        ParseCppField("Sub CloseCurrentProject()", sig, &iProjectManager::imCloseCurrentProject);
    });
}

int16_t iProjectManager::pdGetCurrentIndex() { return CurrentProjectIndex(); }

void iProjectManager::pdSetCurrentIndex(int16_t v) {
    GroupObjectList& list = OpenProjects();
    if (v < 0 || static_cast<size_t>(v) >= list.length()) return;
    const InterObj project(list[static_cast<size_t>(v)].get());
    pdSetCurrentProject(&project);
}

InterObj iProjectManager::pdGetCurrentProject() { return InterObj(CurrentProject()); }

void iProjectManager::pdSetCurrentProject(const InterObj* project) {
    InterObjRep* o = project ? project->get() : nullptr;
    iProject* p = iProject::Of(o);
    if (!p) {
        currentProject = -1;
        return;
    }
    if (!p->isOpen()) p->open();
    if (!p->isOpen()) return;
    MakeCurrent(Enter(o));
}

int16_t iProjectManager::pdGetProjectCount() { return static_cast<int16_t>(OpenProjects().length()); }

InterObj iProjectManager::imOpenProject(const char* fileName) { return OpenProjectFile(fileName); }

InterObj iProjectManager::imProject(int16_t index) {
    GroupObjectList& list = OpenProjects();
    if (index < 0 || static_cast<size_t>(index) >= list.length()) return InterObj();
    return InterObj(list[static_cast<size_t>(index)].get());
}

InterObj iProjectManager::imFirstProjectContainingModule(const InterObj* module) {
    const InterObjRep* m = module ? module->get() : nullptr;
    GroupObjectList& list = OpenProjects();
    for (size_t i = 0; m && i < list.length(); ++i)
        if (iProject* p = iProject::Of(list[i].get()); p && p->holds(m)) return InterObj(list[i].get());
    return InterObj();
}

void iProjectManager::imCloseCurrentProject() {
    GroupObjectList& list = OpenProjects();
    if (currentProject < 0) return;
    const InterObj project(list[static_cast<size_t>(currentProject)].get());
    iProject* p = iProject::Of(project.get());
    // Closing checks first that every module can go: a refusal leaves the
    // project open and current.
    if (p && !p->close()) return;
    list.removeIf([&](const Faultp<InterObjRep>& r) { return r.get() == project.get() || r.get() == nullptr; });
    if (static_cast<size_t>(currentProject) >= list.length())
        currentProject = static_cast<int16_t>(list.length()) - 1;
    if (currentProject >= 0) MakeCurrent(currentProject);
}

}  // namespace tq
