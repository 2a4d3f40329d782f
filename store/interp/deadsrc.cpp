// Dead source: fragments, their packing and their record.
#include "store/deadsrc.h"

#include <cstring>
#include <memory>
#include <utility>

#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/errors/extexcep.h"

namespace tq {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

// ---- fragments --------------------------------------------------------------------------

DSObj::DSObj(uint32_t line, const char* text, uint8_t kind, int trim) : line_(line), kind_(kind) {
    const char* begin = text ? text : "";
    const char* end = std::strchr(begin, '\n');
    if (!end) end = begin + std::strlen(begin);
    if (trim & DS_TRIM_LEADING)
        while (begin < end && IsBlank(*begin)) ++begin;
    if (trim & DS_TRIM_TRAILING)
        while (end > begin && IsBlank(end[-1])) --end;
    text_.assign(begin, end);
}

// ---- the packed form ----------------------------------------------------------------------

DeadSourceRep::DeadSourceRep(const std::vector<DSObj>& fragments) {
    fragments_.resize(fragments.size() * DSObj::kRecordSize);
    uint8_t* at = fragments_.data();
    for (const DSObj& f : fragments) {
        StoreLE32(at + 1, f.line());
        at[9] = f.kind();
        StoreLE32(at + 10, static_cast<uint32_t>(pool_.size()));
        pool_.insert(pool_.end(), f.text().begin(), f.text().end());
        pool_.push_back('\0');
        at += DSObj::kRecordSize;
    }
}

uint32_t DeadSourceRep::line(uint32_t i) const { return LoadLE32(&fragments_[i * DSObj::kRecordSize + 1]); }

uint8_t DeadSourceRep::kind(uint32_t i) const { return fragments_[i * DSObj::kRecordSize + 9]; }

const char* DeadSourceRep::text(uint32_t i) const {
    return pool_.data() + LoadLE32(&fragments_[i * DSObj::kRecordSize + 10]);
}

DeadSourceRep* DeadSourceRep::Read(OCLStream& in, const std::string& where) {
    auto fail = [&where](const std::string& what) {
        const std::string text = where + ": dead source: " + what;
        throw ObjectLoadFailed(text.c_str());
    };
    if (in.remaining() < 16) fail("the record runs past the end of the stream");
    const uint32_t arrayLength = in.readU32();
    in.readU32();  // the cursor of whoever wrote it
    const uint32_t count = in.readU32();
    const uint32_t poolLength = in.readU32();
    if (uint64_t(count) * DSObj::kRecordSize != arrayLength)
        fail("the fragment count " + std::to_string(count) + " does not match the array of " +
             std::to_string(arrayLength) + " bytes");
    if (uint64_t(arrayLength) + poolLength > in.remaining()) fail("the record runs past the end of the stream");
    std::unique_ptr<DeadSourceRep> rep(new DeadSourceRep());
    rep->fragments_.resize(arrayLength);
    rep->pool_.resize(poolLength);
    in.read(rep->fragments_.data(), arrayLength);
    in.read(rep->pool_.data(), poolLength);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t kind = rep->kind(i);
        if (kind < DS_TEXT || kind > DS_APOSTROPHE)
            fail("fragment " + std::to_string(i) + " has the unknown kind " + std::to_string(kind));
        const uint32_t offset = LoadLE32(&rep->fragments_[i * DSObj::kRecordSize + 10]);
        if (offset >= poolLength || !std::memchr(rep->pool_.data() + offset, '\0', poolLength - offset))
            fail("the text of fragment " + std::to_string(i) + " does not lie in the pool");
    }
    return rep.release();
}

void DeadSourceRep::write(OCLStream& out) const {
    out.writeU32(static_cast<uint32_t>(fragments_.size()));
    out.writeU32(0);
    out.writeU32(count());
    out.writeU32(static_cast<uint32_t>(pool_.size()));
    out.write(fragments_.data(), fragments_.size());
    out.write(pool_.data(), pool_.size());
}

// ---- the handle ----------------------------------------------------------------------------

DeadSource::DeadSource(std::vector<DSObj>& fragments) : DeadSource(new DeadSourceRep(fragments)) {
    fragments.clear();
}

DeadSource::DeadSource(DeadSourceRep* rep) : rep_(rep) {
    if (rep_) rep_->ref();
}

DeadSource& DeadSource::operator=(const DeadSource& other) {
    if (other.rep_) other.rep_->ref();
    if (rep_) rep_->deref();
    rep_ = other.rep_;
    return *this;
}

DeadSource::~DeadSource() {
    if (rep_) rep_->deref();
}

void DeadSource::write(OCLStream& out) const {
    if (rep_) return rep_->write(out);
    for (int i = 0; i < 4; ++i) out.writeU32(0);
}

DeadSource DeadSource::Read(OCLStream& in, const std::string& where) {
    return DeadSource(DeadSourceRep::Read(in, where));
}

}  // namespace tq
