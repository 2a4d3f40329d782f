#include "store/eventdef.h"

#include "store/field.h"

#include <cstring>
#include <memory>
#include <string>

#include "platform/storage/oclstream.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/persist/objstore.h"

namespace tq {

EventDef::EventDef(const char* name, uint8_t returnsValue, const char* args, int writeable)
    : flags_(writeable ? kWriteable : 0),
      name_(name, ObjectStore::OpenModule()),
      args_(args ? args : ""),
      returnsValue_(returnsValue) {}

EventDef::EventDef(const EventDef& other)
    : CountedObject(),
      flags_(other.flags_ & kWriteable),
      name_(other.name(), ObjectStore::OpenModule()),
      args_(other.args_),
      returnsValue_(other.returnsValue_) {}

EventDef* EventDef::makeFrom(OCLStream& in, tModuleIndex m) {
    const uint8_t flags = in.readU8();
    if (flags == 0) return nullptr;
    std::unique_ptr<EventDef> e(new EventDef());
    e->flags_ = flags;
    ReadIdReference(in, m, e->name_, false, "event definition record: the event's name");
    e->returnsValue_ = in.readU8();
    e->args_ = in.readString();
    return e.release();
}

void EventDef::write(OCLStream& out) const {
    TQ_ASSERT(isWriteable(), "isWriteable()");
    out.writeU8(flags_);
    name_.write(out);
    out.writeU8(returnsValue_);
    out.writeString(args_);
}

void EventDef::attach(tModuleIndex m) { name_.attach(m); }

EventDefPtrList::~EventDefPtrList() { clear(); }

EventDef* EventDefPtrList::pvalue(const char* name) const {
    if (!name) return nullptr;
    for (EventDef* e : defs_)
        if (e->name() && std::strncmp(e->name(), name, kMaxIdLength) == 0) return e;
    return nullptr;
}

bool EventDefPtrList::append(EventDef* e) {
    TQ_ASSERT(e != nullptr, "e");
    if (pvalue(e->name())) return false;
    defs_.push_back(e);
    e->ref();
    return true;
}

bool EventDefPtrList::prepend(EventDef* e) {
    TQ_ASSERT(e != nullptr, "e");
    if (pvalue(e->name())) return false;
    defs_.insert(defs_.begin(), e);
    e->ref();
    return true;
}

bool EventDefPtrList::punbind(const char* name) {
    for (size_t i = 0; i < defs_.size(); ++i) {
        if (!defs_[i]->name() || std::strcmp(defs_[i]->name(), name) != 0) continue;
        EventDef* gone = defs_[i];
        defs_.erase(defs_.begin() + static_cast<ptrdiff_t>(i));
        gone->deref();
        return true;
    }
    return false;
}

void EventDefPtrList::clear() {
    while (!defs_.empty()) {
        EventDef* e = defs_.back();
        defs_.pop_back();
        e->deref();
    }
}

}  // namespace tq
