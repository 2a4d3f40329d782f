#include "store/model/objval.h"

#include "store/errors/extexcep.h"
#include "store/stkpush.h"
#include "store/valtmpl.h"

namespace tq {

void DatumConv<InterObj>::NotANumber() { throw TypeMismatch("Value::get()", 32765); }
void DatumConv<InterObj>::NotAnObject() { throw TypeMismatch("Value::set()", 32765); }

void DatumConv<InterObj>::get(const InterObj& d, ValString& out) {
    InterObjRep* o = d.get();
    out = (o && !o->isDestroyed()) ? ValString(o->alias()) : ValString("");
}

void DatumConv<InterObj>::push(const InterObj& d, GenericStackPusher& pusher) {
    // The handle the callee gets the address of must outlive d, which may
    // be a field's temporary copy: a value of its own holds it for the call.
    pusher.pushObject(ValuePtr(new ObjectValue(d)));
}

bool DatumConv<InterObj>::identical(const Value& self, const Value& r) {
    InterObj a;
    InterObj b;
    self.get(a);
    r.get(b);
    InterObjRep* x = a.get();
    InterObjRep* y = b.get();
    if (x && x->isDestroyed()) x = nullptr;
    if (y && y->isDestroyed()) y = nullptr;
    return x == y;
}

ValuePtr DatumConv<InterObj>::evalWithArgs(Value& self, const ValueList* args) {
    if (!args || args->isEmpty()) return ValuePtr(&self);
    InterObj o;
    self.get(o);
    if (o.isNull()) throw StoreException(32744);
    int handled = 0;
    ValuePtr result = o->eval(args, &handled);
    if (!handled) throw NonNullArguments("Value::eval()", 32760);
    return result;
}

ModuleUnloadFailed::ModuleUnloadFailed(unsigned id, InterObjRep* module)
    : StoreException(id), moduleCell_(module ? module->handle() : 0) {}

InterObjRep* ModuleUnloadFailed::module() const {
    InterObjRep* o = HandleTable::Global().getAs<InterObjRep>(moduleCell_);
    return o && !o->isDestroyed() ? o : nullptr;
}

std::unique_ptr<ValueList> ModuleUnloadFailed::args() const {
    auto list = std::make_unique<ValueList>();
    list->append(new ObjectValue(InterObj(module())));
    return list;
}

template class TypedValue<InterObj, IDT_OBJECT>;
template class DirectValue<InterObj, IDT_OBJECT>;
template class IndirectValue<InterObj, IDT_OBJECT>;

}  // namespace tq
