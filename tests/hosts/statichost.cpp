// A host that keeps its TessaroInitializer in static storage: at namespace
// scope, or (with TQ_FUNCTION_STATIC) as a function's static made on first
// use. Its destructor runs while the process ends, after main and after
// statics made later than it; the library's own state must still be there.
// Built with the sanitizers, any use of state that has gone fails the run.
#include <tqstore/tqstore.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

#ifdef TQ_FUNCTION_STATIC
tq::TessaroInitializer& Library() {
    static tq::TessaroInitializer start(1);
    return start;
}
#else
tq::TessaroInitializer start(1);
void Library() {}
#endif

}  // namespace

int main() {
    using namespace tq;
    Library();
    char folder[] = "/tmp/tqstatichost.XXXXXX";
    if (!mkdtemp(folder)) return 2;
    const std::string path = std::string(folder) + "/host.qbo";
    {
        // Things of the detached module hold names and ids until the end.
        InterObj shape(InterObjRep::NewNamed("Shape", nullptr, DETACHED_MODULE, IOT_ORDINARY));
        shape->addField(InterDataField::make("Caption", IDT_STRING, 1));
        SignatureRep* owner = nullptr;
        shape->signature()->findField("Caption", owner, 0)->set(ValString("kept"), *shape, *owner);

        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
        InterObj saved(InterObjRep::NewNamed("Saved", nullptr, m, IOT_ORDINARY));
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        saved = nullptr;
        ObjectStore::UnloadModule(m);
    }
    InterObjRep::DeleteObjects();
    delete StoreApplication::Current();
    std::remove(path.c_str());
    rmdir(folder);
    std::printf("static host ran\n");
    return 0;
}
