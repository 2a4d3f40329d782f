// Declarations of built-in members: what a line declares, and the exact
// text and position of every refusal.
#include <gtest/gtest.h>

#include <string>

#include "store/arrayfld.h"
#include "store/builtin/publish.h"
#include "store/errors/storeexc.h"
#include "store/eventdef.h"
#include "store/model/interobj.h"
#include "store/model/sigrep.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"

namespace tq {
namespace {

class Declarations : public ::testing::Test {
protected:
    static void SetUpTestSuite() { IdString::Initialize(); }
    void SetUp() override {
        ObjectStore::OpenModule(DETACHED_MODULE);
        sig_ = Signature(NoParentSig, DETACHED_MODULE);
    }
    void TearDown() override {
        sig_ = nullptr;
        InterObjRep::DeleteObjects();
    }

    // The method a declaration makes, with a null member function.
    Field* declare(const char* text) {
        ParseCppField(text, *sig_, MemberPointer{});
        return sig_->fields().length() ? sig_->fields().at(sig_->fields().length() - 1) : nullptr;
    }
    // The refusal's whole text; empty when the line is accepted.
    std::string refusal(const char* text, bool event = false) {
        try {
            if (event)
                ParseCppEvent(text, *sig_);
            else
                ParseCppField(text, *sig_, MemberPointer{});
        } catch (const StoreException& e) {
            return e.what();
        }
        return "";
    }

    Signature sig_;
};

std::string Expected(const char* line, int position, const char* message) {
    return "Error near character position: " + std::to_string(position) + " while processing line:\n\n" + line +
           "\n\nDescription: " + message;
}

TEST_F(Declarations, EveryRefusalNamesItsMessageAndOneBasedPosition) {
    struct Case {
        const char* line;
        int position;
        const char* message;
        bool event = false;
    };
    const Case cases[] = {
        {"Sub Clear", 10, "Expected '('."},
        {"Sub \"x()", 5, "Strings are illegal here."},
        {"Sub F(a As Integer = 5)", 20, "Logical operators (i.e. =,<,>) are illegal here."},
        {"Sub F(a < b)", 9, "Logical operators (i.e. =,<,>) are illegal here."},
        {"Sub F(a%)", 10, "Expected 'As' keyword."},
        {"Sub F(ByVal a() As Integer)", 16, "Illegal to qualify array parameters with ByVal keyword."},
        {"Sub F(a() As Object)", 20, "Arrays of Objects are not implemented."},
        {"Sub F(a() Strictly As Long)", 19, "Illegal to qualify arrays with Strictly keyword."},
        {"Sub F(a Strictly As Integer)", 28, "Illegal to qualify fundamental type (e.g. Integer) with Strictly keyword."},
        {"Sub F(ByVal o As Object)", 24, "Illegal to declare object parameters with ByVal keyword."},
        {"Sub F(ByVal o Strictly As Form)", 31, "Illegal to declare object parameters with ByVal keyword."},
        {"Sub F(, a As Long)", 8, "Unexpected ','."},
        {"Sub F(a As Long b As Long)", 18, "Expected ','."},
        {"Sub F(a As Long", 16, "Expected ')'."},
        {"Sub F(a( As Long)", 12, "Expected ')'."},
        {"Sub F(As Long)", 9, "Expected an identifier."},
        {"Sub F(a As 5)", 12, "Numeric constants are illegal here."},
        {"Sub F(a As &H1)", 12, "Hexadecimal and Octal constants are illegal here."},
        {"Sub F(a As ,)", 13, "Expected return type specification. (e.g. Integer)."},
        {"Sub F() x", 10, "Expected end of line"},
        {"Dim x As Long", 4, "Expected 'Function' or 'Sub' keyword."},
        {"Sub Dim()", 8, "Expected a valid indentifier."},
        {"Function F(a As Long)", 22, "Expected ') As <type>'. "},
        {"Function F(a As Long) Long", 27, "Expected ') As <type>'. "},
        {"Event Tick", 11, "Expected '('.", true},
        {"Sub Tick()", 4, "Expected 'Event' keyword.", true},
        {"Event Sub()", 10, "Expected a valid identifier", true},
        {"Event Tick() x", 15, "Expected End of Line", true},
    };
    for (const Case& c : cases) EXPECT_EQ(refusal(c.line, c.event), Expected(c.line, c.position, c.message)) << c.line;
    EXPECT_EQ(sig_->fields().length(), 0u) << "a refused line declares nothing";
    EXPECT_EQ(sig_->events().length(), 0u);
}

TEST_F(Declarations, AFunctionKeepsItsReturnTypeAndItsParametersTheirPassing) {
    Field* f = declare("function ObjectAt(BYVAL Index as long) AS Object");
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->name(), "ObjectAt");
    EXPECT_TRUE(f->isFunction());
    EXPECT_EQ(f->type(), IDT_OBJECT);
    auto* m = static_cast<MethodField*>(f);
    ASSERT_EQ(m->parmCount(), 1);
    Field* p = m->parameterPrototype()->signature()->fields().at(0);
    EXPECT_STREQ(p->name(), "Index");
    EXPECT_EQ(p->type(), IDT_LONG);
    EXPECT_FALSE(p->isByReference());
    EXPECT_NE(m->getSource().find("Function ObjectAt(BYVAL Index as long) As Object\r\n"), std::string::npos);
}

TEST_F(Declarations, ParametersTakeTheFieldOfTheirKind) {
    auto* m = static_cast<MethodField*>(
        declare("Sub F(n As Integer, ByVal s As String, a() As Double, o As Form, t Strictly As Form, x As Object)"));
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->isProcedure());
    const FieldPtrList& ps = m->parameterPrototype()->signature()->fields();
    ASSERT_EQ(ps.length(), 6u);
    EXPECT_EQ(ps.at(0)->type(), IDT_SHORT);
    EXPECT_TRUE(ps.at(0)->isByReference()) << "parameters are by reference unless ByVal";
    EXPECT_EQ(ps.at(1)->type(), IDT_STRING);
    EXPECT_FALSE(ps.at(1)->isByReference());
    EXPECT_EQ(ps.at(2)->type(), IDT_DOUBLE | IDT_ARRAY);
    EXPECT_TRUE(ps.at(3)->isObjReference());
    EXPECT_NE(dynamic_cast<StrictInterObjField*>(ps.at(4)), nullptr);
    EXPECT_EQ(dynamic_cast<StrictInterObjField*>(ps.at(3)), nullptr);
    EXPECT_EQ(ps.at(5)->type(), IDT_OBJECT);
    EXPECT_EQ(m->getSource(),
              "Sub F(n As Integer, ByVal s As String, a() As Double, o As Form, t Strictly As Form, x As "
              "Object)\r\n  ' Compiled method\r\nEnd Sub\r\n");
}

TEST_F(Declarations, ASubWithoutParametersHasNoPrototype) {
    auto* m = static_cast<MethodField*>(declare("Sub Clear()"));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->parmCount(), 0);
    EXPECT_EQ(m->parameterPrototype(), nullptr);
}

TEST_F(Declarations, AnEventReplacesItsOwnNameAndStandsBesideAnAncestors) {
    ParseCppEvent("Event Tick(n As Long)", *sig_);
    ParseCppEvent("Event Tick(ByVal n As Long, s As String) As Integer", *sig_);
    ASSERT_EQ(sig_->events().length(), 1u);
    const EventDef* e = sig_->events().at(0);
    EXPECT_EQ(e->args(), "(ByVal n As Long, s As String)");
    EXPECT_EQ(e->returnsValue(), IDT_SHORT);
    EXPECT_FALSE(e->isWriteable()) << "a class declares its events again on every load";

    Signature child = sig_->makeChild(DETACHED_MODULE);
    ParseCppEvent("Event Tick()", *child);
    ASSERT_EQ(child->events().length(), 1u);
    EXPECT_EQ(child->events().at(0)->args(), "()");
    EXPECT_EQ(sig_->events().at(0)->args(), "(ByVal n As Long, s As String)");
    child->unmakeChild();
}

}  // namespace
}  // namespace tq
