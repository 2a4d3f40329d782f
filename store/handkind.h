// The kinds of thing the store names by handle id.
//
// Every slot that holds an id (the body of a fault pointer, a by-reference
// slot, an array reference slot, the memory word of a description) expects
// one kind of thing, and looks its id up with that kind: an id that was
// mixed up, or that outlived its thing, then reads null instead of reaching
// a thing of another kind. A class names its kind as kHandleKind; the
// handle table (platform/util/handle.h) records it with each id handed out.
#pragma once

#include "platform/util/handle.h"

namespace tq {

enum tHandleKind : HandleTable::Kind {
    HK_OBJECT = 1,
    HK_SIGNATURE,
    HK_STRING,
    HK_ENUMERATION,
    HK_IDSTRING,
    HK_OBJECT_PROXY,
    HK_SIGNATURE_PROXY,
    HK_ENUMERATION_PROXY,
    HK_VALUE,
    HK_ARRAY_FIELD,
};

}  // namespace tq
