#include "store/builtin/iproject.h"

#include <cerrno>
#include <string>
#include <vector>

#include "platform/storage/filesave.h"
#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/fileutil.h"
#include "platform/util/pathsrch.h"
#include "platform/util/pushdir.h"
#include "platform/util/strutil.h"
#include "platform/util/syserror.h"
#include "store/builtin/iobjstor.h"
#include "store/errors/extexcep.h"
#include "store/model/enum.h"
#include "store/model/sigrep.h"
#include "store/vals.h"

namespace tq {
namespace {

IInterObj* MakeProject(DllServer* server) { return new iProject(server); }

constexpr size_t kLineLimit = 255;
// A project file is a few lines; anything much longer is no project file.
constexpr size_t kFileLimit = 1 << 20;

int32_t Truth(bool b) { return b ? -1 : 0; }

// Whether text could name an object: identifiers joined by '.'.
bool IsObjectName(const std::string& text) {
    bool atStart = true;
    for (const char c : text) {
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool digit = c >= '0' && c <= '9';
        if (c == '.') {
            if (atStart) return false;
            atStart = true;
        } else if (letter || (!atStart && (digit || c == '_'))) {
            atStart = false;
        } else {
            return false;
        }
    }
    return !atStart;
}

// Registers the folder of a module named by its full path on TESSARO_PATH,
// so that the project's path can name it by its file name alone.
void RegisterModuleFolder(const std::string& file) {
    std::string folder = ParentFolder(file);
    if (folder.empty()) return;
    RegistryEnvPathString search("TESSARO_PATH");
    EnvironmentPathString path("PATH");
    if (search.contains(folder) || path.contains(folder)) return;
    search.prepend(folder);
    try {
        search.SetVariable();
    } catch (const XException& e) {
        throw StoreException(e.what(), "SystemError");
    }
}

}  // namespace

std::string ParentFolder(const std::string& full) {
    const size_t slash = full.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : full.substr(0, slash);
}

ProjectFile ReadProjectFile(const std::string& path) {
    auto refuse = [&path](const std::string& reason) {
        throw StoreException("Could not read project file: " + path + " (" + reason + ")");
    };
    std::string text;
    if (!ReadSmallFile(path, kFileLimit, text)) {
        const int code = errno;
        refuse(code == EISDIR ? "it is not a file"
                              : code == EFBIG ? "it is too long to be a project file" : SystemErrorText(code));
    }
    ProjectFile out;
    PathString modules;
    size_t lineNo = 0, start = 0;
    bool named = false;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string at = "line " + std::to_string(lineNo) + ": ";
        if (line.size() > kLineLimit) refuse(at + "longer than 255 characters");
        for (const char c : line)
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') refuse(at + "not text");
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        line = line.substr(first, line.find_last_not_of(" \t") - first + 1);
        if (!named) {
            if (!IsObjectName(line)) refuse(at + "'" + line + "' is no object name");
            out.name = line;
            named = true;
            continue;
        }
        if (line.find(';') != std::string::npos) refuse(at + "a module entry holds ';'");
        // An entry is opened from the project's folder: what counts is the
        // path it makes there.
        const std::string full = line[0] == '/' ? line : ParentFolder(path) + "/" + line;
        if (full.size() >= kMaxPath) refuse(at + "the module path is longer than 259 characters");
        modules.append(line);
    }
    out.modulePath = modules.text();
    return out;
}

// ---- the class --------------------------------------------------------------------------------

PublishedClass& iProject::Class() {
    static PublishedClass* const cls =
        new PublishedClass("Tessaro.Project", "Project", "{A7231B88-E641-4B10-AD5F-5F05F11584FA}", &MakeProject);
    return *cls;
}

iProject::iProject(DllServer* server) : IInterObj(server) {}

iProject::~iProject() = default;

iProject* iProject::Of(InterObjRep* obj) {
    if (!obj || obj->isDestroyed()) return nullptr;
    return dynamic_cast<iProject*>(obj->compiledPart());
}

void iProject::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        EnumRep* boolean = EnsureBooleanEnum();
        auto property = [&](const char* name, IdType type, const MemberPointer& setter, const MemberPointer& getter) {
            sig.addField(CompProcDataField::make(name, type, setter, getter), nullptr, 0);
        };
        auto truth = [&](const char* name, const MemberPointer& getter) {
            sig.addField(CompProcEnumField::make(name, boolean, NoSetter, getter), nullptr, 0);
        };
        property("ModulePath", IDT_STRING, Method(&iProject::pdSetModulePath), Method(&iProject::pdGetModulePath));
        property("ModulePathCount", IDT_SHORT, NoSetter, Method(&iProject::pdGetModulePathCount));
        property("ModuleCount", IDT_SHORT, NoSetter, Method(&iProject::pdGetModuleCount));
        property("CurrentIndex", IDT_SHORT, Method(&iProject::pdSetCurrentIndex), Method(&iProject::pdGetCurrentIndex));
        property("CurrentModule", IDT_OBJECT, Method(&iProject::pdSetCurrentModule),
                 Method(&iProject::pdGetCurrentModule));
        property("ProjectDirectory", IDT_STRING, NoSetter, Method(&iProject::pdGetProjectDirectory));
        property("ProjectFileName", IDT_STRING, Method(&iProject::pdSetProjectFileName),
                 Method(&iProject::pdGetProjectFileName));
        truth("ProjectFileExists", Method(&iProject::pdGetProjectFileExists));
        truth("ProjectFileMatchesMe", Method(&iProject::pdGetProjectFileMatchesMe));
        property("ProjectFileModulePath", IDT_STRING, NoSetter, Method(&iProject::pdGetProjectFileModulePath));
        property("ProjectFileProjectName", IDT_STRING, NoSetter, Method(&iProject::pdGetProjectFileProjectName));
        truth("IsCurrent", Method(&iProject::pdGetIsCurrent));
        truth("IsOpen", Method(&iProject::pdGetIsOpen));
        ParseCppField("Sub OpenProject()", sig, &iProject::imOpenProject);
        ParseCppField("Function Module(ByVal index As Integer) As ObjectModule", sig, &iProject::imModule);
        ParseCppField("Function ModuleIndex(module As ObjectModule) As Integer", sig, &iProject::imModuleIndex);
        ParseCppField("Function ModulePathAt(ByVal index As Integer) As String", sig, &iProject::imModulePathAt);
        ParseCppField("Function InsertModule(module As ObjectModule, ByVal index As Integer) As Integer", sig,
                      &iProject::imInsertModule);
        ParseCppField("Sub RemoveModule(module As ObjectModule)", sig, &iProject::imRemoveModule);
        ParseCppField("Sub SyncModulePath()", sig, &iProject::imSyncModulePath);
        ParseCppField("Sub WriteProjectFile()", sig, &iProject::imWriteProjectFile);
        ParseCppField("Function TextUnload(ByVal indent As String, cmds As String) As Integer", sig,
                      &iProject::imTextUnload);
        ParseCppEvent("Event Open()", sig);
    });
}

// ---- state ------------------------------------------------------------------------------------

void iProject::cleanModules() {
    iObjectModule::RefreshList();
    modules_.removeIf([](const Faultp<InterObjRep>& r) {
        iObjectModule* m = iObjectModule::Of(r.get());
        return !m || m->selector() == NO_MODULE;
    });
}

bool iProject::isOpen() {
    if (!(projectFlags_ & kOpen)) return false;
    cleanModules();
    return modules_.length() > 0;
}

bool iProject::holds(const InterObjRep* module) {
    if (!module) return false;
    for (size_t i = 0; i < modules_.length(); ++i)
        if (modules_[i].get() == module) return true;
    return false;
}

ProjectFile iProject::fileContents() {
    if (projectFileName_.empty() || !FileExists(FullPathName(projectFileName_))) return {};
    return ReadProjectFile(FullPathName(projectFileName_));
}

std::string iProject::directory() {
    if (isOpen()) return projectDirectory_;
    const std::string full = projectFileName_.empty() ? std::string() : FullPathName(projectFileName_);
    if (!full.empty() && FileExists(full)) return ParentFolder(full);
    return FullPathName(".");
}

void iProject::makeModuleCurrent() {
    cleanModules();
    if (currentIndex_ < 0 || static_cast<size_t>(currentIndex_) >= modules_.length()) return;
    iObjectModule::MakeCurrent(iObjectModule::PositionOf(modules_[static_cast<size_t>(currentIndex_)].get()));
}

// ---- opening and closing ----------------------------------------------------------------------

void iProject::open() {
    if (isOpen()) return;
    const std::string folder = directory();
    {
        PushDir in(folder.c_str());
        if (iModuleManager::LoadModules(modulePath_.c_str(), 1, nullptr).isNull()) return;
    }
    completeOpening(folder);
}

void iProject::completeOpening(const std::string& folder) {
    {
        // Entries name modules as seen from the project's folder.
        PushDir in(folder.c_str());
        GroupObjectList found;
        for (size_t i = 0; i < modulePath_.count(); ++i) {
            const tModuleIndex m = ObjectStore::FindModule(modulePath_.entry(i).c_str());
            InterObjRep* o = ObjectStore::ValidIndex(m) ? iObjectModule::FindOrMake(m) : nullptr;
            if (!o) {
                modules_.clear();
                projectFlags_ &= static_cast<uint8_t>(~kOpen);
                return;
            }
            found.append(o);
        }
        for (size_t i = 0; i < found.length(); ++i)
            if (!holds(found[i].get())) modules_.append(found[i].get());
    }
    if (modules_.length() == 0) return;
    if (currentIndex_ < 0 || static_cast<size_t>(currentIndex_) >= modules_.length())
        currentIndex_ = static_cast<int16_t>(modules_.length() - 1);
    projectFlags_ |= kOpen;
    projectDirectory_ = folder;
    iProjectManager::MakeCurrent(iProjectManager::Enter(owner()));
    if (InterObjRep* me = owner()) me->evalIEvent("Open", nullptr, 0);
}

bool iProject::close() {
    if (iObjectModule::RefuseWhileSuspended()) return false;
    cleanModules();
    std::vector<InterObj> going;
    for (size_t i = 0; i < modules_.length(); ++i) {
        InterObjRep* m = modules_[i].get();
        if (!iProjectManager::HeldElsewhere(m, owner())) going.emplace_back(m);
    }
    // Every module that goes must be able to go with the others, before
    // anything changes.
    std::vector<tModuleIndex> set;
    for (InterObj& m : going)
        if (iObjectModule* part = iObjectModule::Of(m.get())) set.push_back(part->selector());
    for (InterObj& m : going)
        if (iObjectModule* part = iObjectModule::Of(m.get())) part->checkUnload(true, &set);
    modules_.clear();
    projectDirectory_.clear();
    projectFlags_ &= static_cast<uint8_t>(~kOpen);
    // The project itself may go with its module, so nothing of it is
    // touched from here on.
    iObjectModule::UnloadSet(going);
    return true;
}

// ---- properties -------------------------------------------------------------------------------

ValString iProject::pdGetModulePath() { return ValString(modulePath_.text()); }

void iProject::pdSetModulePath(const char* path) {
    modulePath_.set(path ? path : "");
    markChanged();
    if (projectFlags_ & kOpen) {
        projectFlags_ &= static_cast<uint8_t>(~kOpen);
        modules_.clear();
        open();
    }
}

int16_t iProject::pdGetModulePathCount() { return static_cast<int16_t>(modulePath_.count()); }

int16_t iProject::pdGetModuleCount() {
    cleanModules();
    return static_cast<int16_t>(modules_.length());
}

int16_t iProject::pdGetCurrentIndex() { return currentIndex_; }

void iProject::pdSetCurrentIndex(int16_t v) {
    if (v < 0 || static_cast<size_t>(v) >= modulePath_.count()) return;
    currentIndex_ = v;
    markChanged();
    if (iProjectManager::CurrentProject() == owner()) makeModuleCurrent();
}

InterObj iProject::pdGetCurrentModule() { return imModule(currentIndex_); }

void iProject::pdSetCurrentModule(const InterObj* module) {
    const int16_t at = imModuleIndex(module);
    if (at < 0) return;
    currentIndex_ = at;
    markChanged();
    if (iProjectManager::CurrentProject() == owner()) makeModuleCurrent();
}

ValString iProject::pdGetProjectDirectory() { return ValString(directory()); }

ValString iProject::pdGetProjectFileName() { return ValString(projectFileName_); }

void iProject::pdSetProjectFileName(const char* name) {
    projectFileName_ = name ? name : "";
    markChanged();
}

int32_t iProject::pdGetProjectFileExists() {
    return Truth(!projectFileName_.empty() && FileExists(FullPathName(projectFileName_)));
}

int32_t iProject::pdGetProjectFileMatchesMe() {
    const ProjectFile f = fileContents();
    InterObjRep* me = owner();
    if (!me || f.name != me->alias()) return 0;
    const PathString mine(modulePath_.c_str());
    return Truth(CompareIgnoringCase(f.modulePath, mine.text()) == 0);
}

ValString iProject::pdGetProjectFileModulePath() { return ValString(fileContents().modulePath); }

ValString iProject::pdGetProjectFileProjectName() { return ValString(fileContents().name); }

int32_t iProject::pdGetIsCurrent() { return Truth(owner() && iProjectManager::CurrentProject() == owner()); }

int32_t iProject::pdGetIsOpen() { return Truth(isOpen()); }

// ---- methods ----------------------------------------------------------------------------------

void iProject::imOpenProject() { open(); }

InterObj iProject::imModule(int16_t index) {
    cleanModules();
    if (index < 0 || static_cast<size_t>(index) >= modules_.length()) return InterObj();
    return InterObj(modules_[static_cast<size_t>(index)].get());
}

int16_t iProject::imModuleIndex(const InterObj* module) {
    cleanModules();
    const InterObjRep* m = module ? module->get() : nullptr;
    for (size_t i = 0; m && i < modules_.length(); ++i)
        if (modules_[i].get() == m) return static_cast<int16_t>(i);
    return -1;
}

ValString iProject::imModulePathAt(int16_t index) {
    return ValString(index < 0 ? std::string() : modulePath_.entry(static_cast<size_t>(index)));
}

int16_t iProject::imInsertModule(const InterObj* module, int16_t index) {
    cleanModules();
    InterObjRep* m = module ? module->get() : nullptr;
    iObjectModule* part = iObjectModule::Of(m);
    if (!part || part->selector() == DETACHED_MODULE || part->selector() == NO_MODULE || modules_.length() == 0)
        return -1;
    const int16_t had = imModuleIndex(module);
    if (had >= 0) return had;
    size_t at = modules_.length();
    if (index >= 0 && static_cast<size_t>(index) < modules_.length()) at = static_cast<size_t>(index);
    modules_.insertAt(at, m);
    imSyncModulePath();
    return imModuleIndex(module);
}

void iProject::imRemoveModule(const InterObj* module) {
    cleanModules();
    InterObjRep* m = module ? module->get() : nullptr;
    iObjectModule* part = iObjectModule::Of(m);
    if (modules_.length() == 0 || !part) return;
    InterObjRep* me = owner();
    if (me && part->selector() == me->moduleIndex())
        throw StoreException("Can't remove module containing project.", "RemoveModuleError");
    const int16_t at = imModuleIndex(module);
    if (at < 0) return;
    // Checked first, so a module that cannot go stays in the project too.
    const bool unload = !iProjectManager::HeldElsewhere(m, owner());
    if (unload && iObjectModule::RefuseWhileSuspended()) return;
    if (unload) part->checkUnload(true);
    modules_.removeAt(static_cast<size_t>(at));
    imSyncModulePath();
    if (unload) part->imUnload();
}

void iProject::imSyncModulePath() {
    cleanModules();
    PathString path;
    for (size_t i = 0; i < modules_.length(); ++i) {
        iObjectModule* part = iObjectModule::Of(modules_[i].get());
        if (!part) continue;
        const std::string file = static_cast<const char*>(part->pdGetFileName());
        if (!file.empty() && file == static_cast<const char*>(part->pdGetDisplayName())) RegisterModuleFolder(file);
        // Read again: a folder just registered lets the file name alone do.
        path.append(static_cast<const char*>(part->pdGetDisplayName()));
    }
    modulePath_ = path;
    markChanged();
}

void iProject::imWriteProjectFile() {
    if (projectFileName_.empty()) return;
    InterObjRep* me = owner();
    std::string text = (me ? me->alias() : std::string()) + "\n";
    for (size_t i = 0; i < modulePath_.count(); ++i) text += modulePath_.entry(i) + "\n";
    try {
        ReplaceFileContent(FullPathName(projectFileName_), text);
    } catch (const StorageError& e) {
        throw StoreException((std::string("Could not write project file: ") + e.what()).c_str(), "SystemError");
    }
}

int16_t iProject::imTextUnload(const char* indent, ValString* cmds) {
    InterObjRep* me = owner();
    if (!me || !cmds) return -1;
    std::string text = static_cast<const char*>(*cmds);
    const char* properties[] = {"ModulePath", "ProjectFileName", nullptr};
    me->textFieldsUnload(properties, indent ? indent : "", text);
    *cmds = ValString(text.c_str());
    return -1;
}

// ---- copies and persistence -----------------------------------------------------------------------

void iProject::clone(const IInterObj& other) {
    const auto* from = dynamic_cast<const iProject*>(&other);
    if (!from) return;
    modulePath_ = from->modulePath_;
    projectFileName_ = from->projectFileName_;
    currentIndex_ = from->currentIndex_;
}

void iProject::PO_Write(OCLStream& out) {
    out.writeString(modulePath_.text());
    out.writeString(projectFileName_);
    out.writeI16(currentIndex_);
}

void iProject::PO_Read(OCLStream& in, uint32_t) {
    std::string path = in.readString();
    std::string file = in.readString();
    const int16_t index = in.readI16();
    modulePath_.set(path.c_str());
    projectFileName_ = std::move(file);
    currentIndex_ = index < -1 ? int16_t(-1) : index;
}

}  // namespace tq
