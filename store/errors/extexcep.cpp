#include "store/errors/extexcep.h"

#include "platform/com/oleresult.h"
#include "store/persist/vlstrrep.h"
#include "store/vals.h"

namespace tq {

NotFound::NotFound(unsigned id, const char* what)
    : StoreException(StringMsg(id, what)), what_(what ? what : "") {}

RangeError::RangeError(unsigned id, int32_t low, int32_t high, int32_t value)
    : StoreException(NumericMsg(id, value)), low_(low), high_(high), value_(value) {}

ConvertFailed::ConvertFailed(const char*, IdType type)
    : StoreException(StringMsg(32752, IdTypeString::NameOf(type))), type_(type) {}

OleException::OleException(int32_t hr, const char* text)
    : StoreException(text, nullptr), hr_(hr) {}

void OleException::Check(int32_t hr, const char* context) {
    if (OleResult::Check(hr, context)) throw OleException(hr, OleResult::Message().c_str());
}

namespace {

std::optional<std::string> OwnedCopy(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

}  // namespace

ObjectLoadFailed::ObjectLoadFailed(const char* object)
    : StoreException(StringMsg(32688, object)), object_(OwnedCopy(object)) {}

ModuleOpenFailed::ModuleOpenFailed(const char* module)
    : StoreException(StringMsg(32687, module)), module_(OwnedCopy(module)) {}

ProxyResolveFailed::ProxyResolveFailed(const char* name, tResolveFailure reason)
    : StoreException(StringMsg(32685, name)), name_(OwnedCopy(name)), reason_(reason) {}

FPException::FPException(unsigned id, const char* arg) : StoreException(StringMsg(id, arg)) {
    setName("FPException");
}
FPException::FPException(const char* text, const char* name) : StoreException(text, name) {}

InvalidFieldName::InvalidFieldName(unsigned id, const char* arg)
    : StoreException(StringMsg(id, arg)) {
    setName("InvalidFieldName");
}
InvalidFieldName::InvalidFieldName(const char* text, const char* name)
    : StoreException(text, name) {}

InvalidObjectName::InvalidObjectName(unsigned id, const char* arg)
    : StoreException(StringMsg(id, arg)) {
    setName("InvalidObjectName");
}
InvalidObjectName::InvalidObjectName(const char* text, const char* name)
    : StoreException(text, name) {}

DuplicateName::DuplicateName() : StoreException(32768u) {}
DuplicateName::DuplicateName(unsigned id) : StoreException(id) {}
DuplicateName::DuplicateName(const char* name) : StoreException(StringMsg(32768, name)) {}

FieldCollision::FieldCollision() : StoreException(0u) {}
FieldCollision::FieldCollision(unsigned id) : StoreException(id) {}
FieldCollision::FieldCollision(const char* text) : StoreException(StringMsg(0, text)) {}

MethodDataCollision::MethodDataCollision(const char*) : FieldCollision(32751u) {}
DataMethodCollision::DataMethodCollision(const char*) : FieldCollision(32750u) {}
MatchingFieldCollision::MatchingFieldCollision(const char*) : FieldCollision(32749u) {}
CollisionOnParent::CollisionOnParent(const char*) : FieldCollision(32748u) {}
CollisionOnChild::CollisionOnChild(const char*) : FieldCollision(32716u) {}
CollisionOnSelf::CollisionOnSelf(const char*) : FieldCollision(32747u) {}

MathError::MathError() : StoreException(32698u) {}
MathError::MathError(unsigned id) : StoreException(id) {}
MathError::MathError(const char* text) : StoreException(StringMsg(32698, text)) {}

DatabaseError::DatabaseError() : StoreException(32696u) {}
DatabaseError::DatabaseError(unsigned id) : StoreException(id) {}
DatabaseError::DatabaseError(const char* text) : StoreException(StringMsg(32696, text)) {}

TerminateExecution::TerminateExecution() : StoreException("Execution Terminated.", nullptr) {
    flags |= kExecutionControlFlag;
}

PauseExecution::PauseExecution() : StoreException("Execution Suspended.", nullptr) {
    flags |= kExecutionControlFlag;
}

#define TQ_LOCATED_FAILURE_BODY(Class)                                           \
    Class::Class(const char*, unsigned id) : StoreException(id) {}               \
    Class::Class(const char*, const char*, unsigned id) : StoreException(id) {} \
    Class::Class(const std::string& text) : StoreException(text) {}

TQ_LOCATED_FAILURE_BODY(DllLoadFailure)
TQ_LOCATED_FAILURE_BODY(DllFuncMissing)
TQ_LOCATED_FAILURE_BODY(TypeMismatch)
TQ_LOCATED_FAILURE_BODY(SignatureMismatch)
TQ_LOCATED_FAILURE_BODY(TooManyArguments)
TQ_LOCATED_FAILURE_BODY(TooFewArguments)
TQ_LOCATED_FAILURE_BODY(NullArguments)
TQ_LOCATED_FAILURE_BODY(NonNullArguments)
TQ_LOCATED_FAILURE_BODY(NotObjectReference)
TQ_LOCATED_FAILURE_BODY(IllegalPromotion)
TQ_LOCATED_FAILURE_BODY(IllegalConversion)
TQ_LOCATED_FAILURE_BODY(CircularEmbed)
TQ_LOCATED_FAILURE_BODY(AccessDenied)
TQ_LOCATED_FAILURE_BODY(InvalidByRef)
TQ_LOCATED_FAILURE_BODY(Overflow)
TQ_LOCATED_FAILURE_BODY(Is_Null)
TQ_LOCATED_FAILURE_BODY(UnnamedSignature)
TQ_LOCATED_FAILURE_BODY(StackOverflow)

#undef TQ_LOCATED_FAILURE_BODY

// ---- particulars as values -------------------------------------------------

namespace {

Value* StringArg(const char* text) { return new StringValue(ValString(text ? text : "")); }

}  // namespace

std::unique_ptr<ValueList> NotFound::args() const {
    auto list = std::make_unique<ValueList>();
    list->append(StringArg(what_.c_str()));
    return list;
}

std::unique_ptr<ValueList> RangeError::args() const {
    auto list = std::make_unique<ValueList>();
    list->append(new LongValue(low_));
    list->append(new LongValue(high_));
    list->append(new LongValue(value_));
    return list;
}

std::unique_ptr<ValueList> OleException::args() const {
    auto list = std::make_unique<ValueList>();
    list->append(new LongValue(hr_));
    list->append(StringArg(what()));
    return list;
}

std::unique_ptr<ValueList> ObjectLoadFailed::args() const {
    auto list = std::make_unique<ValueList>();
    list->append(StringArg(objectName()));
    return list;
}

std::unique_ptr<ValueList> ModuleOpenFailed::args() const {
    auto list = std::make_unique<ValueList>();
    list->append(StringArg(moduleName()));
    return list;
}

std::unique_ptr<ValueList> ProxyResolveFailed::args() const {
    auto list = std::make_unique<ValueList>();
    list->append(StringArg(proxyName()));
    list->append(new IntegerValue(static_cast<int16_t>(reason_)));
    return list;
}

}  // namespace tq
