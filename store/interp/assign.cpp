#include "store/interp/assign.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/util/uassert.h"
#include "store/arfldval.h"
#include "store/arrayfld.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/binop.h"
#include "store/interp/ident.h"
#include "store/interp/localval.h"
#include "store/interp/pureexpr.h"
#include "store/iintobj.h"
#include "store/model/fldval.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/vlstrrep.h"
#include "store/valops.h"

namespace tq {

namespace {

const char* NameOf(const Context& ctx, uint16_t index) {
    if (const char* name = ctx.identifierName(index)) return name;
    char text[16];
    std::snprintf(text, sizeof text, "#%u", unsigned(index));
    throw NotFound(32740, text);
}

// "target := value": the field named by the target's last identifier, on
// the object the target reaches before it.
void DeepSet(Context& ctx, const ExprNode* target, Value* returnValue, Value& value) {
    if (returnValue) throw StoreException("Illegal use of deep-set (function return value).", nullptr);
    if (target->type() == EXPR_CID) throw StoreException("Illegal use of deep-set (function or array)", nullptr);
    InterObj obj;
    const ExprNode* last = target;
    if (target->type() == EXPR_MID) {
        obj = static_cast<const Mid*>(target)->getBaseObj(ctx, ctx, last);
        if (last->type() == EXPR_CID) throw StoreException("Illegal use of deep-set (function or array)", nullptr);
    } else {
        const auto* sid = static_cast<const Sid*>(target);
        // Me, True and False name no field.
        if (sid->isMe() || sid->isTruthConstant())
            throw StoreException("Illegal use of deep-set (Me, True or False).", nullptr);
        if (sid->isDotted()) {
            if (!ctx.withObj()) throw StoreException(32709u);
            obj = ctx.withObj();
        } else {
            if (!ctx.me()) throw StoreException(32735u);
            obj = ctx.me();
        }
    }
    const char* name = NameOf(ctx, static_cast<const Sid*>(last)->idIndex());
    if (obj.isNull()) throw Is_Null("Assignment::eval()", 32744);
    obj->deepDataMemberSet(name, &value);
}

// Whether a and b are the same simple identifier, whatever parentheses.
bool SameSid(const ExprNode* a, const ExprNode* b) {
    if (a->type() != EXPR_SID || b->type() != EXPR_SID) return false;
    const auto* x = static_cast<const Sid*>(a);
    const auto* y = static_cast<const Sid*>(b);
    const uint8_t ignored = ExprNode::kParenthesized;
    return x->idIndex() == y->idIndex() && x->getIdType() == y->getIdType() &&
           (x->flags() & ~ignored) == (y->flags() & ~ignored);
}

// Whether reading v can run anything: a value of its own, or a plain data
// field's value, reads its datum and nothing else.
bool ReadsWithoutEffects(const Value& v) {
    if (v.isDirect()) return true;
    const Field* f = v.field();
    return f && f->isInterDataField() && !f->isProcDataField() && !f->isByReference();
}

// The representation of the String variable l names, when its slot alone
// holds it and the statement may change it in place (see AppendToSelf).
ValStringRep* SoleRepOf(Context& ctx, const Sid& target, Value& l, const Value* r) {
    using StringField = InterField<ValString, IDT_STRING>;
    // The field class is final: comparing the type is the whole cast,
    // without the search through bases a dynamic_cast makes on every append.
    Field* f = l.field();
    auto* field = f && typeid(*f) == typeid(StringField) ? static_cast<StringField*>(f) : nullptr;
    // A function's own name is its return value, not the variable.
    if (!field || field->isConst() || ctx.getReturnValue(target)) return nullptr;
    if (r && !ReadsWithoutEffects(*r)) return nullptr;
    auto* slot = static_cast<ValString*>(l.getVoidPtr());
    if (!slot || slot->isNull()) return nullptr;
    ValStringRep* rep = slot->get();
    return rep && rep->refCount() == 1 ? rep : nullptr;
}

// Appends r's text to rep, which its variable holds alone: a Long or
// Integer as its digits, without a text of its own; anything else as its
// text cut at a NUL, as a String variable stores it.
void AppendValue(ValStringRep& rep, const Value& r) {
    if (const IdType rt = r.type() & IDT_TYPEMASK; rt == IDT_LONG || rt == IDT_SHORT) {
        rep.appendInteger(r.as<int32_t>());
        return;
    }
    ValString b;
    r.get(b);
    std::string_view t = b.isNull() ? std::string_view() : std::string_view(b->text());
    t = t.substr(0, t.find('\0'));
    if (b.get() == &rep) {
        // s = s & s: the text doubles from a copy of itself, which is not
        // made for a text that could not hold it.
        CheckStringLength(rep.text().size() + t.size());
        const std::string copy(t);
        rep.append(copy);
    } else {
        rep.append(t);
    }
}

// "s = s & t" where s is a String variable: appends t's text to s in place
// when s's representation is held only by s's own slot, instead of making
// a new text of both and copying it into s, which makes a loop of appends
// quadratic. Everything a program sees is what the general form gives: the
// operands are evaluated in the same order, reading them runs nothing (a
// literal is read from its node), the text stored is the same (cut at a
// NUL, as a String variable stores a text), and nobody else holds the
// representation that changes. Returns false when the general form must
// run, with text holding the concatenation it assigns.
bool AppendToSelf(Context& ctx, const Sid& target, const BinaryOp& concat, ValString& text) {
    ValuePtr l = concat.left()->eval(ctx, EVAL_VALUE_REQUIRED);
    const ExprNode* right = concat.right();
    const bool literal = right->type() == EXPR_STRING_CONSTANT;
    ValuePtr r = literal ? ValuePtr() : right->eval(ctx, EVAL_VALUE_REQUIRED);
    if (ValStringRep* rep = SoleRepOf(ctx, target, *l, r.get())) {
        if (literal) {
            rep->append(static_cast<const StringConstant*>(right)->text());
            return true;
        }
        AppendValue(*rep, *r);
        return true;
    }
    if (literal) r = right->eval(ctx, EVAL_VALUE_REQUIRED);
    ValString a, b;
    l->get(a);
    r->get(b);
    const std::string_view left = a.isNull() ? std::string_view() : std::string_view(a->text());
    const std::string_view tail = b.isNull() ? std::string_view() : std::string_view(b->text());
    text = ValString(ConstructWithSize, left.size() + tail.size());
    text->append(left);
    text->append(tail);
    return false;
}

// The Long frame local a plain name names, read in place; null for any
// other operand.
const uint8_t* LongLocalOperand(const Context& ctx, const ExprNode* e) {
    if (e->type() != EXPR_SID) return nullptr;
    const auto* sid = static_cast<const Sid*>(e);
    if ((sid->flags() & (ExprNode::kMe | ExprNode::kDotted)) || sid->getIdType() != IDT_UNTYPED) return nullptr;
    return LocalDatum<int32_t>(ctx.cachedMember(sid->idIndex()));
}

// "s = s & t" where s is a String local of the running frame that the
// lookup cache holds in place: AppendToSelf without a value for s. Reading
// a local runs nothing, so s is read, as the general form reads its
// variable, only after t is evaluated. False, with nothing evaluated, when
// s is no such local; true once the statement is done, appended in place
// or assigned as the general form assigns.
bool AppendToLocal(Context& ctx, const Sid& target, const BinaryOp& concat) {
    if ((target.flags() & (ExprNode::kMe | ExprNode::kDotted)) || target.getIdType() != IDT_UNTYPED) return false;
    Member* m = ctx.cachedMember(target.idIndex());
    if (!m || !(m->memberTraits() & Member::kStringLocal) || ctx.getReturnValue(target)) return false;
    // Held as the general form holds its variable: the right operand may
    // run a procedure, and the value stays sound whatever that does.
    const ValuePtr l(static_cast<Value*>(m));
    auto& local = static_cast<LocalValue<ValString, IDT_STRING>&>(*l);
    const ExprNode* right = concat.right();
    const bool literal = right->type() == EXPR_STRING_CONSTANT;
    const uint8_t* number = literal ? nullptr : LongLocalOperand(ctx, right);
    ValuePtr r = literal || number ? ValuePtr() : right->eval(ctx, EVAL_VALUE_REQUIRED);
    ValString* slot = local.textSlot();
    ValStringRep* rep = slot && !slot->isNull() ? slot->get() : nullptr;
    if (rep && rep->refCount() == 1 && (!r || ReadsWithoutEffects(*r))) {
        if (literal) {
            rep->append(static_cast<const StringConstant*>(right)->text());
            return true;
        }
        if (number) {
            rep->appendInteger(LoadDatum<int32_t>(number));
            return true;
        }
        AppendValue(*rep, *r);
        return true;
    }
    if (literal) r = right->eval(ctx, EVAL_VALUE_REQUIRED);
    if (number) r = ValuePtr(new LongValue(LoadDatum<int32_t>(number)));
    ValString a, b;
    local.get(a);
    r->get(b);
    const std::string_view left = a.isNull() ? std::string_view() : std::string_view(a->text());
    const std::string_view tail = b.isNull() ? std::string_view() : std::string_view(b->text());
    ValString text(ConstructWithSize, left.size() + tail.size());
    text->append(left);
    text->append(tail);
    local.set(text);
    return true;
}

// "a(i) = number" where a is a Long or Double array: the number goes into
// the element in place, as assigning it through the element's value would
// store it (a Long into a Double element exactly). False when the general
// path must assign: another element type, a Double into a Long element
// (rounding and its overflow are the value rules'), an index not known
// without evaluating, or a Const array.
bool StoreInElement(const Context& ctx, const Cid& target, bool isLong, int32_t l, double d) {
    NumericElement e;
    if (!FindNumericElement(target, ctx, e) || !e.writable) return false;
    if (e.type == IDT_LONG) {
        if (!isLong) return false;
        StoreDatum<int32_t>(e.at, l);
    } else {
        StoreDatum<double>(e.at, isLong ? double(l) : d);
    }
    e.obj->changed();
    return true;
}

// The field part of StoreInPlace, out of line: locals are the common case.
[[gnu::noinline]] bool StoreInField(Member* m, bool isLong, int32_t l, double d) {
    if (const auto* f = isLong ? NumberField<int32_t>(m) : nullptr) {
        if (uint8_t* at = f->writePlace()) {
            StoreDatum<int32_t>(at, l);
            f->object()->changed();
            return true;
        }
    } else if (const auto* f = NumberField<double>(m)) {
        if (uint8_t* at = f->writePlace()) {
            StoreDatum<double>(at, isLong ? double(l) : d);
            f->object()->changed();
            return true;
        }
    }
    return false;
}

// A number an operator gave (a Long when isLong, else a Double) stored
// without a value: into a Long or Double frame local the lookup cache holds
// (its locals object belongs to no module, so nothing is marked changed),
// into a Long or Double data field the cache holds in place (its object is
// marked changed, as assigning through the field's value does), or into an
// array element (StoreInElement). A Double into a Long field, and a Const
// field, are the general path's. False when the general path must assign.
bool StoreInPlace(const Context& ctx, const ExprNode* target, bool isLong, int32_t l, double d) {
    if (target->type() == EXPR_CID) return StoreInElement(ctx, *static_cast<const Cid*>(target), isLong, l, d);
    const auto* sid = static_cast<const Sid*>(target);
    if (target->type() != EXPR_SID || sid->isMe() || sid->isDotted() || sid->getIdType() != IDT_UNTYPED)
        return false;
    Member* m = ctx.cachedMember(sid->idIndex());
    if (uint8_t* at = isLong ? LocalDatum<int32_t>(m) : nullptr) {
        StoreDatum<int32_t>(at, l);
        return true;
    }
    if (uint8_t* at = LocalDatum<double>(m)) {
        StoreDatum<double>(at, isLong ? double(l) : d);
        return true;
    }
    return StoreInField(m, isLong, l, d);
}

}  // namespace

StmtPtr Assignment::make(int32_t line, int form, ExprPtr target, ExprPtr value) {
    TQ_ASSERT(target && value, "target && value");
    // A stored block is refused when its target is anything else, so a
    // block built with one could not be read back.
    TQ_ASSERT(target->isIdentifier(), "target->isIdentifier()");
    const uint32_t size = kTargetOffset + target->size() + value->size();
    auto* node = ::new (Allocate(size)) Assignment(line);
    node->setSize(size);
    node->addFlags(static_cast<uint8_t>((form & 7) << 3));
    uint8_t* at = node->bytes() + kTargetOffset;
    for (ExprPtr* e : {&target, &value}) {
        const uint32_t n = (*e)->size();
        std::memcpy(at, (*e)->bytes(), n);
        at += n;
        e->reset();
    }
    return StmtPtr(node);
}

namespace {

// "parts = list": a whole array takes the items of a list object (what
// Text.Split gives, a Group): it becomes 0 To Count - 1, each element
// taking its item as an element's assignment takes it (with its
// conversion and failures). A list of no items fails as ReDim to no
// elements fails: an array always has one. Anything else assigned to a
// whole array is the type mismatch it always was.
[[gnu::noinline]] void AssignList(ArrayReferenceFieldValue& whole, const Value& v) {
    if ((v.type() & IDT_TYPEMASK) != IDT_OBJECT) throw TypeMismatch("Assignment::eval()", 32765);
    const InterObj list = v.as<InterObj>();
    IInterObj* part = list.isNull() || list->isDestroyed() ? nullptr : list->compiledPart();
    if (!part || !list->findField("Count")) throw TypeMismatch("Assignment::eval()", 32765);
    const int32_t n = list->eval("Count")->as<int32_t>();
    InterObjRep* obj = nullptr;
    SignatureRep* owner = nullptr;
    InterArrayField* old = whole.arrayField(obj, owner);
    if (!old || !obj || !owner) throw TypeMismatch("Assignment::eval()", 32765);
    InterArrayField* resized = old->redimCopy(1);
    FieldPtr keep(resized);
    resized->defineBounds(0, 0, n - 1);
    // The items are read and converted to the element type before the
    // array changes: a failing one leaves it as it was.
    const IdType type = static_cast<IdType>(old->type() & IDT_TYPEMASK);
    std::vector<ValuePtr> items;
    for (int32_t i = 0; i < n; ++i) {
        const ValueList index{ValuePtr(new LongValue(i))};
        int handled = 0;
        ValuePtr item = part->eval(&index, &handled);
        if (!handled || !item) throw TypeMismatch("Assignment::eval()", 32765);
        items.push_back(DirectValueClassFactory(type, item.get()));
    }
    InterObj holder(obj);
    holder->redimArrayField(*owner, resized, 0);
    for (int32_t i = 0; i < n; ++i) {
        const ValueList index{ValuePtr(new LongValue(i))};
        *whole.virtualMemberEval(&index) = *items[static_cast<size_t>(i)];
    }
}

// The assignment of everything StoreNumber does not take. kind and the
// numbers are what the unboxed readers gave for an operator source
// (kNumberNone when they gave nothing, or the source is no operator).
[[gnu::noinline]] void AssignGeneral(const Assignment& a, Context& ctx, BinaryOp::PureNumberKind kind,
                                     int32_t longResult, double doubleResult) {
    const ExprNode* t = a.target();
    const ExprNode* source = a.value();
    ValuePtr v;
    bool isLong = kind == BinaryOp::kNumberLong;
    const bool isDouble = kind == BinaryOp::kNumberDouble;
    const auto* op = source->type() == EXPR_BINARY_OP ? static_cast<const BinaryOp*>(source) : nullptr;
    if (op && op->op() == BINOP_CONCAT && !a.isDeepSet() && SameSid(op->left(), t)) {
        // "s = s & t" on a String variable appends in place when it can.
        const auto& sid = *static_cast<const Sid*>(t);
        if (AppendToLocal(ctx, sid, *op)) return;
        ValString text;
        if (AppendToSelf(ctx, sid, *op, text)) return;
        v = ValuePtr(new StringValue(text));
    } else if (op) {
        // An operator whose result is a Long or a Double hands it over as a
        // number: the value that would hold it is never seen by anything
        // but this statement.
        if (kind == BinaryOp::kNumberNone) isLong = op->evalLong(ctx, ctx, longResult, v);
    } else {
        v = source->eval(ctx, EVAL_VALUE_REQUIRED);
    }
    // The running function's own name is its return value.
    Value* returnValue = t->type() == EXPR_SID ? ctx.getReturnValue(*static_cast<const Sid*>(t)) : nullptr;
    if (a.isDeepSet() || returnValue) [[unlikely]] {
        if (isLong) v = ValuePtr(new LongValue(longResult));
        if (isDouble) v = ValuePtr(new DoubleValue(doubleResult));
        if (a.isDeepSet())
            DeepSet(ctx, t, returnValue, *v);
        else
            *returnValue = *v;
        return;
    }
    if ((isLong || isDouble) && StoreInPlace(ctx, t, isLong, longResult, doubleResult)) return;
    constexpr int32_t kTarget = EVAL_VALUE_REQUIRED | EVAL_ASSIGN_TARGET;
    ValuePtr place = t->type() == EXPR_SID ? static_cast<const Sid*>(t)->eval(ctx, kTarget) : t->eval(ctx, kTarget);
    if (isLong) {
        // A Long target takes the number as it is, which is what assigning
        // a Long value to it does.
        if (place->type() == IDT_LONG) {
            place->set(longResult);
            return;
        }
        v = ValuePtr(new LongValue(longResult));
    } else if (isDouble) {
        if (place->type() == IDT_DOUBLE) {
            place->set(doubleResult);
            return;
        }
        v = ValuePtr(new DoubleValue(doubleResult));
    }
    if (auto* whole = dynamic_cast<ArrayReferenceFieldValue*>(place.get())) [[unlikely]]
        return AssignList(*whole, *v);
    *place = *v;
}

}  // namespace

// The number variable a plain name target names, when it is a Long or
// Double frame local the lookup cache holds in place: its datum's bytes and
// whether it is a Long. Null otherwise (StoreInPlace and the general path
// decide).
[[gnu::always_inline]] inline uint8_t* LocalTarget(const Context& ctx, const ExprNode* t, bool& isLong) {
    if (t->type() != EXPR_SID) return nullptr;
    const auto* sid = static_cast<const Sid*>(t);
    if ((sid->flags() & (ExprNode::kMe | ExprNode::kDotted)) || sid->getIdType() != IDT_UNTYPED) return nullptr;
    Member* m = ctx.cachedMember(sid->idIndex());
    if (!m) return nullptr;
    const uint16_t traits = m->memberTraits();
    isLong = (traits & Member::kLongLocal) != 0;
    if (isLong) return static_cast<LocalValue<int32_t, IDT_LONG>*>(static_cast<Value*>(m))->inPlace();
    if (traits & Member::kDoubleLocal) return static_cast<LocalValue<double, IDT_DOUBLE>*>(static_cast<Value*>(m))->inPlace();
    return nullptr;
}

void Assignment::eval(Context& ctx) const {
    const ExprNode* source = value();
    int32_t l = 0;
    double d = 0;
    BinaryOp::PureNumberKind kind = BinaryOp::kNumberNone;
    if (source->type() == EXPR_BINARY_OP && static_cast<const BinaryOp*>(source)->op() != BINOP_CONCAT &&
        !isDeepSet()) {
        // The commonest statement of a loop, "x = <arithmetic>" into a
        // number variable, goes from the unboxed readers straight into the
        // variable, without a value for the result or the target. The
        // running function's own name is its return value, whatever else
        // the name could mean: the general path assigns that.
        kind = PureNumber(source, ctx, l, d);
        const ExprNode* t = target();
        if (kind != BinaryOp::kNumberNone && !(t->type() == EXPR_SID && ctx.getReturnValue(*static_cast<const Sid*>(t)))) {
            bool longTarget = false;
            if (uint8_t* at = LocalTarget(ctx, t, longTarget)) {
                // A Double into a Long variable rounds, with the value
                // rules' overflow: the general path's.
                if (longTarget) {
                    if (kind == BinaryOp::kNumberLong) return StoreDatum<int32_t>(at, l);
                } else {
                    return StoreDatum<double>(at, kind == BinaryOp::kNumberLong ? double(l) : d);
                }
            } else if (StoreInPlace(ctx, t, kind == BinaryOp::kNumberLong, l, d)) {
                return;
            }
        }
    }
    AssignGeneral(*this, ctx, kind, l, d);
}

}  // namespace tq
