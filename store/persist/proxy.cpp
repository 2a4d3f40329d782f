#include "store/persist/proxy.h"

#include <memory>
#include <string>

#include "store/errors/extexcep.h"
#include "store/model/enum.h"
#include "store/model/interobj.h"
#include "store/persist/objstore.h"

namespace tq {

void ThrowMissingProxy(const char* table, tDescriptor d) {
    const std::string text = std::string("a reference names entry ") + std::to_string(d.descIndex()) +
                             " of \"" + table + "\", which the module does not have";
    throw ObjectLoadFailed(text.c_str());
}

std::string ReadProxyText(OCLStream& in, const char* table, uint32_t index) {
    std::string text = in.readString();
    if (text.empty()) {
        const std::string what = std::string(table) + " entry " + std::to_string(index) + ": its text is empty";
        throw ObjectLoadFailed(what.c_str());
    }
    return text;
}

InterObjProxy* InterObjProxy::readFromStream(OCLStream& in, uint32_t, tModuleIndex m, uint32_t index) {
    return new InterObjProxy(m, index, ReadProxyText(in, storageName, index));
}

InterObjRep* InterObjProxy::resolve() {
    InterObj found;
    if (!ObjectStore::find(text().c_str(), found)) return nullptr;
    return found.get();
}

tDescriptor InterObjProxy::Describe(const InterObjRep& o, tModuleIndex m) {
    InterObjRep& obj = const_cast<InterObjRep&>(o);
    if (m == DETACHED_MODULE || !obj.isStaticallyRooted()) return tDescriptor();
    // A static object goes by its name, an embedded one by its path from
    // its static root.
    const std::string text = obj.isStaticObj() ? std::string(obj.name()) : obj.alias();
    // The table owns the proxy from here on.
    return (new InterObjProxy(text, m))->descriptor();
}

EnumProxy* EnumProxy::readFromStream(OCLStream& in, uint32_t, tModuleIndex m, uint32_t index) {
    return new EnumProxy(m, index, ReadProxyText(in, storageName, index));
}

EnumRep* EnumProxy::resolve() {
    if (EnumRep* e = EnumRep::find(text().c_str())) return e;
    throw ProxyResolveFailed(text().c_str(), ProxyResolveFailed::ENUM_NOT_FOUND);
}

tDescriptor EnumProxy::Describe(const EnumRep& e, tModuleIndex m) {
    if (m == DETACHED_MODULE) return tDescriptor();
    return (new EnumProxy(e.name(), m))->descriptor();
}

}  // namespace tq
