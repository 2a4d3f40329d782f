#include "tools/tessaro/runtarget.h"

namespace tessaro {

std::optional<Target> ParseTarget(const std::string& text) {
    const size_t dot = text.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) return std::nullopt;
    return Target{text.substr(0, dot), text.substr(dot + 1)};
}

Target MainTarget(tq::tModuleIndex m, const std::string& file) {
    tq::GroupObjectList objects;
    tq::ObjectStore::GetStaticObjects(m, objects, 1);
    for (size_t i = 0; i < objects.length(); ++i) {
        tq::InterObjRep* o = objects[i].get();
        tq::Field* f = o ? o->findField("Main") : nullptr;
        if (f && f->isMethod() && o->name()) return Target{o->name(), "Main"};
    }
    throw TargetFailed(file + ": no object has a Main to run (name one: tessaro run " + file + " Object.Method)");
}

tq::InterObj ResolveTarget(const Target& target, const std::string& file) {
    tq::InterObj object;
    bool found = false;
    try {
        found = tq::ObjectStore::find(target.object.c_str(), object) && !object.isNull();
    } catch (const tq::StoreException&) {
        found = false;
    }
    if (!found) throw TargetFailed(file + ": no object named " + target.object);
    tq::Field* f = object->findField(target.method.c_str());
    if (!f || !f->isMethod())
        throw TargetFailed(file + ": " + target.object + " has no method " + target.method);
    return object;
}

}  // namespace tessaro
