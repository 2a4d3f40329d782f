#include "store/interp/enumname.h"

#include <string>

#include "store/errors/extexcep.h"
#include "store/model/enum.h"
#include "store/persist/desciter.h"
#include "store/valconv.h"

namespace tq {

namespace {

[[noreturn]] void ConstantRefused() { throw StoreException(32695u); }

}  // namespace

void EnumConstantValue::get(int16_t& out) const { DatumConv<int32_t>::get(value_, out); }
void EnumConstantValue::get(int32_t& out) const { out = value_; }
void EnumConstantValue::get(float& out) const { DatumConv<int32_t>::get(value_, out); }
void EnumConstantValue::get(double& out) const { DatumConv<int32_t>::get(value_, out); }
void EnumConstantValue::get(Currency& out) const { DatumConv<int32_t>::get(value_, out); }
void EnumConstantValue::get(ValString& out) const { DatumConv<int32_t>::get(value_, out); }
void EnumConstantValue::get(InterObj& out) const { DatumConv<int32_t>::get(value_, out); }

void EnumConstantValue::set(int16_t) { ConstantRefused(); }
void EnumConstantValue::set(int32_t) { ConstantRefused(); }
void EnumConstantValue::set(float) { ConstantRefused(); }
void EnumConstantValue::set(double) { ConstantRefused(); }
void EnumConstantValue::set(const Currency&) { ConstantRefused(); }
void EnumConstantValue::set(const ValString&) { ConstantRefused(); }
void EnumConstantValue::set(const InterObj&) { ConstantRefused(); }

void EnumConstantValue::getStackPusher(GenericStackPusher& pusher) const { DatumConv<int32_t>::push(value_, pusher); }

ValuePtr EnumEntryNamed(const char* name) {
    if (!name || !*name) return ValuePtr();
    const EnumRep* holder = nullptr;
    const EnumEntry* found = nullptr;
    AllStoresDescrObjIterator<EnumRep> all;
    while (EnumRep* e = all()) {
        const EnumEntry* entry = e->entries().find(name);
        if (!entry) continue;
        if (found) {
            throw StoreException("Identifier '" + std::string(name) + "' names an entry of both " + holder->name() +
                                 " and " + e->name() + ": write " + holder->name() + "." + entry->name + " or " +
                                 e->name() + "." + entry->name);
        }
        holder = e;
        found = entry;
    }
    return found ? ValuePtr(new EnumConstantValue(found->value)) : ValuePtr();
}

ValuePtr EnumEntryOf(const char* enumeration, const char* entry) {
    const EnumRep* e = EnumRep::find(enumeration);
    if (!e) return ValuePtr();
    const EnumEntry* found = entry ? e->entries().find(entry) : nullptr;
    if (!found) throw NotFound(32740, (std::string(enumeration) + "." + (entry ? entry : "")).c_str());
    return ValuePtr(new EnumConstantValue(found->value));
}

}  // namespace tq
