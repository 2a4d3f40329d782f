#include "store/errors/storeexc.h"

#include <cstring>

#include "platform/util/syserror.h"
#include "store/errors/msgtable.h"
#include "store/model/interobj.h"
#include "store/vals.h"

namespace tq {
namespace {

// Replaces the first occurrence of placeholder in text by value. Only that
// one conversion is touched: a table text is never used as a printf format,
// so a stray % in it, or a %d where a text is given, cannot read arguments
// that were never passed.
std::string Substitute(std::string text, const char* placeholder, const std::string& value) {
    const size_t at = text.find(placeholder);
    if (at != std::string::npos) text.replace(at, std::strlen(placeholder), value);
    return text;
}

}  // namespace

StoreException::StoreException() : XException("Not an exception") {}

StoreException::StoreException(const char* text, const char* name) : XException(text) {
    setName(name);
}

StoreException::StoreException(const std::string& text) : XException(text) {}

StoreException::StoreException(unsigned id) : XException(ResourceIdToString(nullptr, id)) {}

StoreException::StoreException(unsigned id, const char* arg) : XException(StringMsg(id, arg)) {}

StoreException::StoreException(unsigned id, int32_t n) : XException(NumericMsg(id, n)) {}

StoreException::~StoreException() = default;

StoreException* StoreException::Clone() const { return new StoreException(*this); }

void StoreException::Throw() const { throw StoreException(*this); }

void StoreException::setObject(InterObjRep* obj) { objectCell_ = obj ? obj->handle() : 0; }

InterObjRep* StoreException::object() const {
    return objectCell_ ? HandleTable::Global().getAs<InterObjRep>(objectCell_) : nullptr;
}

const char* StoreException::name() const { return name_ ? name_->c_str() : "Exception"; }

std::unique_ptr<ValueList> StoreException::args() const { return std::make_unique<ValueList>(); }

void StoreException::setName(const char* name) {
    if (name)
        name_ = name;
    else
        name_.reset();
}

std::string StoreException::ResourceIdToString(int* found, unsigned id) {
    const char* text = FindMessage(id);
    if (!text || !*text) {
        if (found) *found = 0;
        return "Exception #" + std::to_string(id) + " (no message available).";
    }
    // The resource buffer holds 127 characters and its terminator; no table
    // text comes near that, the cut only keeps the limit honest.
    std::string result(text, strnlen(text, kMaxMessageLength));
    if (found) *found = static_cast<int>(result.size());
    return result;
}

std::string StoreException::StringMsg(unsigned id, const char* arg) {
    int found = 0;
    std::string text = ResourceIdToString(&found, id);
    if (!found) return text;
    return Substitute(std::move(text), "%s", arg ? std::string(arg) : std::string());
}

std::string StoreException::NumericMsg(unsigned id, int32_t n) {
    int found = 0;
    std::string text = ResourceIdToString(&found, id);
    if (!found) return text;
    return Substitute(std::move(text), "%d", std::to_string(n));
}

const char* StoreException::ObjectNameFromAlias(const char* alias) {
    static char buffer[kMaxObjectNameLength + 1];
    if (!alias) alias = "Nothing";
    const size_t n = strnlen(alias, kMaxObjectNameLength);
    std::memcpy(buffer, alias, n);
    buffer[n] = '\0';
    return buffer;
}

void ThrowSystemError(uint32_t code, const char* name) {
    if (code == 0) code = static_cast<uint32_t>(LastSystemError());
    const std::string text = SystemErrorText(static_cast<int>(code));
    throw StoreException(text.c_str(), name ? name : "SystemError");
}

void ThrowSystemError(const std::string& text, const char* name) {
    throw StoreException(text.c_str(), name ? name : "SystemError");
}

}  // namespace tq
