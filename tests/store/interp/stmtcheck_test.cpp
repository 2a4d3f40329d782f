// The check of a stored block meets each control statement: a node whose
// fields do not hold together (a form or kind not defined, a clause past its
// statement, tables that do not match their counts, a missing body) is
// refused with ObjectLoadFailed naming the fault and its offset.
#include <string>
#include <vector>

#include "platform/util/lebytes.h"
#include "store/interp/nodechk.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using StatementChecks = InterpTest;

// The node area of a block holding the one statement of text.
std::vector<uint8_t> Area(const std::string& text) {
    Program p;
    Faultp<BlockRep> b(p.makeBlock(text));
    return std::vector<uint8_t>(b->nodes(), b->nodes() + b->byteLength());
}

std::string Check(const std::vector<uint8_t>& area) {
    NodeCheck c(area.data(), static_cast<uint32_t>(area.size()), "test block");
    try {
        c.checkStatements(1);
    } catch (const ObjectLoadFailed& e) {
        return e.objectName();
    }
    return "sound";
}

std::vector<uint8_t> Set8(std::vector<uint8_t> a, size_t at, uint8_t v) {
    a.at(at) = v;
    return a;
}
std::vector<uint8_t> Set16(std::vector<uint8_t> a, size_t at, uint16_t v) {
    StoreLE16(&a.at(at), v);
    return a;
}
std::vector<uint8_t> Set32(std::vector<uint8_t> a, size_t at, uint32_t v) {
    StoreLE32(&a.at(at), v);
    return a;
}

TEST_F(StatementChecks, EachStatementKindRefusesFieldsThatDoNotHoldTogether) {
    const auto loop = Area("Do While V\nLoop");
    const auto forever = Area("Do\nLoop");
    const auto count = Area("For V = 1 To 3 Step 1\nNext");
    const auto plain = Area("For V = 1 To 3\nNext");
    const auto each = Area("For Each V EmbeddedIn Me\nNext");
    const auto select = Area("Select Case V\nCase 1, 2\nCase Else\nEnd Select");
    const auto block = Area("If V Then\nElseIf W Then\nEnd If");
    const auto one = Area("If V Then W = 1 Else W = 2");
    const auto guarded = Area("Try\nCatch\nEnd Try");
    const auto print = Area("Print 1; 2");
    const auto thrown = Area("Throw Oops(1)");
    const auto redim = Area("ReDim A(3)");
    const auto call = Area("Foo 1");
    const auto with = Area("With V\nEnd With");
    const auto seed = Area("Randomize 3");
    // Offsets of a Select's first clause record: after the head and the test.
    const size_t clause = 29 + 10;
    const struct {
        const char* what;
        std::vector<uint8_t> area;
        std::string text;
    } cases[] = {
        {"a loop form that is not defined", Set8(loop, 15, 9), "loop form 9 is not defined at offset 0"},
        {"a form without condition that has one", Set8(loop, 15, 7),
         "a loop without a condition holds more than its head at offset 0"},
        {"a form with condition that has none", Set8(forever, 15, 3),
         "an expression runs past its parent at offset 20"},
        {"a loop without a body", Set32(loop, 16, 0xFFFFFFFF), "a sub-block is missing at offset 0"},
        {"a For loop type that is not defined", Set8(count, 6, 0x50), "For loop type 5 is not defined at offset 0"},
        {"an end offset beside its expression", Set32(count, 27, LoadLE32(&count[27]) + 1),
         "the offset of the end expression does not match where it lies at offset 0"},
        {"a no-step flag on a loop with a step", Set8(count, 6, 0x04),
         "the no-step flag does not match the step offset at offset 0"},
        {"a standard loop without an end", Set32(plain, 27, 0), "a For loop has no end expression at offset 0"},
        {"a For Each with an end", Set32(each, 27, 35), "a For Each loop has an end or step expression at offset 0"},
        {"more clause records than the statement holds", Set16(select, 27, 3),
         "clause record 3 of 3 runs past its Select Case at offset " + std::to_string(select.size())},
        {"a first record that continues a Case line", Set16(select, clause, 2 + 128),
         "the first clause record is not the first test of a Case line at offset 39"},
        {"a clause record of a kind that is no test", Set16(select, clause, 9),
         "clause record kind 9 is not a Case test at offset 39"},
        {"a clause record past its statement", Set32(select, clause + 2, 400),
         "clause record 1 of 2 runs past its Select Case at offset 39"},
        {"a block If without conditions", Set32(block, 15, 0), "a block If has no condition at offset 0"},
        {"a block If whose tables do not match its count", Set32(block, 27, 40),
         "the table offsets of ComplexIfThen do not match its clause count at offset 0"},
        {"a one-line If without its Then part", Set32(one, 15, 0xFFFFFFFF), "a sub-block is missing at offset 0"},
        {"catch clauses that do not fill the Try", Set32(guarded, 23, 2),
         "the 2 catch clauses do not fill TryBlock exactly at offset 0"},
        {"a catch clause without a body", Set32(guarded, 27 + 11, 0xFFFFFFFF), "a sub-block is missing at offset 27"},
        {"a Print separator that is none", Set32(print, 35, 7), "Print's separator 7 is not one at offset 0"},
        {"a Print item kind that is none", Set32(print, 35 + 8, 0), "Print's item kind 0 is not one at offset 0"},
        {"a Print last separator that is none", Set32(print, 15, 5), "Print's last separator 5 is not one at offset 0"},
        {"Print tables beside their counts", Set32(print, 31, 3),
         "the table offsets of Print do not match its target and item count at offset 0"},
        {"a Throw of a typed name", Set8(thrown, 15 + 7, IDT_LONG), "the name a Throw raises has a type at offset 15"},
        {"a ReDim of Me", Set8(redim, 15 + 6, 0x08), "ReDim names Me as its array at offset 15"},
        {"a ReDim without dimensions", Set16(redim, 25, 0), "ReDim has no dimensions at offset 0"},
        {"a call of a constant", Set16(call, 16, EXPR_LONG_CONSTANT),
         "an identifier must stand here, not expression kind 4 at offset 16"},
        {"a With without a body", Set32(with, 15, 0xFFFFFFFF), "a sub-block is missing at offset 0"},
        {"a Randomize marked without a seed that has one", Set8(seed, 6, 0x04),
         "Randomize without a seed holds more than its head at offset 0"},
    };
    for (const auto& c : cases) EXPECT_EQ(Check(c.area), "test block: " + c.text) << c.what;
    // And each unchanged statement is sound.
    for (const auto* a : {&loop, &forever, &count, &plain, &each, &select, &block, &one, &guarded, &print, &thrown,
                          &redim, &call, &with, &seed})
        EXPECT_EQ(Check(*a), "sound");
}

}  // namespace
}  // namespace tq
