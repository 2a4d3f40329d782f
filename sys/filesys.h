// FileSystem: whole files and folders for a program of the language.
//
// Paths are the system's ('/' separates), relative to the current folder.
// Every refusal names the path and the system's reason: FileNotFound for a
// path that is not there, FileError for the rest.
#pragma once

#include <tqstore/tqstore.h>

namespace tq::sys {

class FileSystem final : public IInterObj {
public:
    static PublishedClass& Class();
    explicit FileSystem(DllServer* server) : IInterObj(server) {}

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "FileSystem"; }

    int32_t imExists(const char* path);
    int32_t imIsFolder(const char* path);
    double imFileSize(const char* path);
    void imDelete(const char* path);
    void imRename(const char* source, const char* target);
    void imMakeFolder(const char* path);
    InterObj imListFolder(const char* path);
    ValString imCurrentFolder();
    ValString imReadAllText(const char* path);
    void imWriteAllText(const char* path, const char* text);
    void imAppendAllText(const char* path, const char* text);
};

}  // namespace tq::sys
