// Object variables and For Each in the register form against the tree
// walker (objectlocals.tqs): each procedure prints and fails the same both
// ways and is really translated; a walk passes over a member destroyed
// while it runs; however a walk ends, what it held of the members is let
// go of.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "programrun.h"

namespace tq::compiler::test {
namespace {

const std::string kObjectLocals = kPrograms + "/objectlocals";

// A print sink that destroys an object the first time a text with "zap"
// is printed: a member destroyed in the middle of a walk.
class ZappingPrintable final : public TextPrintable {
public:
    std::string text;
    InterObjRep* victim = nullptr;

protected:
    void write(const char* t, size_t length) override {
        text.append(t, length);
        if (victim && text.find("zap") != std::string::npos) {
            InterObjRep* o = victim;
            victim = nullptr;
            o->Destroy();
        }
    }
};

class ObjectLocals : public ProgramSuite {
protected:
    // Loads the program afresh with the register form on or off.
    void load(bool registerForm) {
        UnloadEveryModule();
        InterObjRep::DeleteObjects();
        RegisterForm::SetEnabled(registerForm);
        const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
        LoadTextModuleFile(kObjectLocals + ".tqs", m);
        program_ = ObjectWith(m, "Main");
        ASSERT_NE(program_, nullptr);
    }

    // Runs the methods in turn: what out holds then, and the failure that
    // escaped the last, with its line and procedure.
    std::string run(const std::vector<const char*>& methods, ZappingPrintable& out) {
        app_.setCurrentPrintable(&out);
        for (const char* method : methods) {
            try {
                int handled = 0;
                program_->evalIMember(method, nullptr, &handled);
            } catch (const StoreException& e) {
                return out.text + "|failure: " + e.what() + " line " + std::to_string(e.line) + " in " +
                       (e.procedure ? e.procedure->name() : "?");
            }
        }
        return out.text;
    }
    std::string runFresh(const std::vector<const char*>& methods, bool registerForm) {
        load(registerForm);
        ZappingPrintable out;
        return run(methods, out);
    }

    bool translated(const char* method) {
        auto* proc = dynamic_cast<InterProcField*>(program_->findField(method));
        bool notTaken = false;
        return proc && proc->registerForm().current(notTaken) != nullptr;
    }

    // One of the program's fruit (objects embedded in it).
    InterObjRep* fruit(const char* name) {
        InterObj o;
        program_->eval(name)->get(o);
        return o.get();
    }

    DefaultStoreApplication app_;
    InterObjRep* program_ = nullptr;
};

TEST_F(ObjectLocals, EachProcedureRunsInRegisterFormWithTheTreeWalkersResult) {
    struct Case {
        std::vector<const char*> run;  // Fill (on the tree walker) first where a walk needs members
        const char* expected;          // a piece of what both forms give
        // Changing calls the group's methods with arguments, which keep
        // it on the tree walker.
        bool translated = true;
    };
    const Case cases[] = {
        {{"Assign"}, "field:-1-10\n"},
        {{"Blocks"}, "1-1-120-130-1"},
        {{"Fill", "Walk"}, "pear at2\nwalked3-1"},
        {{"Fill", "WalkEmpty"}, "empty walk0-1"},
        {{"Fill", "Changing"}, "changing walk30", false},
        {{"Fill", "Leave"}, "left at2-1\ninner exits35-1"},
        {{"Fill", "FindPear", "Failing"}, "|failure: Division by zero. line 5 in Failing"},
        {{"Fill", "Embedded"}, "embedded:0\nembedded and copies7"},
        {{"Fill", "Typed"}, "typed walk3-1\n|failure: types mismatched for requested operation line 7 in Typed"},
        {{"Fill", "TypedWalk"}, "|failure: types mismatched for requested operation line 3 in TypedWalk"},
        {{"NotAGroup"}, "|failure: Expected an object of type 'Group' for 'In' object. line 3 in NotAGroup"},
        {{"NoGroup"}, " line 3 in NoGroup"},
    };
    for (const Case& c : cases) {
        const std::string tree = runFresh(c.run, false);
        const std::string reg = runFresh(c.run, true);
        EXPECT_EQ(reg, tree) << c.run.back();
        EXPECT_NE(reg.find(c.expected), std::string::npos) << c.run.back() << ": " << reg;
        EXPECT_EQ(translated(c.run.back()), c.translated) << c.run.back();
    }
}

TEST_F(ObjectLocals, RecursiveWalksKeepTheirOwnMembersAndVariables) {
    for (bool registerForm : {false, true}) {
        load(registerForm);
        ZappingPrintable out;
        run({"Fill"}, out);
        // Nest takes its level from the caller: 3 + 9 + 27 members visited.
        ValueList args;
        args.append(ValuePtr(new LongValue(3)));
        program_->eval("Visits")->set(int32_t{0});
        int handled = 0;
        program_->evalIMember("Nest", &args, &handled);
        EXPECT_EQ(program_->eval("Visits")->as<int32_t>(), 39) << registerForm;
        EXPECT_EQ(out.text.find("lost"), std::string::npos) << out.text;
        if (registerForm) {
            EXPECT_TRUE(translated("Nest"));
        }
    }
}

TEST_F(ObjectLocals, AWalkPassesOverAMemberDestroyedWhileItRuns) {
    for (bool registerForm : {false, true}) {
        const char* form = registerForm ? "register form" : "tree walker";
        load(registerForm);
        ZappingPrintable out;
        EXPECT_EQ(run({"Fill", "Zapping"}, out), "apple pear zap plum walked30\n") << form;
        // (Destroying an object moves the keys a form is kept under.)
        EXPECT_EQ(translated("Zapping"), registerForm);
        out.text.clear();
        out.victim = fruit("Plum");
        ASSERT_NE(out.victim, nullptr);
        EXPECT_EQ(run({"Fill", "Zapping"}, out), "apple pear zap walked2-1\n") << form;
    }
}

// The walk's members and the variables' objects are counted while the
// procedure runs; by its end, normal, Exit For or a failure, every count
// it took is given back.
TEST_F(ObjectLocals, AWalkGivesBackEveryCountHoweverItEnds) {
    load(true);
    ZappingPrintable out;
    run({"Fill"}, out);
    InterObjRep* pear = fruit("Pear");
    ASSERT_NE(pear, nullptr);
    for (const char* method : {"Walk", "Leave", "FindPear", "Failing", "Assign", "Walk"}) {
        const uint16_t before = pear->refCount();
        run({method}, out);
        EXPECT_EQ(pear->refCount(), before) << method;
        EXPECT_TRUE(translated(method)) << method;
    }
}

}  // namespace
}  // namespace tq::compiler::test
