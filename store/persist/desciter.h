// Iterators over the things of one kind.
//
// DescriptionTableIterator<T> walks one module's table in index order:
// operator() returns the next thing that exists, reading it when needed, and
// null at the end; nextFaulted() returns only things already in memory and
// never reads. DescribedObjectIterator<T> is the same, pointed at a module by
// index. AllStoresDescrObjIterator<T> walks the tables of every loaded module
// in ascending module index. nextFaulted passes over chunks of entries that
// never held a thing (VoidDescriptionTable::nextHeld), so it costs what is
// in memory, not the size of the table.
//
// Entries never move, and the walk re-reads the count at every step, so a
// thing entered while the walk runs is met when its index is reached.
#pragma once

#include <cstdint>

#include "store/persist/descobj.h"
#include "store/persist/objstore.h"

namespace tq {

template <class T>
class DescriptionTableIterator {
public:
    explicit DescriptionTableIterator(DescriptionTable<T>* table = nullptr) : table_(table) {}

    void reset(DescriptionTable<T>* table) {
        table_ = table;
        next_ = 0;
    }

    T* operator()() {
        while (table_ && next_ < table_->count()) {
            const uint32_t i = next_++;
            Description& e = table_->entry(i);
            if (e.exists()) return table_->fault(e, i);
        }
        return nullptr;
    }

    T* nextFaulted() {
        while (table_ && (next_ = table_->nextHeld(next_)) < table_->count()) {
            const uint32_t i = next_++;
            const Description& e = table_->entry(i);
            if (e.hasFaulted()) return HandleTable::Global().getAs<T>(e.memory());
        }
        return nullptr;
    }

private:
    DescriptionTable<T>* table_;
    uint32_t next_ = 0;
};

template <class T>
class DescribedObjectIterator : public DescriptionTableIterator<T> {
public:
    explicit DescribedObjectIterator(tModuleIndex m = DETACHED_MODULE) { reset(m); }

    // Points at module m's table, or at nothing when m is not a module.
    void reset(tModuleIndex m) {
        DescriptionTableIterator<T>::reset(DescribedObjectNoDescriptor<T>::descriptionTable(m));
    }
};

template <class T>
class AllStoresDescrObjIterator {
public:
    AllStoresDescrObjIterator() { advanceModule(DETACHED_MODULE); }

    T* operator()() { return step([](auto& it) { return it(); }); }
    T* nextFaulted() { return step([](auto& it) { return it.nextFaulted(); }); }

private:
    template <class Step>
    T* step(Step&& next) {
        while (module_ != DETACHED_MODULE) {
            if (T* t = next(it_)) return t;
            advanceModule(module_);
        }
        return nullptr;
    }

    void advanceModule(tModuleIndex from) {
        module_ = ObjectStore::NextValidIndex(from);
        it_.reset(module_);
    }

    tModuleIndex module_ = DETACHED_MODULE;
    DescribedObjectIterator<T> it_;
};

}  // namespace tq
