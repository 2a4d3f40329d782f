// A host that publishes an extension library and runs a program with it:
//
//   counterhost <library> <program.tqs>
//
// It starts the store, publishes the library's classes
// (ObjectStore::PublishObjectDLL), loads the program as a text module and
// runs the Main of its first object that has one. What the program prints
// goes to standard output; a failure to standard error, with status 1.
#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: counterhost <library> <program.tqs>\n");
        return 2;
    }
    tq::TessaroInitializer start(1);
    int status = 0;
    try {
        tq::compiler::EnableTextModules();
        tq::ObjectStore::PublishObjectDLL(argv[1]);
        const tq::tModuleIndex m = tq::ObjectStore::LoadModule(argv[2], 0, 1);
        tq::GroupObjectList objects;
        tq::ObjectStore::GetStaticObjects(m, objects, 1);
        for (size_t i = 0; i < objects.length(); ++i) {
            tq::InterObjRep* o = objects[i].get();
            tq::Field* f = o ? o->findField("Main") : nullptr;
            if (!f || !f->isMethod()) continue;
            int handled = 0;
            o->evalIMember("Main", nullptr, &handled);
            break;
        }
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "counterhost: %s\n", e.what());
        status = 1;
    }
    tq::ObjectStore::UnloadAllModules(1);
    delete tq::StoreApplication::Current();
    return status;
}
