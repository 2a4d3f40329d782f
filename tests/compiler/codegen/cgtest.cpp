#include "tests/compiler/codegen/cgtest.h"

#include <vector>

namespace tq::compiler {

namespace {

// The default application with its Print output kept.
class PrintingApp : public DefaultStoreApplication {
public:
    PrintingApp() { setCurrentPrintable(&printed); }
    CapturedPrint printed;
};

}  // namespace

void CodegenTest::SetUp() {
    ObjectStore::OpenModule(DETACHED_MODULE);
    objectsAtStart_ = InterObjRep::LiveCount();
    blocksAtStart_ = BlockRep::LiveCount();
    valuesAtStart_ = Value::LiveCount();
}

void CodegenTest::TearDown() {
    std::vector<InterObjRep*> statics;
    ObjectStore::Dictionary(DETACHED_MODULE).forEach([&](StaticGlobals::Entry& e) {
        if (InterObjRep* o = e.object.get()) statics.push_back(o);
    });
    for (InterObjRep* o : statics)
        if (!o->isDestroyStarted()) o->Destroy();
    InterObjRep::DeleteObjects();
    EXPECT_EQ(ExecutionStack::activeFrames(), 0) << "frames left on the stack";
    EXPECT_EQ(BlockRep::LiveCount(), blocksAtStart_) << "blocks left in memory";
    EXPECT_EQ(InterObjRep::LiveCount(), objectsAtStart_) << "objects left in memory";
    EXPECT_EQ(Value::LiveCount(), valuesAtStart_) << "values left in memory";
}

InterObjRep* CodegenTest::object(const char* name, std::initializer_list<const char*> procedures) {
    InterObjRep* o = InterObjRep::NewNamed(name, nullptr, ObjectStore::OpenModule(), IOT_ORDINARY);
    for (const char* text : procedures) {
        try {
            o->addField(CompileProcedure(text, "test.tqs").release());
        } catch (const CompileError& e) {
            ADD_FAILURE() << e.what();
        }
    }
    return o;
}

void CodegenTest::addData(InterObjRep* o, const char* name, IdType type) {
    o->addField(InterDataField::make(name, type, 1));
}

ValuePtr CodegenTest::call(InterObjRep* obj, const char* name, std::initializer_list<ValuePtr> args) {
    // A call lists its arguments last first.
    ValueList list;
    for (const ValuePtr& a : args) list.ppush(a);
    int handled = 0;
    ValuePtr v = obj->eval(name, IDT_UNTYPED, &list, nullptr, EVAL_DOTTED, &handled, nullptr);
    if (!handled) throw NotFound(32740, name);
    return v;
}

std::string CodegenTest::run(InterObjRep* obj, const char* name, std::initializer_list<ValuePtr> args) {
    PrintingApp app;
    try {
        call(obj, name, args);
    } catch (const StoreException& e) {
        return app.printed.text + "error: " + e.what();
    }
    return app.printed.text;
}

std::string CodegenTest::errorsOf(const char* procedure) {
    try {
        CompileProcedure(procedure, "test.tqs");
    } catch (const CompileError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace tq::compiler
