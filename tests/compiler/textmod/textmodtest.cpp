#include "tests/compiler/textmod/textmodtest.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace tq::compiler::test {

namespace {
DefaultStoreApplication* app = nullptr;

// Unloads every loaded module, the last loaded first, so that a module is
// gone before the modules it builds on. (UnloadAllModules is for the
// library's end: it leaves the store locked, and a locked store raises no
// events.)
void UnloadEveryModule() {
    for (int m = MAX_MODULES - 1; m >= 0; --m)
        if (ObjectStore::ValidIndex(static_cast<tModuleIndex>(m))) ObjectStore::UnloadModule(static_cast<tModuleIndex>(m));
}
}

void TextModules::SetUpTestSuite() {
    IdString::Initialize();
    if (!app) app = new DefaultStoreApplication();
    EnableTextModules();
}

void TextModules::SetUp() { ObjectStore::OpenModule(DETACHED_MODULE); }

void TextModules::TearDown() {
    UnloadEveryModule();
    InterObjRep::DeleteObjects();
    ObjectStore::OpenModule(DETACHED_MODULE);
}

tModuleIndex TextModules::load(const std::string& text, const std::string& file) {
    const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
    try {
        LoadTextModule(text, file, m);
    } catch (const StoreException& e) {
        ADD_FAILURE() << e.what();
    }
    return m;
}

std::string TextModules::errorsOf(const std::string& text, const std::string& file) {
    const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
    try {
        LoadTextModule(text, file, m);
    } catch (const CompileError& e) {
        return e.what();
    }
    return "";
}

InterObjRep* TextModules::object(const char* name) {
    InterObj o;
    if (!ObjectStore::find(name, o)) return nullptr;
    return o.get();
}

std::string TextModules::declaration(const char* obj, const char* field) {
    InterObjRep* o = object(obj);
    if (!o) return "<no object>";
    Field* f = o->findField(field);
    if (!f) return "<no field>";
    std::string out;
    f->declarationText(out, o);
    return out;
}

std::string TextModules::text(const char* obj, const char* field) {
    InterObjRep* o = object(obj);
    SignatureRep* owner = nullptr;
    Field* f = o ? o->signature()->findField(field, owner, 0) : nullptr;
    if (!f) return "<no field>";
    ValString s;
    f->get(s, *o, *owner);
    const char* c = s;
    return c ? c : "";
}

int32_t TextModules::number(const char* obj, const char* field) {
    InterObjRep* o = object(obj);
    SignatureRep* owner = nullptr;
    Field* f = o ? o->signature()->findField(field, owner, 0) : nullptr;
    if (!f) {
        ADD_FAILURE() << "no field " << obj << "." << field;
        return -999;
    }
    int32_t v = 0;
    f->get(v, *o, *owner);
    return v;
}

std::string TextModules::writeFile(const std::string& name, const std::string& text) {
    const std::string path = dir_.file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string TextModules::readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace tq::compiler::test
