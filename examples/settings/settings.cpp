// tqsettings: an example host that keeps a program's settings as objects in
// a module file, edits them from the command line and runs a hook written
// in the language after every edit. Copy it as the start of your own host.
//
//   tqsettings FILE.qbo init TEXT.tqs         make FILE from a text module
//   tqsettings FILE.qbo show                  every setting, one a line
//   tqsettings FILE.qbo get Window.Width      one setting
//   tqsettings FILE.qbo set Window.Width 1024 change one, run the hook, save
//
// "set" writes the field (converted into its type as the language converts),
// calls Hooks.Changed with the setting's name and only then saves and
// commits. A value the field cannot take, or a hook that throws, ends the
// program with status 1 and the file as it was: nothing was saved.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

namespace {

// The host's side of the store. Print goes to standard output, as the
// default application's does; Application.Quit has nothing to end here.
class SettingsApp final : public tq::DefaultStoreApplication {
public:
    void appQuit() override {}
};

int Usage() {
    std::fputs("usage: tqsettings FILE.qbo init TEXT.tqs | show | get OBJECT.FIELD | set OBJECT.FIELD VALUE\n",
               stderr);
    return 2;
}

// "Window.Width": the object "Window" into obj and "Width" into field.
void FindSetting(const std::string& setting, tq::TessaroObject& obj, std::string& field) {
    const size_t dot = setting.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == setting.size())
        throw std::runtime_error("a setting is OBJECT.FIELD: " + setting);
    if (!obj.Find(setting.substr(0, dot).c_str())) throw tq::NotFound(32741, setting.substr(0, dot).c_str());
    field = setting.substr(dot + 1);
}

// Every data field of every named object of module m.
void Show(tq::tModuleIndex m) {
    tq::GroupObjectList objects;
    tq::ObjectStore::GetStaticObjects(m, objects, 1);
    for (size_t i = 0; i < objects.length(); ++i) {
        const tq::TessaroObject obj(objects[i].get());
        tq::TessaroString name;
        if (obj.GetName(name) == 0) continue;
        tq::InterObjFieldIterator fields(obj);
        while (tq::Field* f = fields()) {
            if (!f->isData()) continue;
            const std::string value = tq::GetField<std::string>(obj, f->name());
            std::printf("%s.%s = %s\n", static_cast<const char*>(name), f->name(), value.c_str());
        }
    }
}

int Run(const std::string& file, const std::string& command, int count, char** args) {
    if (command == "init" && count == 1) {
        if (std::filesystem::exists(file)) throw std::runtime_error(file + " exists already");
        // The text module is compiled into a module of its own, which then
        // moves to the binary file (written whole, then renamed into place).
        const tq::tModuleIndex m = tq::ObjectStore::LoadModule(args[0], 0, 0);
        tq::ObjectStore::SaveAs(m, file.c_str(), 0);
        return 0;
    }
    const bool edit = command == "set" && count == 2;
    if (!edit && !(command == "show" && count == 0) && !(command == "get" && count == 1)) return Usage();
    const tq::tModuleIndex m = tq::ObjectStore::LoadModule(file.c_str(), 0, edit ? 0 : 1);
    if (command == "show") {
        Show(m);
        return 0;
    }
    tq::TessaroObject obj;
    std::string field;
    FindSetting(args[0], obj, field);
    if (!edit) {
        std::printf("%s\n", tq::GetField<std::string>(obj, field.c_str()).c_str());
        return 0;
    }
    tq::SetField(obj, field.c_str(), args[1]);
    tq::TessaroObject hooks;
    if (hooks.Find("Hooks")) tq::Call(hooks, "Changed", args[0]);
    tq::ObjectStore::Save(m);
    tq::ObjectStore::Commit(m);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    tq::TessaroInitializer library(0);
    int status = 0;
    {
        SettingsApp app;
        tq::compiler::EnableTextModules();
        try {
            status = Run(argv[1], argv[2], argc - 3, argv + 3);
        } catch (const std::exception& e) {
            // StoreException included: its what() is the message text.
            std::fprintf(stderr, "tqsettings: %s\n", e.what());
            status = 1;
        }
        try {
            // Whatever was not committed is dropped, never half-written.
            tq::ObjectStore::UnloadAllModules(1);
            tq::InterObjRep::DeleteObjects();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tqsettings: %s\n", e.what());
            status = 1;
        }
    }
    return status;
}
