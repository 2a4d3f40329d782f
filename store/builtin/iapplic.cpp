#include "store/builtin/iapplic.h"

#include <cerrno>
#include <string>

#include "platform/storage/filesave.h"
#include "platform/storage/oclstream.h"
#include "platform/util/pathpart.h"
#include "platform/util/pathsrch.h"
#include "platform/util/strutil.h"
#include "store/builtin/timer.h"
#include "store/builtin/vsrpath.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/intfuncs.h"
#include "store/model/enum.h"
#include "store/model/sigrep.h"
#include "store/storeapp.h"
#include "store/vals.h"

namespace tq {
namespace {

IInterObj* MakeApplication(DllServer* server) { return new iApplication(server); }

int32_t Truth(bool b) { return b ? -1 : 0; }

// The template's folder may be at most this long, so that the template's
// name still fits the system's path buffer after it.
constexpr size_t kMaxTemplateFolder = 248;

ValString Text(ValStringRep* rep) { return ValString(rep); }

// A PEFile failure as the store reports it: with the system's message when
// the system refused, else with the editor's own text.
[[noreturn]] void RaiseExeFailure(const PEFileError& e) {
    if (e.code) throw StoreException(e.what(), "SystemError");
    throw StoreException(e.what());
}

}  // namespace

std::string ExeTemplatePath() {
    const std::string host = ProgramPath();
    if (host.empty()) ThrowSystemError(0, nullptr);
    const size_t slash = host.rfind('/');
    if (slash == std::string::npos || slash >= kMaxTemplateFolder) throw StoreException("Unable to copy TQAPP.EXE");
    return host.substr(0, slash + 1) + iApplication::kTemplateName;
}

// ---- the class --------------------------------------------------------------------------------

PublishedClass& iApplication::Class() {
    static PublishedClass* const cls = new PublishedClass(
        "Tessaro.Application", "Application", "{A7231B84-E641-4B10-AD5F-5F05F11584FA}", &MakeApplication,
        &iProject::Class());
    return *cls;
}

iApplication::iApplication(DllServer* server) : iProject(server) {}

iApplication::~iApplication() = default;

iApplication* iApplication::Of(InterObjRep* obj) {
    if (!obj || obj->isDestroyed()) return nullptr;
    return dynamic_cast<iApplication*>(obj->compiledPart());
}

void iApplication::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        EnumRep* boolean = EnsureBooleanEnum();
        auto property = [&](const char* name, IdType type, const MemberPointer& setter, const MemberPointer& getter) {
            sig.addField(CompProcDataField::make(name, type, setter, getter), nullptr, 0);
        };
        auto truth = [&](const char* name, const MemberPointer& setter, const MemberPointer& getter) {
            sig.addField(CompProcEnumField::make(name, boolean, setter, getter), nullptr, 0);
        };
        property("MainForm", IDT_OBJECT, Method(&iApplication::pdSetMainForm), Method(&iApplication::pdGetMainForm));
        property("ActiveForm", IDT_OBJECT, Method(&iApplication::pdSetActiveForm),
                 Method(&iApplication::pdGetActiveForm));
        property("Path", IDT_STRING, Method(&iApplication::pdSetPath), Method(&iApplication::pdGetPath));
        property("EXEFileName", IDT_STRING, Method(&iApplication::pdSetEXEFileName),
                 Method(&iApplication::pdGetEXEFileName));
        property("EXEName", IDT_STRING, Method(&iApplication::pdSetEXEName), Method(&iApplication::pdGetEXEName));
        // ModulePath is the project's, inherited from Project.
        property("SplashFileName", IDT_STRING, Method(&iApplication::pdSetSplashFileName),
                 Method(&iApplication::pdGetSplashFileName));
        truth("SplashMessageEnabled", Method(&iApplication::pdSetSplashMessageEnabled),
              Method(&iApplication::pdGetSplashMessageEnabled));
        truth("AutoBusySignal", Method(&iApplication::pdSetAutoBusySignal),
              Method(&iApplication::pdGetAutoBusySignal));
        property("AutoBusyTimeout", IDT_LONG, Method(&iApplication::pdSetAutoBusyTimeout),
                 Method(&iApplication::pdGetAutoBusyTimeout));
        property("LookupCacheMax", IDT_LONG, Method(&iApplication::pdSetLookupCacheMax),
                 Method(&iApplication::pdGetLookupCacheMax));
        property("LookupCacheUsed", IDT_LONG, NoSetter, Method(&iApplication::pdGetLookupCacheUsed));
        property("DoEventDepth", IDT_SHORT, NoSetter, Method(&iApplication::pdGetDoEventDepth));
        property("ArgCount", IDT_SHORT, NoSetter, Method(&iApplication::pdGetArgCount));
        property("EXEAppName", IDT_STRING, NoSetter, Method(&iApplication::pdGetEXEAppName));
        truth("EXEFileExists", NoSetter, Method(&iApplication::pdGetEXEFileExists));
        truth("EXEMatchesMe", NoSetter, Method(&iApplication::pdGetEXEMatchesMe));
        property("EXEModulePath", IDT_STRING, NoSetter, Method(&iApplication::pdGetEXEModulePath));
        property("EXESplashFileName", IDT_STRING, NoSetter, Method(&iApplication::pdGetEXESplashFileName));
        truth("EXESplashMessageEnabled", NoSetter, Method(&iApplication::pdGetEXESplashMessageEnabled));
        truth("IsRunning", NoSetter, Method(&iApplication::pdGetIsRunning));
        truth("TimersEnabled", NoSetter, Method(&iApplication::pdGetTimersEnabled));
        // The code a foreign call left behind, kept at once after the call
        // (StashLastAPIErrorCode), before the interpreter's own work
        // changes the system's.
        property("LastDllError", IDT_LONG, NoSetter, Method(&iApplication::pdGetLastDllError));
        ParseCppField("Function Arg(ByVal i as Integer) as String", sig, &iApplication::imArg);
        ParseCppField("Sub ShowBusySignal()", sig, &iApplication::imShowBusySignal);
        ParseCppField("Sub SplashMessage(ByVal msg as String)", sig, &iApplication::imSplashMessage);
        ParseCppField("Sub DoEvents()", sig, &iApplication::imDoEvents);
        ParseCppField("Sub Quit()", sig, &iApplication::imQuit);
        ParseCppField("Sub DisableTimers()", sig, &iApplication::imDisableTimers);
        ParseCppField("Sub EnableTimers()", sig, &iApplication::imEnableTimers);
        ParseCppField("Sub EnableDialog3dEffects(ByVal enable As Integer)", sig,
                      &iApplication::imEnableDialog3dEffects);
        ParseCppField("Sub WriteEXE()", sig, &iApplication::imWriteEXE);
        ParseCppField("Function TextUnload(ByVal indent As String, cmds As String) As Integer", sig,
                      &iApplication::imTextUnload);
        ParseCppEvent("Event Startup()", sig);
        ParseCppEvent("Event CanClose()", sig);
        ParseCppEvent("Event Shutdown()", sig);
    });
}

// ---- host operations --------------------------------------------------------------------------

void iApplication::SetInfo(int argCount, const char* const* argValues, uint32_t exeWord, const char* moduleList,
                           const char* splashFileName) {
    if (!IsCurrentExeRevision(exeWord)) throw StoreException("Incorrect EXE revision.");
    std::vector<std::string> args;
    for (int i = 0; i < argCount && argValues; ++i) args.emplace_back(argValues[i] ? argValues[i] : "");
    argValues_ = std::move(args);
    argCount_ = static_cast<int32_t>(argValues_.size());
    exeWord_ = exeWord;
    exeModules_ = SplitNulList(moduleList);
    exeSplashFileName_ = splashFileName ? std::optional<std::string>(splashFileName) : std::nullopt;
}

bool iApplication::exeFilePath(std::string& out) const { return MakeFilePath(path_, exeName_, kExeExtension, out); }

void iApplication::LoadEXE() {
    FreeEXE();
    std::string file;
    if (!exeFilePath(file)) throw StoreException("Invalid EXE file name.");
    try {
        exeFile_.OpenReadOnly(file);
        dataSection_ = exeFile_.GetTessaroDataSection();
    } catch (const PEFileError& e) {
        FreeEXE();
        RaiseExeFailure(e);
    }
    if (!dataSection_) {
        FreeEXE();
        throw StoreException(file + ": the file has no Tessaro data section (it was not written by WriteEXE)");
    }
}

void iApplication::FreeEXE() {
    dataSection_ = nullptr;
    try {
        exeFile_.Close();
    } catch (const PEFileError&) {
        // Opened read-only: closing writes nothing that could fail.
    }
}

ExeData iApplication::exeData() {
    std::string file;
    if (dataSection_) return ReadExeData(dataSection_, PEFile::kDataSectionSize, exeFile_.path());
    if (!exeFilePath(file) || !FileExists(file)) return ExeData();
    PEFile exe;
    try {
        exe.OpenReadOnly(file);
        const uint8_t* section = exe.GetTessaroDataSection();
        if (!section) return ExeData();
        return ReadExeData(section, PEFile::kDataSectionSize, file);
    } catch (const PEFileError& e) {
        RaiseExeFailure(e);
    }
}

ExeData iApplication::GetEXEData() { return exeData(); }

std::string iApplication::moduleList() {
    PathString list(static_cast<const char*>(pdGetModulePath()));
    list.PurgeExplicitPaths();
    return list.text();
}

// ---- WriteEXE -------------------------------------------------------------------------------------

void iApplication::imWriteEXE() {
    std::string target;
    if (!exeFilePath(target)) throw StoreException("Invalid EXE file name.");
    const std::string modules = moduleList();
    if (modules.empty()) throw StoreException("No modules in ModulePath.");
    const std::string source = ExeTemplatePath();
    InterObjRep* me = owner();
    const std::string appName = me ? me->alias() : std::string();
    // Checked before any file is touched.
    if (ExeDataSize(appName, splashFileName_, modules) > PEFile::kDataSectionSize)
        throw StoreException("Module list is too large for data section.");
    const std::string full = FullPathName(target);
    // Written over, the running program or the template would be lost:
    // the next run or the next WriteEXE would start a copy of tqapp.
    if (SamePath(full, ProgramPath()) || SamePath(full, FullPathName(source)) ||
        SameFileAs(full, ProgramPath()) || SameFileAs(full, source))
        throw StoreException(target + ": is the running program or the run-time executable itself; an executable "
                                      "is not written over it");
    try {
        ReplaceFileBy(full, 0777, [&](int fd, const std::string& temp) {
            CopyFileFrom(source, fd, full);
            writeDataSection(temp, appName, modules);
        });
    } catch (const StorageError& e) {
        throw StoreException((std::string("Unable to write EXE file: ") + e.what()).c_str(), "SystemError");
    }
}

void iApplication::writeDataSection(const std::string& temp, const std::string& appName, const std::string& modules) {
    PEFile exe;
    try {
        exe.Open(temp);
        uint8_t* section = exe.MakeTessaroDataSection();
        WriteExeData(section, PEFile::kDataSectionSize, appFlags_, appName, splashFileName_, modules);
        exe.UpdateFileTimes();
        exe.Close();
    } catch (const PEFileError& e) {
        RaiseExeFailure(e);
    } catch (const StoreException&) {
        throw;
    } catch (const std::exception&) {
        throw StoreException("Unable to write EXE file.");
    }
}

// ---- properties -------------------------------------------------------------------------------

InterObj iApplication::pdGetMainForm() { return InterObj(mainForm_.get()); }

void iApplication::pdSetMainForm(const InterObj* form) {
    InterObjRep* value = form ? form->get() : nullptr;
    if (!value) {
        mainForm_ = nullptr;
        markChanged();
        return;
    }
    InterObj formClass;
    if (!ObjectStore::find("Form", formClass) || formClass.isNull() || !value->canBeTreatedAs(formClass.get()))
        return;
    mainForm_ = value;
    markChanged();
}

InterObj iApplication::pdGetActiveForm() { return InterObj(StoreApplication::GetActiveForm()); }

void iApplication::pdSetActiveForm(const InterObj* form) {
    StoreApplication::SetActiveForm(form ? form->get() : nullptr);
}

ValString iApplication::pdGetPath() {
    if (running()) return Text(VSRPath(argValues_[0].c_str()));
    return ValString(path_);
}

void iApplication::pdSetPath(const char* path) {
    path_ = path ? path : "";
    markChanged();
}

ValString iApplication::pdGetEXEFileName() {
    if (running()) return Text(VSRFullPathName(argValues_[0].c_str()));
    std::string file;
    return ValString(exeFilePath(file) ? file : std::string());
}

void iApplication::pdSetEXEFileName(const char* name) {
    const std::string text = name ? name : "";
    if (text.empty()) {
        pdSetEXEName("");
        pdSetPath("");
        return;
    }
    const std::string full = LimitedFullPath(text);
    if (full.empty()) {
        // No full path at all (the current folder is gone) or one too long
        // for the system's buffer.
        const bool made = !FullPathName(text).empty();
        ThrowSystemError(made ? ENAMETOOLONG : static_cast<uint32_t>(errno), nullptr);
    }
    pdSetEXEName(std::string(FilePart(full)).c_str());
    pdSetPath(PathPart(full).c_str());
}

ValString iApplication::pdGetEXEName() {
    if (running()) return Text(VSRName(argValues_[0].c_str()));
    return ValString(exeName_);
}

void iApplication::pdSetEXEName(const char* name) {
    const std::string text = name ? name : "";
    exeName_ = text.substr(0, text.find('.'));
    markChanged();
}

ValString iApplication::pdGetSplashFileName() { return ValString(splashFileName_); }

void iApplication::pdSetSplashFileName(const char* name) {
    splashFileName_ = name ? name : "";
    markChanged();
}

int32_t iApplication::pdGetSplashMessageEnabled() { return Truth(appFlags_ & kSplashMessageEnabled); }

void iApplication::pdSetSplashMessageEnabled(int32_t on) {
    if (on)
        appFlags_ |= kSplashMessageEnabled;
    else
        appFlags_ &= ~kSplashMessageEnabled;
    markChanged();
    StoreApplication::AppEnableSplashMessage(on ? -1 : 0);
}

int32_t iApplication::pdGetAutoBusySignal() { return Truth(StoreApplication::AutoBusyEnabled() != 0); }
void iApplication::pdSetAutoBusySignal(int32_t on) { StoreApplication::EnableAutoBusy(on ? 1 : 0); }
int32_t iApplication::pdGetAutoBusyTimeout() { return StoreApplication::GetAutoBusyTimeout(); }
void iApplication::pdSetAutoBusyTimeout(int32_t ms) { StoreApplication::SetAutoBusyTimeout(ms); }
int32_t iApplication::pdGetLookupCacheMax() { return Context::lookupCacheMax; }
void iApplication::pdSetLookupCacheMax(int32_t n) { Context::lookupCacheMax = n; }
int32_t iApplication::pdGetLookupCacheUsed() { return Context::GetLookupCacheLength(); }
int16_t iApplication::pdGetDoEventDepth() { return doEventDepth; }
int16_t iApplication::pdGetArgCount() { return static_cast<int16_t>(argCount_); }

ValString iApplication::pdGetEXEAppName() { return ValString(exeData().appName); }

int32_t iApplication::pdGetEXEFileExists() {
    std::string file;
    return Truth(exeFilePath(file) && FileExists(file));
}

int32_t iApplication::pdGetEXEMatchesMe() {
    const ExeData exe = exeData();
    InterObjRep* me = owner();
    if (!exe.present() || !me || exe.appName != me->alias() || exe.word != appFlags_) return 0;
    if (CompareIgnoringCase(exe.splashFileName, splashFileName_) != 0) return 0;
    ExeData listed;
    listed.modules = exeModules_ && !exeModules_->empty() ? *exeModules_ : exe.modules;
    return Truth(CompareIgnoringCase(listed.moduleText(), moduleList()) == 0);
}

ValString iApplication::pdGetEXEModulePath() {
    if (exeModules_ && !exeModules_->empty()) {
        ExeData listed;
        listed.modules = *exeModules_;
        return ValString(listed.moduleText());
    }
    return ValString(exeData().moduleText());
}

ValString iApplication::pdGetEXESplashFileName() {
    if (exeSplashFileName_) return ValString(*exeSplashFileName_);
    return ValString(exeData().splashFileName);
}

int32_t iApplication::pdGetEXESplashMessageEnabled() {
    const uint32_t word = exeWord_ != kNoExeWord ? exeWord_ : exeData().word;
    return word == kNoExeWord ? 0 : Truth(word & kSplashMessageEnabled);
}

int32_t iApplication::pdGetIsRunning() { return Truth(running()); }
int32_t iApplication::pdGetTimersEnabled() { return Truth(iTimer::TimersEnabled()); }
int32_t iApplication::pdGetLastDllError() { return static_cast<int32_t>(RetrieveStashedAPIErrorCode()); }

// ---- methods ----------------------------------------------------------------------------------

ValString iApplication::imArg(int16_t i) {
    if (i < 0 || i >= argCount_) return ValString("");
    return ValString(argValues_[static_cast<size_t>(i)]);
}

void iApplication::imShowBusySignal() { StoreApplication::SetBusyIndicator(); }
void iApplication::imSplashMessage(const char* msg) { StoreApplication::AppSplashMessage(msg ? msg : ""); }

void iApplication::imDoEvents() {
    struct Depth {
        Depth() { ++doEventDepth; }
        ~Depth() { --doEventDepth; }
    } depth;
    StoreApplication::PumpMessages();
}

void iApplication::imQuit() {
    if (running()) StoreApplication::AppQuit();
}

void iApplication::imDisableTimers() { iTimer::DisableTimers(); }
void iApplication::imEnableTimers() { iTimer::EnableTimers(); }
void iApplication::imEnableDialog3dEffects(int16_t enable) { StoreApplication::AppDialog3dEffects(enable); }

int16_t iApplication::imTextUnload(const char* indent, ValString* cmds) {
    InterObjRep* me = owner();
    if (!me || !cmds) return -1;
    std::string text = static_cast<const char*>(*cmds);
    const char* properties[] = {"ModulePath", "ProjectFileName", "MainForm", "Path",
                                "EXEName",    "SplashFileName",  nullptr};
    me->textFieldsUnload(properties, indent ? indent : "", text);
    *cmds = ValString(text.c_str());
    return -1;
}

// ---- copies and persistence -----------------------------------------------------------------------

void iApplication::clone(const IInterObj& other) {
    iProject::clone(other);
    const auto* from = dynamic_cast<const iApplication*>(&other);
    if (!from) return;
    path_ = from->path_;
    exeName_ = from->exeName_;
    splashFileName_ = from->splashFileName_;
    appFlags_ = from->appFlags_;
    mainForm_ = from->mainForm_.get();
}

void iApplication::attach(tModuleIndex) { mainForm_.get(); }

void iApplication::PO_Write(OCLStream& out) {
    out.writeU8(static_cast<uint8_t>(iProject::kRevision));
    iProject::PO_Write(out);
    out.writeU32(appFlags_);
    out.writeString(path_);
    out.writeString(exeName_);
    out.writeString(splashFileName_);
    mainForm_.write(out);
}

void iApplication::PO_Read(OCLStream& in, uint32_t) {
    const uint32_t projectRevision = in.readU8();
    if (projectRevision > iProject::kRevision) throw ObjectLoadFailed(className());
    iProject::PO_Read(in, projectRevision);
    const uint32_t flags = in.readU32();
    // No program can store another revision: the record is not an
    // Application's.
    if (!IsCurrentExeRevision(flags)) throw ObjectLoadFailed(className());
    std::string path = in.readString();
    std::string exeName = in.readString();
    std::string splash = in.readString();
    const tModuleIndex m = owner() ? owner()->moduleIndex() : ObjectStore::OpenModule();
    const tDescriptor form = ReadObjectReference(in, m, Faultp<InterObjRep>::kIndirect, className());
    appFlags_ = flags;
    path_ = std::move(path);
    exeName_ = std::move(exeName);
    splashFileName_ = std::move(splash);
    mainForm_.~Faultp<InterObjRep>();
    if (form.isNull())
        new (&mainForm_) Faultp<InterObjRep>(UncountedIndirectReference, nullptr);
    else
        new (&mainForm_) Faultp<InterObjRep>(form, Faultp<InterObjRep>::kIndirect);
}

}  // namespace tq
