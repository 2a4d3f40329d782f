// The demo: a module of shapes kept in a module file across two runs.
//
//   tqdemo create <file>   builds the module, saves and commits it
//   tqdemo change <file>   reopens it (a fresh process), shows its objects,
//                          changes them, saves again and shows them again
//
// It uses only the library's public API, as a host would.
#include <tqstore/tqstore.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

using namespace tq;

Field* FieldOf(InterObjRep* o, const char* name, SignatureRep*& owner) {
    Field* f = o->signature()->findField(name, owner, 0);
    if (!f) throw NotFound(32737, name);
    return f;
}

void SetLong(InterObjRep* o, const char* name, int32_t v) {
    SignatureRep* owner = nullptr;
    FieldOf(o, name, owner)->set(v, *o, *owner);
}

void SetDouble(InterObjRep* o, const char* name, double v) {
    SignatureRep* owner = nullptr;
    FieldOf(o, name, owner)->set(v, *o, *owner);
}

void SetText(InterObjRep* o, const char* name, const char* text) {
    SignatureRep* owner = nullptr;
    FieldOf(o, name, owner)->set(ValString(text), *o, *owner);
}

void SetObject(InterObjRep* o, const char* name, InterObjRep* value) {
    SignatureRep* owner = nullptr;
    FieldOf(o, name, owner)->set(InterObj(value), *o, *owner);
}

// Element i of a one-dimensional array field of o.
ValuePtr Element(InterObjRep* o, const char* name, int32_t i) {
    ValueList index;
    index.ppush(ValuePtr(new LongValue(i)));
    return o->eval(name, IDT_UNTYPED, &index, nullptr, 0, nullptr, nullptr);
}

InterObjRep* Find(const char* path) {
    InterObj o;
    if (!ObjectStore::find(path, o)) throw NotFound(32740, path);
    return o.get();
}

// Every static object of module m with its properties, as text.
void Show(tModuleIndex m) {
    std::printf("module %s (%s)\n", static_cast<const char*>(ObjectStore::FormatModuleDisplayName(m)),
                static_cast<const char*>(ObjectStore::FormatModuleVersion(m)));
    ObjectStore::StaticObjectsIterator statics(m);
    while (StaticGlobals::Entry* e = statics()) {
        InterObjRep* o = e->object.get();
        if (!o) continue;
        std::string text;
        o->textUnload("    ", text, 0, 0, nullptr);
        std::printf("  %s%s\n%s", o->name(), o->isClone() ? " (a clone)" : "", text.c_str());
        InterObjFieldIterator fields(o);
        while (Field* f = fields()) {
            if (!f->isArrayData()) continue;
            auto* a = static_cast<InterArrayField*>(f);
            std::printf("    .%s(%d To %d) =", f->name(), a->getLBound(0), a->getUBound(0));
            for (int32_t i = a->getLBound(0); i <= a->getUBound(0); ++i)
                std::printf(" %d", Element(o, f->name(), i)->as<int32_t>());
            std::printf("\n");
        }
        InterObjEmbedIterator embeds(o);
        while (embeds()) {
            if (InterObjRep* inner = embeds.embed()) {
                std::string innerText;
                inner->textUnload("      ", innerText, 0, 0, nullptr);
                std::printf("    embedded %s\n%s", inner->alias().c_str(), innerText.c_str());
            }
        }
    }
    std::printf("  dynamic objects: %d\n", ObjectStore::DynamicCount(m));
}

void Create(const char* path) {
    const tModuleIndex m = ObjectStore::LoadModule(path, 1, 0);

    // An enumeration of the module: a field typed by it reads and writes
    // the entries' names.
    EnumRep* colour = new EnumRep("Colour", 0);
    colour->addEntry("Red", 1);
    colour->addEntry("Green", 2);
    colour->addEntry("Blue", 3);

    // A prototype and its data fields: each field is laid out in the data of
    // every object of the signature.
    InterObj shape(InterObjRep::NewNamed("Shape", nullptr, m, IOT_ORDINARY));
    shape->addField(InterDataField::make("Title", IDT_STRING, 1));
    shape->addField(InterDataField::make("Sides", IDT_LONG, 1));
    shape->addField(InterDataField::make("Area", IDT_DOUBLE, 1));
    shape->addField(InterEnumField::make("Colour", colour, 1));
    SetText(shape.get(), "Title", "any shape");
    SetText(shape.get(), "Colour", "Red");

    // Named clones share the prototype's signature and hold their own data.
    InterObj square(InterObjRep::NewNamed("Square", shape.get(), m, IOT_ORDINARY));
    SetText(square.get(), "Title", "a square");
    SetLong(square.get(), "Sides", 4);
    SetDouble(square.get(), "Area", 16.0);
    SetText(square.get(), "Colour", "Blue");
    InterObj triangle(InterObjRep::NewNamed("Triangle", shape.get(), m, IOT_ORDINARY));
    SetText(triangle.get(), "Title", "a triangle");
    SetLong(triangle.get(), "Sides", 3);
    SetDouble(triangle.get(), "Area", 6.0);

    // A second prototype with an embedded shape, a reference to one and an
    // array of longs.
    InterObj drawing(InterObjRep::NewNamed("Drawing", nullptr, m, IOT_ORDINARY));
    drawing->addField(InterDataField::make("Caption", IDT_STRING, 1));
    drawing->addField(new EmbedObjField("Frame", "Shape"));
    drawing->addField(InterDataField::make("Favourite", IDT_OBJECT, 1, "Shape"));
    InterArrayField* sizes = InterArrayField::make("Sizes", IDT_LONG, 1);
    sizes->defineBounds(0, 1, 4);
    drawing->addField(sizes);
    for (int32_t i = 1; i <= 4; ++i) *Element(drawing.get(), "Sizes", i) = LongValue(i * i);
    SetText(drawing.get(), "Caption", "shapes of the demo");
    SetObject(drawing.get(), "Favourite", square.get());
    InterObjRep* frame = Find("Drawing.Frame");
    SetText(frame, "Title", "the frame");
    SetLong(frame, "Sides", 4);

    // An unnamed object that persists in the module.
    InterObj scratch(InterObjRep::NewCopy(*shape, m, IOT_DYNAMIC));
    SetText(scratch.get(), "Title", "an unnamed shape");

    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    std::printf("created %s: %d static objects, %d dynamic\n", path, ObjectStore::StaticCount(m),
                ObjectStore::DynamicCount(m));
    shape = square = triangle = drawing = scratch = nullptr;
    ObjectStore::UnloadModule(m);
}

void Change(const char* path) {
    const tModuleIndex m = ObjectStore::LoadModule(path, 0, 0);
    std::printf("-- as loaded\n");
    Show(m);

    InterObjRep* triangle = Find("Triangle");
    SetDouble(triangle, "Area", 7.5);
    SetText(triangle, "Colour", "Green");
    *Element(Find("Drawing"), "Sizes", 2) = LongValue(40);
    SetText(Find("Drawing"), "Caption", "shapes, changed in a second run");
    SetObject(Find("Drawing"), "Favourite", triangle);
    InterObj hexagon(InterObjRep::NewNamed("Hexagon", Find("Shape"), m, IOT_ORDINARY));
    SetText(hexagon.get(), "Title", "a hexagon");
    SetLong(hexagon.get(), "Sides", 6);
    ObjectStore::Rename("Square", "Box");

    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    std::printf("-- after the changes, saved\n");
    Show(m);
    hexagon = nullptr;
    ObjectStore::UnloadModule(m);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "create") != 0 && std::strcmp(argv[1], "change") != 0)) {
        std::fprintf(stderr, "usage: tqdemo create|change <module file>\n");
        return 2;
    }
    tq::TessaroInitializer start(1);
    int status = 0;
    try {
        if (std::strcmp(argv[1], "create") == 0) {
            std::printf("Tessaro runtime (tqstore) %s\n", tq::LibraryVersion());
            Create(argv[2]);
        } else {
            Change(argv[2]);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tqdemo: %s\n", e.what());
        status = 1;
    }
    tq::ObjectStore::UnloadAllModules(0);
    delete tq::StoreApplication::Current();
    return status;
}
