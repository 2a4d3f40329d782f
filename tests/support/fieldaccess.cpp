#include "tests/support/fieldaccess.h"

#include "store/field.h"
#include "store/model/interobj.h"
#include "store/model/sigrep.h"
#include "store/persist/vlstrrep.h"

namespace tq {
namespace {

// The field and, through owner, the signature that holds it.
Field* FieldOf(InterObjRep* o, const char* name, SignatureRep*& owner) {
    owner = nullptr;
    return o->signature()->findField(name, owner, 0);
}

}  // namespace

int32_t getLong(InterObjRep* o, const char* name) {
    SignatureRep* owner;
    int32_t v = 0;
    FieldOf(o, name, owner)->get(v, *o, *owner);
    return v;
}

void setLong(InterObjRep* o, const char* name, int32_t v) {
    SignatureRep* owner;
    FieldOf(o, name, owner)->set(v, *o, *owner);
}

std::string getText(InterObjRep* o, const char* name) {
    SignatureRep* owner;
    ValString s;
    FieldOf(o, name, owner)->get(s, *o, *owner);
    const char* c = s;
    return c ? c : "";
}

void setText(InterObjRep* o, const char* name, const char* text) {
    SignatureRep* owner;
    FieldOf(o, name, owner)->set(ValString(text), *o, *owner);
}

InterObjRep* getObject(InterObjRep* o, const char* name) {
    SignatureRep* owner;
    InterObj v;
    FieldOf(o, name, owner)->get(v, *o, *owner);
    return v.get();
}

void setObject(InterObjRep* o, const char* name, InterObjRep* v) {
    SignatureRep* owner;
    FieldOf(o, name, owner)->set(InterObj(v), *o, *owner);
}

ValueList Indices(std::initializer_list<int32_t> idx) {
    ValueList list;
    for (int32_t i : idx) list.ppush(ValuePtr(new LongValue(i)));
    return list;
}

ValuePtr Element(InterObjRep* o, const char* name, std::initializer_list<int32_t> idx) {
    ValueList list = Indices(idx);
    return o->eval(name, IDT_UNTYPED, &list, nullptr, 0, nullptr, nullptr);
}

}  // namespace tq
