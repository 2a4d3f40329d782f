// The default application's text modules: this compiler registered with
// the store, which knows nothing of it otherwise.
#include <tqstore/tqstore.h>

#include "compiler/textmod.h"

namespace tq::compiler {

namespace {

void Load(const char* path, unsigned char module) { LoadTextModuleFile(path, module); }
void Save(const char* path, unsigned char module) { SaveTextModuleFile(path, module); }

constexpr TextModuleHandler kHandler{&Load, &Save};

}  // namespace

void EnableTextModules() { DefaultStoreApplication::SetTextModuleHandler(&kHandler); }

}  // namespace tq::compiler
