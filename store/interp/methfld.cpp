// The code side of interpreted procedures.
#include "store/methfld.h"

#include "store/errors/extexcep.h"
#include "store/vals.h"
#include "store/model/intfld.h"
#include "store/persist/objstore.h"

namespace tq {

InterProcField::InterProcField(const char* name, IdDynamicVector& ids, BlockDynamicVector& blocks)
    : MethodField(name), ids_(ids, ObjectStore::OpenModule()), blocks_(blocks, ObjectStore::OpenModule()) {
    blocks_.setIdentifierCount(ids_.count());
    findOwnName();
}

InterProcField::InterProcField(const InterProcField& other)
    : MethodField(other), ids_(other.ids_), blocks_(other.blocks_) {
    blocks_.setIdentifierCount(ids_.count());
    findOwnName();
}

void InterProcField::write(OCLStream&) const {
    const std::string text = std::string("The procedure '") + name() + "' cannot be written to a module yet.";
    throw StoreException(text.c_str(), nullptr);
}

void InterProcField::attach(tModuleIndex m) {
    MethodField::attach(m);
    ids_.attach(m);
    blocks_.attach(m);
}

InterFuncField::InterFuncField(const char* name, IdDynamicVector& ids, BlockDynamicVector& blocks,
                               InterDataField* returnField)
    : InterProcField(name, ids, blocks), returnField_(returnField) {}

InterFuncField::InterFuncField(const InterFuncField& other)
    : InterProcField(other), returnField_(other.returnField_ ? other.returnField_->clone() : nullptr) {}

IdType InterFuncField::type() const { return returnField_ ? returnField_->type() : IdType(IDT_LONG); }

InterDataField* InterFuncField::returnField() const { return static_cast<InterDataField*>(returnField_.get()); }

void InterFuncField::convertReturn(ValuePtr& v) const {
    if (returnField_ && v.get()) returnField_->typeConvert(v);
}

}  // namespace tq
