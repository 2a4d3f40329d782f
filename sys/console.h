// Console: standard input and standard error for a program of the language.
//
// Every Console object (the prototype "Console" a program names directly,
// and any copy) reads the one standard input of the process, through one
// LineReader, so lines are never read twice or lost between objects.
// Standard output stays Print's: before reading, what Print wrote is
// flushed, so a prompt shows before the program waits.
#pragma once

#include <tqstore/tqstore.h>

namespace tq::sys {

class Console final : public IInterObj {
public:
    static PublishedClass& Class();
    explicit Console(DllServer* server) : IInterObj(server) {}

    void PO_DefineFields(SignatureRep& sig) override;
    // Nothing of a console is kept with a module.
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "Console"; }

    int32_t pdGetEOF();
    ValString imReadLine();
    ValString imPrompt(const char* prompt);
    double imReadNumber(const char* prompt);
    void imWriteError(const char* text);
};

// Flushes what Print and the library wrote to standard output.
void FlushOutput();

}  // namespace tq::sys
