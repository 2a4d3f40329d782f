// Iterators over what an object has: the fields and event definitions of
// its signature chain, its embedded objects, and a prototype's children.
//
// Each call of operator() gives the next item, or null at the end.
#pragma once

#include <cstddef>

#include "store/model/interobj.h"

namespace tq {

// The fields of the object's signature in list order, then those of each
// ancestor up to the root; signature() tells whose field the current one is.
class InterObjFieldIterator {
public:
    explicit InterObjFieldIterator(const InterObjRep* obj);
    Field* operator()();
    SignatureRep* signature() const { return current_; }

private:
    SignatureRep* next_;
    SignatureRep* current_ = nullptr;
    size_t index_ = 0;
};

class InterObjEventDefIterator {
public:
    explicit InterObjEventDefIterator(const InterObjRep* obj);
    EventDef* operator()();
    SignatureRep* signature() const { return current_; }

private:
    SignatureRep* next_;
    SignatureRep* current_ = nullptr;
    size_t index_ = 0;
};

// Only the embed fields of the chain; embed() is the object embedded in the
// current field (null while the field has none, nothing is made).
class InterObjEmbedIterator {
public:
    explicit InterObjEmbedIterator(InterObjRep* obj) : obj_(obj), fields_(obj) {}
    Field* operator()();
    InterObjRep* embed() const { return embed_; }
    SignatureRep* signature() const { return fields_.signature(); }

private:
    InterObjRep* obj_;
    InterObjFieldIterator fields_;
    InterObjRep* embed_ = nullptr;
};

// The children of a prototype: first its clones (the clone entries of its
// signature's object list, in list order, up to the first entry that is not
// a clone), then the prototype of each child signature in list order. A
// clone has no children.
class InterObjChildIterator {
public:
    InterObjChildIterator(InterObjRep* obj, int withExternal);
    InterObjRep* operator()();

private:
    SignatureRep* sig_ = nullptr;
    size_t clone_ = 0;
    size_t child_ = 0;
    bool clonesDone_ = false;
};

}  // namespace tq
