#include "store/persist/proxy.h"

#include <optional>
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

namespace {

// Learns the text of every entry of the table whose record reads. A record
// that does not read is left out: it is not shared, and the failure stays
// with the reference that follows it, not with the save that writes another.
template <class P>
void FillIndex(DescriptionTable<P>& table, ProxyTextIndex& index) {
    for (uint32_t i = 0; i < table.count(); ++i) {
        Description& e = table.entry(i);
        if (!e.exists()) continue;
        try {
            if (P* p = table.fault(e, i)) index.enter(P::Key(p->text()), i);
        } catch (const ObjectLoadFailed&) {
        }
    }
    index.setFilled();
}

// Module m's proxy of kind P for text, made and entered when m has none.
template <class P>
tDescriptor SharedProxy(std::string text, tModuleIndex m) {
    DescriptionTable<P>* table = DescribedObjectNoDescriptor<P>::descriptionTable(m);
    TQ_ASSERT(table != nullptr, "descTable[m]");
    ProxyTextIndex& index = table->tableIndex();
    if (!index.filled()) FillIndex(*table, index);
    std::string key = P::Key(text);
    if (const std::optional<uint32_t> at = index.find(key)) {
        // The slot is checked again, so that an entry which no longer holds
        // the text (or no longer reads) is never handed out.
        if (*at < table->count()) {
            Description& e = table->entry(*at);
            try {
                if (P* p = table->fault(e, *at); p && P::Key(p->text()) == key) return p->descriptor();
            } catch (const ObjectLoadFailed&) {
            }
        }
        index.forget(key);
    }
    // The table owns the proxy from here on.
    P* made = new P(std::move(text), m);
    index.enter(std::move(key), made->descriptor().descIndex());
    return made->descriptor();
}

}  // namespace

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
    return SharedProxy<InterObjProxy>(obj.isStaticObj() ? std::string(obj.name()) : obj.alias(), m);
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
    return SharedProxy<EnumProxy>(e.name(), m);
}

std::string EnumProxy::Key(std::string_view text) {
    std::string key(text);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

}  // namespace tq
