// System: the process a program runs in: environment variables, the exit
// status it ends with, its id.
//
// The command line's arguments are not kept here: a program gets them as
// the parameters of Main (`tessaro run prog.tqs Main a b`) or from the
// Application object, so there is one place that holds them.
//
// ExitCode is process-wide (every System object sets the same status); -1
// means none was set. The host reads it when the program ends
// (RequestedExitStatus in tqsys.h).
#pragma once

#include <tqstore/tqstore.h>

namespace tq::sys {

class System final : public IInterObj {
public:
    static PublishedClass& Class();
    explicit System(DllServer* server) : IInterObj(server) {}

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "System"; }

    int32_t pdGetExitCode();
    void pdSetExitCode(int32_t code);
    int32_t pdGetProcessId();
    ValString imEnviron(const char* name);
    int32_t imHasEnviron(const char* name);
    void imSetEnviron(const char* name, const char* value);
    void imRemoveEnviron(const char* name);
};

}  // namespace tq::sys
