#include "compiler/convert.h"

#include <unistd.h>

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
    namespace fs = std::filesystem;
    const fs::path target(binaryPath);
    const fs::path scratch =
        target.parent_path() / ("." + target.filename().string() + ".building-" + std::to_string(::getpid()));
    std::error_code ec;
    try {
        {
            LoadedModule module(ObjectStore::LoadModule(nullptr, 1, 0));
            if (!ObjectStore::ValidIndex(module.index()))
                throw StoreException("Could not make a module to compile into.");
            LoadTextModuleFile(textPath, module.index());
            fs::remove(scratch, ec);
            ObjectStore::SaveAs(module.index(), scratch.c_str(), 0);
        }
        fs::rename(scratch, target);
    } catch (...) {
        fs::remove(scratch, ec);
        throw;
    }
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
