// Dead source: how a fragment takes its text, the packed record byte for
// byte, copies that print on their own, and records from files that must
// not be trusted.
#include "store/deadsrc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/errors/extexcep.h"

namespace tq {
namespace {

std::vector<uint8_t> Written(const DeadSource& ds) {
    OCLStorage scratch;
    OCLStream s(scratch, "x", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    ds.write(s);
    std::vector<uint8_t> bytes(s.size());
    s.seek(0);
    s.read(bytes.data(), bytes.size());
    return bytes;
}

// Reads bytes as a record: the failure's text, or "" and the fragments.
std::string Read(const std::vector<uint8_t>& bytes, DeadSource* out = nullptr) {
    OCLStorage scratch;
    OCLStream s(scratch, "x", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.write(bytes.data(), bytes.size());
    s.seek(0);
    try {
        DeadSource ds = DeadSource::Read(s, "procedure 'P'");
        if (out) *out = ds;
    } catch (const ObjectLoadFailed& e) {
        return e.objectName() ? e.objectName() : "?";
    }
    return "";
}

TEST(DeadSourceFragments, TakeOneLineOfTextTrimmedAsAsked) {
    EXPECT_EQ(DSObj(1, "  Dim x As Long  \nnext line", DS_TEXT).text(), "  Dim x As Long  ");
    EXPECT_EQ(DSObj(1, "  Dim x  ", DS_TEXT, DS_TRIM_LEADING).text(), "Dim x  ");
    EXPECT_EQ(DSObj(1, "  Dim x \t\r", DS_TEXT, DS_TRIM_TRAILING).text(), "  Dim x");
    EXPECT_EQ(DSObj(1, " \t note \r\n", DS_APOSTROPHE, DS_TRIM_BOTH).text(), "note");
    EXPECT_EQ(DSObj(1, nullptr, DS_REM).text(), "");
    const DSObj d(7, "x", DS_REM);
    EXPECT_EQ(d.type(), DS_REM | DS_STATE_POINTER) << "a fragment being built holds its own text";
    EXPECT_EQ(d.kind(), DS_REM);
}

TEST(DeadSourceFragments, PackIntoARecordOfFourteenByteFragmentsAndAPool) {
    DSObjList list;
    list.emplace_back(0, "Sub Main()", DS_TEXT);
    list.emplace_back(3, "note", DS_APOSTROPHE);
    list.back().flags = 0xA5;
    list.back().column = 0x01020304;
    DeadSource ds(list);
    EXPECT_TRUE(list.empty()) << "the compiler's list is emptied for reuse";
    ds->setCursor(2);
    const std::vector<uint8_t> r = Written(ds);
    ASSERT_EQ(r.size(), 16u + 2 * 14 + 11 + 5);
    EXPECT_EQ(LoadLE32(&r[0]), 28u);
    EXPECT_EQ(LoadLE32(&r[4]), 0u) << "the cursor is not data";
    EXPECT_EQ(LoadLE32(&r[8]), 2u);
    EXPECT_EQ(LoadLE32(&r[12]), 16u);
    const uint8_t* f = &r[16];
    EXPECT_EQ(f[0], 0);
    EXPECT_EQ(LoadLE32(f + 1), 0u);
    EXPECT_EQ(f[9], DS_TEXT);
    EXPECT_EQ(LoadLE32(f + 10), 0u);
    f += 14;
    EXPECT_EQ(f[0], 0xA5);
    EXPECT_EQ(LoadLE32(f + 1), 3u);
    EXPECT_EQ(LoadLE32(f + 5), 0x01020304u);
    EXPECT_EQ(f[9], DS_APOSTROPHE);
    EXPECT_EQ(LoadLE32(f + 10), 11u);
    EXPECT_EQ(std::memcmp(&r[44], "Sub Main()\0note\0", 16), 0);
    // Read back, every byte the compiler gave is kept.
    DeadSource back;
    ASSERT_EQ(Read(r, &back), "");
    ASSERT_EQ(back.count(), 2u);
    EXPECT_EQ(back->cursor(), 0u);
    EXPECT_STREQ(back->text(1), "note");
    EXPECT_EQ(back->flags(1), 0xA5);
    EXPECT_EQ(back->column(1), 0x01020304u);
    EXPECT_EQ(Written(back), r);
    // No dead source at all is a record of no fragments.
    EXPECT_EQ(Written(DeadSource()), std::vector<uint8_t>(16, 0));
}

TEST(DeadSourceFragments, ACopyHasItsOwnFragmentsAndCursor) {
    DSObjList list;
    list.emplace_back(1, "Sub A()", DS_TEXT);
    DeadSource ds(list);
    ds->setCursor(1);
    DeadSource copy = ds.copy();
    EXPECT_NE(copy.get(), ds.get());
    EXPECT_EQ(copy->cursor(), 0u);
    EXPECT_STREQ(copy->text(0), "Sub A()");
    EXPECT_NE(copy->text(0), ds->text(0));
}

TEST(DeadSourceRecords, FromFilesAreCheckedBeforeUse) {
    DSObjList list;
    list.emplace_back(1, "Sub A()", DS_TEXT);
    list.emplace_back(2, "x", DS_APOSTROPHE);
    const std::vector<uint8_t> good = Written(DeadSource(list));
    auto edited = [&good](size_t at, uint32_t v) {
        std::vector<uint8_t> r = good;
        StoreLE32(&r[at], v);
        return r;
    };
    std::vector<uint8_t> badKind = good;
    badKind[16 + 9] = 4;
    std::vector<uint8_t> noNul = good;
    noNul.back() = 'y';
    std::vector<uint8_t> cut = good;
    cut.resize(cut.size() - 1);
    const struct Case {
        std::vector<uint8_t> bytes;
        const char* text;
    } cases[] = {
        {edited(0, 27), "procedure 'P': dead source: the fragment count 2 does not match the array of 27 bytes"},
        {edited(8, 0x12492493), "procedure 'P': dead source: the fragment count 306783379 does not match the array of 28 bytes"},
        {edited(16 + 14 + 10, 1000), "procedure 'P': dead source: the text of fragment 1 does not lie in the pool"},
        {noNul, "procedure 'P': dead source: the text of fragment 1 does not lie in the pool"},
        {badKind, "procedure 'P': dead source: fragment 0 has the unknown kind 4"},
        {cut, "procedure 'P': dead source: the record runs past the end of the stream"},
        {edited(12, 0xFFFFFFF0), "procedure 'P': dead source: the record runs past the end of the stream"},
        {std::vector<uint8_t>(good.begin(), good.begin() + 10), "procedure 'P': dead source: the record runs past the end of the stream"},
    };
    for (const Case& c : cases) EXPECT_EQ(Read(c.bytes), c.text);
    EXPECT_EQ(Read(good), "");
}

}  // namespace
}  // namespace tq
