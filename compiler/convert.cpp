#include "compiler/convert.h"

#include <filesystem>
#include <string>

#include <tqstore/tqstore.h>

#include "compiler/textmod.h"

namespace tq::compiler {

namespace {

// Unloads the module it was given when the scope ends.
class LoadedModule {
public:
    explicit LoadedModule(tModuleIndex m) : m_(m) {}
    ~LoadedModule() {
        if (ObjectStore::ValidIndex(m_)) ObjectStore::UnloadModule(m_);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    tModuleIndex index() const { return m_; }

private:
    tModuleIndex m_;
};

}  // namespace

void ConvertTextToBinary(const std::string& textPath, const std::string& binaryPath) {
    if (FileMarkedReadOnly(binaryPath))
        throw StoreException(("Could not save module: " + binaryPath + ": the file is read-only, so it is not replaced")
                                 .c_str());
    // The module is written whole beside the target under a name a killed
    // build's leftovers are known by, then moved over the target as a text
    // save would be: through a symbolic link, keeping its bits, never over a
    // device.
    const std::string scratch = NameBesideTarget(binaryPath);
    try {
        LoadedModule module(ObjectStore::LoadModule(nullptr, 1, 0));
        if (!ObjectStore::ValidIndex(module.index())) throw StoreException("Could not make a module to compile into.");
        LoadTextModuleFile(textPath, module.index());
        try {
            ObjectStore::SaveAs(module.index(), scratch.c_str(), 0);
        } catch (const StoreException& e) {
            // The scratch name means nothing to the user: the failure is the
            // target's.
            std::string text = e.what();
            for (size_t at = 0; (at = text.find(scratch, at)) != std::string::npos; at += binaryPath.size())
                text.replace(at, scratch.size(), binaryPath);
            throw StoreException(text.c_str());
        }
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove(scratch, ec);
        throw;
    }
    ReplaceFileWith(scratch, binaryPath);
}

void ConvertBinaryToText(const std::string& binaryPath, const std::string& textPath) {
    const tModuleIndex loaded = ObjectStore::FindModule(binaryPath.c_str());
    if (ObjectStore::ValidIndex(loaded)) {
        SaveTextModuleFile(textPath, loaded);
        return;
    }
    if (!std::filesystem::exists(binaryPath))
        throw StoreException(("Could not open module: " + binaryPath).c_str());
    LoadedModule module(ObjectStore::LoadModule(binaryPath.c_str(), 0, 1));
    if (!ObjectStore::ValidIndex(module.index()))
        throw StoreException(("Could not open module: " + binaryPath).c_str());
    SaveTextModuleFile(textPath, module.index());
}

}  // namespace tq::compiler
