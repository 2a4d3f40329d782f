// iProject and iProjectManager: a named, ordered set of modules that opens
// together, and the list of open projects.
//
// A Project names its modules by a module path (a ';' list of module files),
// opens them all from the project's folder, keeps one of them current, and
// is written to and read from a project file. ProjectManager keeps the open
// projects and the current one; opening a project makes it current, and its
// current module becomes the store's.
//
// Project file (text, one entry a line, '\n' ends each line):
//
//   line    meaning
//   1       the Project object's name (its alias), which the file's modules
//           hold
//   2..     one module path entry a line, in project order
//
// A line longer than 255 characters, a line holding a control character or
// ';', an entry that makes a path of kMaxPath (260) characters or more from
// the file's folder, or a first line that is no object name makes the file
// no project file: reading it raises
// StoreException naming the file, the line and what is wrong. Blank lines
// are passed over.
//
// PO_Write layout (after the revision byte, iintobj.h), revision 1 (a record
// of revision 0 has the same layout):
//
//   offset  width   meaning
//   0       string  modulePath, the ';' list (oclstream.h string form)
//   ...     string  projectFileName (empty: none)
//   ...     2       currentIndex, signed
//
// Invariants:
//  1. A project is open when its open bit is set and its module list is not
//     empty; an open project is in the process's list of open projects.
//  2. Opening is all or nothing for the project: when one entry of the path
//     has no loaded module afterwards, the module list is emptied and the
//     project stays closed. A module that fails to load raises the store's
//     failure, and the store leaves none of that load's modules loaded.
//  3. Closing a project unloads its modules only when every one of them may
//     go together with the others (checked before anything changes); a
//     module another open project holds stays loaded.
//  4. The project file is replaced whole (written beside, renamed over), so
//     a crash leaves the old file or the new one.
#pragma once

#include <cstdint>
#include <string>

#include "platform/util/pathstr.h"
#include "store/builtin/publish.h"
#include "store/persist/objstore.h"

namespace tq {

class ValString;

// What a project file holds.
struct ProjectFile {
    std::string name;        // its first line
    std::string modulePath;  // its entries joined with ';'
};

// The folder of a full path ("/a/b.tqp" -> "/a", "/b" -> "/"); empty for a
// name without a folder.
std::string ParentFolder(const std::string& full);

// Reads the project file at path; StoreException naming the file and the
// reason when it cannot be read or is no project file (iproject.h).
ProjectFile ReadProjectFile(const std::string& path);

class iProject : public IInterObj {
public:
    enum : uint8_t { kOpen = 0x01 };
    static constexpr uint32_t kRevision = 1;

    static PublishedClass& Class();
    static InterObjRep* PO_InitObject() { return Class().PO_InitObject(); }
    static InterObjRep* PO_GetObject() { return Class().PO_GetObject(); }

    explicit iProject(DllServer* server);

    // The project part of obj; null when obj is no Project.
    static iProject* Of(InterObjRep* obj);

    // ---- what ProjectManager uses ----------------------------------------------------

    bool isOpen();
    // Opens the project (not open yet) from its ProjectDirectory.
    void open();
    // Steps 3 to 5 of opening, once the modules are loaded: the module list
    // from the path, the current index, the open bit, the open-projects list
    // and the event Open. folder becomes the project's directory.
    void completeOpening(const std::string& folder);
    // Takes out the modules another open project holds, forgets the folder,
    // clears the open bit and unloads the rest (invariant 3). False, with
    // nothing changed, while the debugger holds a program suspended.
    bool close();
    // Makes the project's current module the store's current module.
    void makeModuleCurrent();
    bool holds(const InterObjRep* module);

    // ---- the protocol --------------------------------------------------------------

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return kRevision; }
    void PO_Read(OCLStream& in, uint32_t revision) override;
    void PO_Write(OCLStream& out) override;
    const char* className() const override { return "Project"; }
    void clone(const IInterObj& other) override;

    // ---- properties ----------------------------------------------------------------

    ValString pdGetModulePath();
    void pdSetModulePath(const char* path);
    int16_t pdGetModulePathCount();
    int16_t pdGetModuleCount();
    int16_t pdGetCurrentIndex();
    void pdSetCurrentIndex(int16_t v);
    InterObj pdGetCurrentModule();
    void pdSetCurrentModule(const InterObj* module);
    ValString pdGetProjectDirectory();
    ValString pdGetProjectFileName();
    void pdSetProjectFileName(const char* name);
    int32_t pdGetProjectFileExists();
    int32_t pdGetProjectFileMatchesMe();
    ValString pdGetProjectFileModulePath();
    ValString pdGetProjectFileProjectName();
    int32_t pdGetIsCurrent();
    int32_t pdGetIsOpen();

    // ---- methods -------------------------------------------------------------------

    void imOpenProject();
    InterObj imModule(int16_t index);
    int16_t imModuleIndex(const InterObj* module);
    ValString imModulePathAt(int16_t index);
    int16_t imInsertModule(const InterObj* module, int16_t index);
    void imRemoveModule(const InterObj* module);
    void imSyncModulePath();
    void imWriteProjectFile();
    int16_t imTextUnload(const char* indent, ValString* cmds);

protected:
    ~iProject() override;

private:
    // Drops the entries that are no longer live module objects.
    void cleanModules();
    // The project file's contents; empty when there is no file.
    ProjectFile fileContents();
    std::string directory();

    uint8_t projectFlags_ = 0;
    PathString modulePath_;
    std::string projectFileName_;
    std::string projectDirectory_;
    GroupObjectList modules_;
    int16_t currentIndex_ = -1;
};

class iProjectManager final : public IInterObj {
public:
    static constexpr uint32_t kRevision = 1;

    static PublishedClass& Class();
    static InterObjRep* PO_InitObject() { return Class().PO_InitObject(); }
    static InterObjRep* PO_GetObject() { return Class().PO_GetObject(); }

    explicit iProjectManager(DllServer* server);

    // ---- the open projects (the process's) -------------------------------------------

    // The list, without projects that are gone or closed.
    static GroupObjectList& OpenProjects();
    static int16_t CurrentProjectIndex();
    static InterObjRep* CurrentProject();
    // Appends project when it is not in the list; its position.
    static int32_t Enter(InterObjRep* project);
    static void MakeCurrent(int32_t index);
    // Whether an open project other than except holds module.
    static bool HeldElsewhere(const InterObjRep* module, const InterObjRep* except);
    // Opens the project file at path (see ProjectManager.OpenProject).
    static InterObj OpenProjectFile(const char* path);

    // ---- the protocol --------------------------------------------------------------

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return kRevision; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "ProjectManager"; }

    // ---- members -------------------------------------------------------------------

    int16_t pdGetCurrentIndex();
    void pdSetCurrentIndex(int16_t v);
    InterObj pdGetCurrentProject();
    void pdSetCurrentProject(const InterObj* project);
    int16_t pdGetProjectCount();
    InterObj imOpenProject(const char* fileName);
    InterObj imProject(int16_t index);
    InterObj imFirstProjectContainingModule(const InterObj* module);
    void imCloseCurrentProject();

private:
    ~iProjectManager() override;
};

}  // namespace tq
