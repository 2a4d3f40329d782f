// The public API of the Tessaro object store and run-time engine.
//
// One include gives everything a host, a compiler or an extension library
// needs: #include <tqstore/tqstore.h>
#pragma once

#include "platform/com/classreg.h"
#include "platform/com/dllserv.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/ocl.h"
#include "platform/com/oclfact.h"
#include "platform/com/oclobj.h"
#include "platform/com/oleresult.h"
#include "platform/com/unknown.h"
#include "platform/util/dynlib.h"
#include "platform/util/handle.h"
#include "platform/util/msgbox.h"
#include "platform/util/syserror.h"
#include "platform/util/uassert.h"
#include "platform/util/xexcept.h"
#include "store/currency.h"
#include "store/errors/extexcep.h"
#include "store/errors/msgtable.h"
#include "store/errors/storeexc.h"
#include "store/idtype.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "store/persist/vlstrrep.h"
#include "store/storeapp.h"
#include "store/tqstore.h"
