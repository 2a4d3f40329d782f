#include "sys/system.h"

#include <cstdlib>

#include "sys/sysexcep.h"
#include "sys/tqsys.h"

namespace tq::sys {

namespace {

int32_t exitCode = -1;

void SetVariable(const char* name, const char* value) {
    std::string error;
    if (!SetEnvironmentVariable(name, value, error)) {
        const std::string n = name ? name : "";
        throw SysError("ArgumentError", "Cannot set the environment variable \"" + n + "\": " + error, n);
    }
}

}  // namespace

int32_t RequestedExitStatus() { return exitCode; }

PublishedClass& System::Class() {
    static PublishedClass cls("Tessaro.System", "System", "{3E1A7C20-5B7D-4C1E-9A64-1D2B3C4E5F08}",
                              [](DllServer* server) -> IInterObj* { return new System(server); });
    return cls;
}

void System::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        sig.addField(CompProcDataField::make("ExitCode", IDT_LONG, Method(&System::pdSetExitCode),
                                             Method(&System::pdGetExitCode)),
                     nullptr, 0);
        sig.addField(CompProcDataField::make("ProcessId", IDT_LONG, NoSetter, Method(&System::pdGetProcessId)),
                     nullptr, 0);
        EnsureBooleanEnum();
        ParseCppField("Function Environ(ByVal name As String) As String", sig, &System::imEnviron);
        ParseCppField("Function HasEnviron(ByVal name As String) As Boolean", sig, &System::imHasEnviron);
        ParseCppField("Sub SetEnviron(ByVal name As String, ByVal value As String)", sig, &System::imSetEnviron);
        ParseCppField("Sub RemoveEnviron(ByVal name As String)", sig, &System::imRemoveEnviron);
    });
}

int32_t System::pdGetExitCode() { return exitCode < 0 ? 0 : exitCode; }

// A shell sees a status from 0 to 255: anything else would arrive as
// another number.
void System::pdSetExitCode(int32_t code) {
    if (code < 0 || code > 255) ThrowOutOfRange("Exit code", code, 0, 255);
    exitCode = code;
}

int32_t System::pdGetProcessId() { return ProcessId(); }

ValString System::imEnviron(const char* name) {
    const char* value = name && *name ? std::getenv(name) : nullptr;
    return ValString(value ? value : "");
}

int32_t System::imHasEnviron(const char* name) { return name && *name && std::getenv(name) ? -1 : 0; }

void System::imSetEnviron(const char* name, const char* value) { SetVariable(name, value ? value : ""); }

void System::imRemoveEnviron(const char* name) { SetVariable(name, nullptr); }

}  // namespace tq::sys
