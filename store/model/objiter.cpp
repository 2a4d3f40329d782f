#include "store/model/objiter.h"

#include "store/model/intfld.h"

namespace tq {

InterObjFieldIterator::InterObjFieldIterator(const InterObjRep* obj)
    : next_(obj ? obj->signature() : nullptr) {}

Field* InterObjFieldIterator::operator()() {
    while (current_ || next_) {
        if (current_ && index_ < current_->fields().length()) return current_->fields().at(index_++);
        current_ = next_;
        next_ = current_ ? current_->parent() : nullptr;
        index_ = 0;
    }
    return nullptr;
}

InterObjEventDefIterator::InterObjEventDefIterator(const InterObjRep* obj)
    : next_(obj ? obj->signature() : nullptr) {}

EventDef* InterObjEventDefIterator::operator()() {
    while (current_ || next_) {
        if (current_ && index_ < current_->events().length()) return current_->events().at(index_++);
        current_ = next_;
        next_ = current_ ? current_->parent() : nullptr;
        index_ = 0;
    }
    return nullptr;
}

Field* InterObjEmbedIterator::operator()() {
    while (Field* f = fields_()) {
        if (!f->isEmbed()) continue;
        InterObjRep* e = static_cast<EmbedObjField*>(f)->slot(*obj_, *fields_.signature()).get();
        embed_ = e && !e->isDestroyed() ? e : nullptr;
        return f;
    }
    embed_ = nullptr;
    return nullptr;
}

InterObjChildIterator::InterObjChildIterator(InterObjRep* obj, int withExternal) {
    if (obj && obj->isProto() && !obj->isDestroyed()) sig_ = obj->signature();
    if (sig_ && withExternal) sig_->reattachChildren();
}

InterObjRep* InterObjChildIterator::operator()() {
    if (!sig_) return nullptr;
    PrimInterObjList& objects = sig_->objects();
    while (!clonesDone_ && clone_ < objects.length()) {
        InterObjRep* o = objects[clone_++].get();
        if (!o) continue;
        if (!o->isClone()) {
            clonesDone_ = true;
            break;
        }
        return o;
    }
    clonesDone_ = true;
    PrimSignatureList& children = sig_->children();
    while (child_ < children.length()) {
        SignatureRep* c = children[child_++].get();
        if (InterObjRep* p = c ? c->protoObject() : nullptr) return p;
    }
    return nullptr;
}

}  // namespace tq
