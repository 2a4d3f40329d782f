// Dead source: building, packing, copying, reading and writing fragments.
#include "store/deadsrc.h"

#include <cstring>
#include <string_view>

#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"

namespace tq {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

constexpr uint32_t kLineAt = 1;
constexpr uint32_t kColumnAt = 5;
constexpr uint32_t kKindAt = 9;
constexpr uint32_t kTextAt = 10;
// The record's fixed part: array length, cursor, count, pool length.
constexpr uint32_t kRecordHead = 16;

}  // namespace

// ---- building --------------------------------------------------------------------------

DSObj::DSObj(uint32_t line, const char* text, uint8_t kind, DSTrimType trim)
    : line_(line), type_(static_cast<uint8_t>(kind | DS_STATE_POINTER)) {
    std::string_view t(text ? text : "");
    // A fragment is one line: the text stops at its first line feed.
    if (const size_t lf = t.find('\n'); lf != std::string_view::npos) t = t.substr(0, lf);
    if (trim & DS_TRIM_LEADING) {
        while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
    }
    if (trim & DS_TRIM_TRAILING) {
        while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
    }
    text_.assign(t);
}

// ---- packing ----------------------------------------------------------------------------

DeadSourceRep::DeadSourceRep(const DSObjList& list) {
    uint64_t pool = 0;
    for (const DSObj& d : list) {
        TQ_ASSERT(d.type() & DS_STATE_POINTER, "dsobj.type & DS_STATE_POINTER");
        // A text is cut at an embedded NUL: the pool holds NUL-terminated texts.
        pool += std::strlen(d.text().c_str()) + 1;
    }
    TQ_ASSERT(list.size() < 0x7FFFFFFF / DSObj::kRecordSize && pool < 0x7FFFFFFF, "dead source fits 32 bits");
    count_ = static_cast<uint32_t>(list.size());
    poolLength_ = static_cast<uint32_t>(pool);
    fragments_ = std::make_unique<uint8_t[]>(size_t(count_) * DSObj::kRecordSize);
    pool_ = std::make_unique<char[]>(poolLength_);
    uint32_t at = 0;
    for (uint32_t i = 0; i < count_; ++i) {
        const DSObj& d = list[i];
        uint8_t* r = fragments_.get() + size_t(i) * DSObj::kRecordSize;
        r[0] = d.flags;
        StoreLE32(r + kLineAt, d.line());
        StoreLE32(r + kColumnAt, d.column);
        r[kKindAt] = static_cast<uint8_t>(d.type() & ~DS_STATE_POINTER);
        StoreLE32(r + kTextAt, at);
        const size_t n = std::strlen(d.text().c_str()) + 1;
        std::memcpy(pool_.get() + at, d.text().c_str(), n);
        at += static_cast<uint32_t>(n);
    }
}

DeadSourceRep::DeadSourceRep(const DeadSourceRep& other)
    : CountedObject(), count_(other.count_), poolLength_(other.poolLength_) {
    fragments_ = std::make_unique<uint8_t[]>(size_t(count_) * DSObj::kRecordSize);
    pool_ = std::make_unique<char[]>(poolLength_);
    if (count_) std::memcpy(fragments_.get(), other.fragments_.get(), size_t(count_) * DSObj::kRecordSize);
    if (poolLength_) std::memcpy(pool_.get(), other.pool_.get(), poolLength_);
}

uint32_t DeadSourceRep::line(uint32_t i) const { return LoadLE32(record(i) + kLineAt); }
uint8_t DeadSourceRep::kind(uint32_t i) const { return record(i)[kKindAt]; }
uint32_t DeadSourceRep::column(uint32_t i) const { return LoadLE32(record(i) + kColumnAt); }
const char* DeadSourceRep::text(uint32_t i) const { return pool_.get() + LoadLE32(record(i) + kTextAt); }

// ---- the record ------------------------------------------------------------------------

DeadSourceRep* DeadSourceRep::Read(OCLStream& in, const std::string& where) {
    auto fail = [&where](const std::string& what) {
        const std::string text = where + ": dead source: " + what;
        throw ObjectLoadFailed(text.c_str());
    };
    if (in.remaining() < kRecordHead) fail("the record runs past the end of the stream");
    const uint32_t arrayLength = in.readU32();
    in.readU32();  // the cursor of whoever wrote it
    const uint32_t count = in.readU32();
    const uint32_t poolLength = in.readU32();
    if (uint64_t(count) * DSObj::kRecordSize != arrayLength)
        fail("the fragment count " + std::to_string(count) + " does not match the array of " +
             std::to_string(arrayLength) + " bytes");
    if (uint64_t(arrayLength) + poolLength > in.remaining()) fail("the record runs past the end of the stream");
    auto rep = std::make_unique<DeadSourceRep>();
    rep->fragments_ = std::make_unique<uint8_t[]>(arrayLength);
    rep->pool_ = std::make_unique<char[]>(poolLength);
    in.read(rep->fragments_.get(), arrayLength);
    in.read(rep->pool_.get(), poolLength);
    rep->count_ = count;
    rep->poolLength_ = poolLength;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t kind = rep->kind(i);
        if (kind < DS_TEXT || kind > DS_APOSTROPHE)
            fail("fragment " + std::to_string(i) + " has the unknown kind " + std::to_string(kind));
        // Every text must end inside the pool, so that nothing reads past it.
        const uint32_t offset = LoadLE32(rep->record(i) + kTextAt);
        if (offset >= poolLength || !std::memchr(rep->pool_.get() + offset, '\0', poolLength - offset))
            fail("the text of fragment " + std::to_string(i) + " does not lie in the pool");
    }
    return rep.release();
}

void DeadSourceRep::write(OCLStream& out) const {
    out.writeU32(count_ * DSObj::kRecordSize);
    // The cursor is printing state, not data: a record saved after a
    // printing is the same as one saved before.
    out.writeU32(0);
    out.writeU32(count_);
    out.writeU32(poolLength_);
    if (count_) out.write(fragments_.get(), size_t(count_) * DSObj::kRecordSize);
    if (poolLength_) out.write(pool_.get(), poolLength_);
}

void DeadSource::write(OCLStream& out) const {
    if (rep_) return rep_->write(out);
    for (int i = 0; i < 4; ++i) out.writeU32(0);
}

}  // namespace tq
