// Proxies: what a module stores in place of a thing of another module.
//
// A module file never holds a descriptor of another module. When a thing of
// module B refers to an object, a signature or an enumeration of module A,
// B writes the descriptor of an entry of one of its own proxy tables
// instead, with bit 31 set: "ObjectProxies", "SignatureProxies" or
// "EnumerationProxies". The entry names the target by text, and is looked
// up by that text against whatever modules are loaded when the reference is
// followed again. Objects and enumerations are looked up on every fault;
// signature proxies are resolved once, when their module is loaded, and then
// stay linked to the signature's shadow (sigproxy.h).
//
// This file holds the base of the three kinds and the object proxy; the
// signature proxy and its shadow are in sigproxy.h.
//
// Invariants:
//  1. A proxy's text is never empty. The library asserts it for proxies it
//     makes; a record with an empty text raises ObjectLoadFailed.
//  2. A proxy's descriptor always carries bit 31. A proxy of module m is an
//     entry of m's table of its kind; one made for DETACHED_MODULE has module
//     index 254 and no entry.
//  3. A proxy belongs to its table: it is freed with its module (or, for a
//     signature proxy that is no longer needed, when its table writes it).
//  4. Object and enumeration proxies are shared per text within a module:
//     every reference that module m writes to the same target goes through
//     one entry, whether that entry was made in this session or read from
//     m's file, so saving m again and again adds no entries. Texts are
//     compared as the look-up that resolves them compares names: object
//     names exactly, enumeration names ignoring ASCII case. The table keeps
//     the text -> entry look-up (ProxyTextIndex), built from the table's
//     records the first time m writes such a reference, so it goes with the
//     module. A file written with several entries of one text still loads
//     and resolves each of them; the lowest readable one is shared from then
//     on, and an entry whose record does not read is never shared.
//
// "ObjectProxies" and "EnumerationProxies" record:
//
//   offset  width  meaning
//   0       4      length n of the text, unsigned
//   4       n      the text: an object's static name or dotted path, or an
//                  enumeration's name
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/storage/oclstream.h"
#include "platform/util/uassert.h"
#include "store/dscrptr.h"
#include "store/handkind.h"
#include "store/persist/descobj.h"

namespace tq {

class EnumRep;
class InterObjRep;

// Reads the text item of a proxy record of table `table`, entry `index`: an
// empty text raises ObjectLoadFailed.
std::string ReadProxyText(OCLStream& in, const char* table, uint32_t index);

// Which entry of one module's proxy table holds each text (by the kind's
// key of the text). It is filled once, from the records of the table, when
// the module first shares a proxy of the kind, and then learns each proxy
// made; the first entry of a key is kept.
class ProxyTextIndex {
public:
    bool filled() const { return filled_; }
    void setFilled() { filled_ = true; }

    std::optional<uint32_t> find(const std::string& key) const {
        auto it = entries_.find(key);
        if (it == entries_.end()) return std::nullopt;
        return it->second;
    }
    void enter(std::string key, uint32_t index) { entries_.try_emplace(std::move(key), index); }
    void forget(const std::string& key) { entries_.erase(key); }

private:
    std::unordered_map<std::string, uint32_t> entries_;
    bool filled_ = false;
};

// The base of the proxy kinds: the text that names the target, and the
// described base.
template <class P>
class Proxy : public DescribedObject<P> {
public:
    const std::string& text() const { return text_; }

protected:
    // A new proxy of module m, entered in m's table of P (none for
    // DETACHED_MODULE).
    Proxy(std::string text, tModuleIndex m) : text_(std::move(text)) {
        TQ_ASSERT(!text_.empty(), "id && *id");
        this->desc_.setProxy(true);
        if (m != DETACHED_MODULE)
            DescribedObjectNoDescriptor<P>::add(m, *static_cast<P*>(this), this->desc_);
    }
    // A proxy read from entry `index` of module m's table.
    Proxy(tModuleIndex m, uint32_t index, std::string text)
        : DescribedObject<P>(tDescriptor::Make(m, index, true)), text_(std::move(text)) {}

    // A proxy whose reading failed leaves the table's entry as it was.
    void forgetEntry() { this->desc_.setModuleIndex(DETACHED_MODULE); }

private:
    std::string text_;
};

// InterObjProxy stands for one object of another module, by the name that
// ObjectStore::find resolves: a static name or a dotted path.
class InterObjProxy final : public Proxy<InterObjProxy> {
public:
    static constexpr const char* storageName = "ObjectProxies";
    static constexpr HandleTable::Kind kHandleKind = HK_OBJECT_PROXY;
    static constexpr uint32_t storageVersion = 1;
    using TableIndex = ProxyTextIndex;

    // Object names are compared exactly, as ObjectStore::find does.
    static std::string Key(std::string_view text) { return std::string(text); }

    InterObjProxy(std::string text, tModuleIndex m) : Proxy(std::move(text), m) {}

    static InterObjProxy* readFromStream(OCLStream& in, uint32_t version, tModuleIndex m,
                                         uint32_t index);
    void write(OCLStream& out) { out.writeString(text()); }

    // The object the text names among the modules loaded now; null when
    // there is none (no error).
    InterObjRep* resolve();

    // How module m refers to o, an object of another module: m's proxy of
    // o's name or path (made when m has none yet) when o is statically
    // rooted, else the null descriptor. DETACHED_MODULE keeps no proxies of
    // objects: its references to other modules' objects read null once
    // those go.
    static tDescriptor Describe(const InterObjRep& o, tModuleIndex m);

private:
    InterObjProxy(tModuleIndex m, uint32_t index, std::string text)
        : Proxy(m, index, std::move(text)) {}
};

// EnumProxy stands for one enumeration of another module, by its name.
class EnumProxy final : public Proxy<EnumProxy> {
public:
    static constexpr const char* storageName = "EnumerationProxies";
    static constexpr HandleTable::Kind kHandleKind = HK_ENUMERATION_PROXY;
    static constexpr uint32_t storageVersion = 1;
    using TableIndex = ProxyTextIndex;

    // EnumRep::find ignores ASCII case, so texts that differ only in case
    // name the same enumeration.
    static std::string Key(std::string_view text);

    EnumProxy(std::string text, tModuleIndex m) : Proxy(std::move(text), m) {}

    static EnumProxy* readFromStream(OCLStream& in, uint32_t version, tModuleIndex m, uint32_t index);
    void write(OCLStream& out) { out.writeString(text()); }

    // The enumeration of that name among the loaded modules (EnumRep::find);
    // ProxyResolveFailed with reason 3 when there is none.
    EnumRep* resolve();

    // m's proxy of e's name, made when m has none yet; DETACHED_MODULE keeps
    // none.
    static tDescriptor Describe(const EnumRep& e, tModuleIndex m);

private:
    EnumProxy(tModuleIndex m, uint32_t index, std::string text) : Proxy(m, index, std::move(text)) {}
};

}  // namespace tq
