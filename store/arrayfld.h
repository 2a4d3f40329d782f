// InterArrayField: the base of the interpreted array fields.
//
// What the object model needs of an array: it is a data field whose size
// follows its dimensions, a signature swaps a resized copy in for it
// (redimArrayField), and every object rebuilds the array's bytes. The
// dimensions, indexing and element handling belong to the array classes
// built on this base.
#pragma once

#include <cstdint>

#include "store/model/intfld.h"

namespace tq {

class InterArrayField : public InterDataField {
public:
    using InterDataField::InterDataField;

    bool isArrayData() const override { return true; }

    // Produces the bytes of newField's array in one object from this
    // field's bytes, when a resize keeps the values. The elements are not
    // carried over: the new array starts as zero bytes.
    virtual void preserveRedimmedValues(const InterArrayField& newField, const uint8_t* oldBytes,
                                        uint8_t* newBytes) const;
};

}  // namespace tq
