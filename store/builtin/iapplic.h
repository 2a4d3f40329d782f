// iApplication: the built-in class Application, a Project that describes
// the program being built and, inside a running executable, the program
// that runs.
//
// At design time the object holds where and under what name the
// stand-alone executable is written (Path, EXEName), its splash file and
// the project's module path; WriteEXE copies the run-time executable
// `tqapp` (found beside the host program) to that place and writes the
// data section of exedata.h into the copy. When the copy runs, it reads its
// own data section and hands it, with its command-line arguments, to
// SetInfo; from then on IsRunning is True, Arg gives the arguments and the
// EXE... properties answer from what the executable reported. `tessaro run`
// reports its arguments through SetInfo too, with the program's file as
// argument 0.
//
// Executables on this platform have no extension: the executable's file is
// Path + "/" + EXEName (kExeExtension is empty).
//
//   design time --SetInfo--> running (argCount > 0)
//   closed --LoadEXE--> open (dataSection_ into exeFile_) --FreeEXE--> closed
//
// WriteEXE writes beside the target and renames the finished file over it
// (platform/storage/filesave.h): a failure leaves the old file, or none,
// never a half-written executable, and the project is unchanged.
//
// PO_Write layout (after the revision byte, iintobj.h), revision 1 (a record
// of revision 0 has the same layout):
//
//   offset  width   meaning
//   0       1       the project part's revision (iProject::kRevision)
//   1       ...     the project part's record (iproject.h)
//   ...     4       appFlags
//   ...     string  path (oclstream.h string form)
//   ...     string  exeName
//   ...     string  splashFileName
//   ...     5       mainForm, an uncounted indirect reference (faultp.h)
//
// Invariants:
//  1. argCount_ == argValues_.size(); argCount_ > 0 only after SetInfo.
//  2. dataSection_ is non-null only while exeFile_ is open (LoadEXE).
//  3. appFlags_ always carries revision kExeRevision in its high byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/util/pefile.h"
#include "store/builtin/exedata.h"
#include "store/builtin/iproject.h"

namespace tq {

class iApplication final : public iProject {
public:
    static constexpr uint32_t kRevision = 1;
    static constexpr uint32_t kDefaultFlags = kExeRevision << 24;
    static constexpr uint32_t kSplashMessageEnabled = 0x1;
    static constexpr const char* kExeExtension = "";
    // The run-time executable WriteEXE copies, beside the host program.
    static constexpr const char* kTemplateName = "tqapp";

    static PublishedClass& Class();
    static InterObjRep* PO_InitObject() { return Class().PO_InitObject(); }
    static InterObjRep* PO_GetObject() { return Class().PO_GetObject(); }

    explicit iApplication(DllServer* server);

    // The Application part of obj; null when obj is no Application.
    static iApplication* Of(InterObjRep* obj);

    // ---- host operations ------------------------------------------------------------

    // What the running executable reports: its arguments (argValues[0] its
    // own file), its data section's word, module list (entries separated
    // by NUL, ending in an empty one) and splash file. StoreException
    // "Incorrect EXE revision." for a word of another revision, with
    // nothing stored.
    void SetInfo(int argCount, const char* const* argValues, uint32_t exeWord, const char* moduleList,
                 const char* splashFileName);
    // The data section of the executable made from Path and EXEName: its
    // word is kNoExeWord when the file or its section is missing. A file
    // that is no ELF file or whose section is damaged raises StoreException.
    ExeData GetEXEData();
    // Opens that executable and its data section for GetEXEData; every
    // failure, a missing file or section included, raises StoreException.
    void LoadEXE();
    void FreeEXE();
    // The executable's file from Path, EXEName and kExeExtension; false when
    // it cannot be made.
    bool exeFilePath(std::string& out) const;

    // ---- the protocol --------------------------------------------------------------

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return kRevision; }
    void PO_Read(OCLStream& in, uint32_t revision) override;
    void PO_Write(OCLStream& out) override;
    const char* className() const override { return "Application"; }
    void clone(const IInterObj& other) override;
    void attach(tModuleIndex m) override;

    // ---- properties ----------------------------------------------------------------

    InterObj pdGetMainForm();
    void pdSetMainForm(const InterObj* form);
    InterObj pdGetActiveForm();
    void pdSetActiveForm(const InterObj* form);
    ValString pdGetPath();
    void pdSetPath(const char* path);
    ValString pdGetEXEFileName();
    void pdSetEXEFileName(const char* name);
    ValString pdGetEXEName();
    void pdSetEXEName(const char* name);
    ValString pdGetSplashFileName();
    void pdSetSplashFileName(const char* name);
    int32_t pdGetSplashMessageEnabled();
    void pdSetSplashMessageEnabled(int32_t on);
    int32_t pdGetAutoBusySignal();
    void pdSetAutoBusySignal(int32_t on);
    int32_t pdGetAutoBusyTimeout();
    void pdSetAutoBusyTimeout(int32_t ms);
    int32_t pdGetLookupCacheMax();
    void pdSetLookupCacheMax(int32_t n);
    int32_t pdGetLookupCacheUsed();
    int16_t pdGetDoEventDepth();
    int16_t pdGetArgCount();
    ValString pdGetEXEAppName();
    int32_t pdGetEXEFileExists();
    int32_t pdGetEXEMatchesMe();
    ValString pdGetEXEModulePath();
    ValString pdGetEXESplashFileName();
    int32_t pdGetEXESplashMessageEnabled();
    int32_t pdGetIsRunning();
    int32_t pdGetTimersEnabled();
    int32_t pdGetLastDllError();

    // ---- methods -------------------------------------------------------------------

    ValString imArg(int16_t i);
    void imShowBusySignal();
    void imSplashMessage(const char* msg);
    void imDoEvents();
    void imQuit();
    void imDisableTimers();
    void imEnableTimers();
    void imEnableDialog3dEffects(int16_t enable);
    void imWriteEXE();
    int16_t imTextUnload(const char* indent, ValString* cmds);

private:
    ~iApplication() override;
    bool running() const { return argCount_ > 0; }
    // The project's module path without explicit paths.
    std::string moduleList();
    // The executable's data, through LoadEXE's open file when there is one.
    ExeData exeData();
    // WriteEXE's steps 5 and 6 on the new file at temp.
    void writeDataSection(const std::string& temp, const std::string& appName, const std::string& modules);

    int32_t argCount_ = 0;
    std::vector<std::string> argValues_;
    std::optional<std::string> exeSplashFileName_;
    uint32_t exeWord_ = kNoExeWord;
    std::optional<std::vector<std::string>> exeModules_;  // SetInfo's list
    std::string path_;
    std::string exeName_;
    std::string splashFileName_;
    uint32_t appFlags_ = kDefaultFlags;
    PEFile exeFile_;
    const uint8_t* dataSection_ = nullptr;
    Faultp<InterObjRep> mainForm_{UncountedIndirectReference, nullptr};

    static inline int16_t doEventDepth = 0;
};

// The template WriteEXE copies: kTemplateName in the host program's folder.
// StoreException "Unable to copy TQAPP.EXE" when the host program's path has
// no folder or its folder is 248 characters or longer.
std::string ExeTemplatePath();

}  // namespace tq
