#include "store/model/dataslot.h"

#include "store/model/interobj.h"
#include "store/persist/vlstrrep.h"

namespace tq {

bool StoreTextSlot(ValString& slot, const char* text, const InterObjRep& obj) {
    ValStringRep* rep = slot.isNull() ? nullptr : slot.get();
    if (rep && rep->refCount() <= 1) {
        rep->assign(text ? text : "");
        return false;
    }
    ValString fresh(text ? text : "");
    if (!obj.isDetached()) fresh->attach(obj.moduleIndex());
    slot = fresh;
    return true;
}

}  // namespace tq
