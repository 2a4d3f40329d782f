// The public API of the Tessaro object store and run-time engine.
//
// One include gives everything a host, a compiler or an extension library
// needs: #include <tqstore/tqstore.h>
#pragma once

#include "platform/util/handle.h"
#include "platform/util/uassert.h"
#include "platform/util/xexcept.h"
#include "store/currency.h"
#include "store/persist/idstr.h"
#include "store/persist/vlstrrep.h"
