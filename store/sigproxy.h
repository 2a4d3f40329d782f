// Signature proxies and shadows: how modules share classes.
//
// When objects or child signatures of module B belong to a signature S of
// module A, B writes a SignatureProxy in place of S: the name of S's
// prototype object, copies of S's interpreted data fields as B last saw
// them, S's data size, and the lists of B's objects and child signatures
// that belong to S. Loading B resolves each of its signature proxies at
// once: the name is looked up among the loaded modules, and when the object
// found has a signature whose fields match the proxy's, the proxy links to
// that signature's shadow. When nothing is found, or the fields do not
// match, a static object named after the proxy (text + "Proxy") is made in B
// with the proxy's fields, so that B's objects keep their data, and the user
// is warned.
//
// SignatureShadow is the one record per signature that has proxies, shared
// by the proxies of all modules and counted by them. While S is loaded the
// shadow refers to S; when S's module goes while other modules stay, the
// shadow captures what the proxies need (fields, data size, prototype name,
// the objects and child signatures of other modules), and a proxy that is
// resolved again later against the reloaded S merges that capture into S's
// new shadow.
//
// Invariants:
//  1. A signature proxy is unlinked after reading and linked to exactly one
//     shadow once resolved or made by getProxy, until it is freed; a linked
//     proxy is in its shadow's list and holds one count on it.
//  2. A shadow lives from its first proxy until its last one lets go; then
//     the signature's pointer to it is cleared. The signature and the shadow
//     point at each other while both live.
//  3. A proxy's own lists hold only things of the proxy's module that have
//     not been read since the proxy was read; reading such a thing attaches
//     it to the signature, and reattachChildren takes them all off.
//  4. A proxy is written only while its module still has something that
//     belongs to the signature; otherwise its table discards it.
//
// Life of a signature proxy (state: the step behind each change):
//
//   read from "SignatureProxies" --resolve--> linked --module goes--> freed
//   getProxy(m) ---------------------------->   |
//                                               +--not needed when written--> freed
//
// "SignatureProxies" record (written by writeIfNeeded, read by
// readFromStream):
//
//   item  width  meaning
//   1     4+n    the text: the name of the signature's prototype object
//   2     ...    field records (field.h) of the expected interpreted data
//                fields, then one 0 byte
//   3     4      the signature's data size, unsigned
//   4     5*k+5  references to this module's objects of the signature (from
//                the loaded signature, or else from the shadow), then null
//   5     5*k+5  the same for this module's child signatures, then null
//   6     5*k+5  the proxy's own recorded objects not read since, then null
//   7     5*k+5  the same for its recorded child signatures, then null
//
// A reader puts lists 4 and 6 into the proxy's own object list, and 5 and 7
// into its signature list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/errors/extexcep.h"
#include "store/field.h"
#include "store/handkind.h"
#include "store/model/sigrep.h"
#include "store/persist/proxy.h"

namespace tq {

class SignatureShadow;

// The order in which a replacement object adds the fields a proxy expects
// so that they lie where the proxy's signature chain laid them (see
// sigproxy.cpp).
std::vector<Field*> ProxyLayoutOrder(const FieldPtrList& expected);

class SignatureProxy final : public Proxy<SignatureProxy> {
public:
    static constexpr const char* storageName = "SignatureProxies";
    static constexpr HandleTable::Kind kHandleKind = HK_SIGNATURE_PROXY;
    static constexpr uint32_t storageVersion = 1;

    ~SignatureProxy();
    SignatureProxy(const SignatureProxy&) = delete;
    SignatureProxy& operator=(const SignatureProxy&) = delete;

    static SignatureProxy* readFromStream(OCLStream& in, uint32_t version, tModuleIndex m,
                                          uint32_t index);
    // The conditional writer: writes the record and returns true while the
    // proxy is still needed; otherwise writes nothing and returns false, and
    // the table discards the proxy.
    bool writeIfNeeded(OCLStream& out);

    // The signature the proxy stands for. A linked proxy whose shadow still
    // has its signature answers that; otherwise the text is looked up (see
    // the file note). A failed look-up makes the replacement object, links
    // the proxy to it and raises ProxyResolveFailed (reason 1 when nothing
    // is found, 0 when the fields do not match).
    SignatureRep* resolve();

    // How module m refers to s, a signature of another module: the
    // descriptor of s's proxy in m, made when there is none.
    static tDescriptor Describe(const SignatureRep& s, tModuleIndex m);

    // Resolves every signature proxy of a module just loaded, in table
    // order. Each failure is shown to the user, once, through
    // StoreApplication::MessageBox, and the walk goes on; anything else that
    // fails (a record that is not sound) passes on.
    static void ResolveModule(tModuleIndex m);

    // The warning shown for a failed resolution; replacement is the name of
    // the object made in its place.
    static std::string WarningText(const ProxyResolveFailed& e, const std::string& replacement);

    SignatureShadow* shadow() const { return shadow_; }
    // The linked signature while it is loaded; null otherwise. Reads nothing.
    SignatureRep* signature() const;
    // The fields a signature must have to stand for this proxy: the
    // shadow's captured list when linked, else the proxy's own.
    const FieldPtrList& expectedFields() const;
    const FieldPtrList& ownFields() const { return fields_; }
    uint32_t dataSize() const { return dataSize_; }
    IndirectInterObjList& recordedObjects() { return objects_; }
    IndirectSignatureList& recordedSignatures() { return children_; }
    // Whether the module still has something that belongs to the signature.
    bool isNeeded();
    // Whether one of the proxy's own recorded things still exists; reads
    // nothing.
    bool hasRecorded() const;

private:
    friend class SignatureShadow;
    // A new proxy of module m from the shadow's signature (or, without it,
    // from what the shadow captured), linked to it.
    SignatureProxy(SignatureShadow& shadow, const std::string& text, tModuleIndex m);
    SignatureProxy(tModuleIndex m, uint32_t index, std::string text);

    void link(SignatureShadow& shadow);
    // Called by the shadow: the proxy's field list must be written afresh.
    void noteChange();
    [[noreturn]] void fail(int reason);
    void refreshFields();

    SignatureShadow* shadow_ = nullptr;
    // Set while the text is being looked up.
    bool resolving_ = false;
    FieldPtrList fields_;
    uint32_t dataSize_ = 0;
    IndirectInterObjList objects_;
    IndirectSignatureList children_;
};

class SignatureShadow {
public:
    // Made by SignatureRep::shadow(), which points at it.
    explicit SignatureShadow(SignatureRep& s);
    ~SignatureShadow();
    SignatureShadow(const SignatureShadow&) = delete;
    SignatureShadow& operator=(const SignatureShadow&) = delete;

    void ref() { ++count_; }
    // The last proxy letting go destroys the shadow.
    void deref();
    int16_t refCount() const { return count_; }

    SignatureRep* signature() const { return signature_; }
    const std::vector<SignatureProxy*>& proxies() const { return proxies_; }
    // The proxy of module m, or null.
    SignatureProxy* proxyOf(tModuleIndex m) const;
    // The proxy of module m, made (and entered in m's table, or detached for
    // 254) when there is none.
    SignatureProxy* getProxy(tModuleIndex m);

    // What the shadow captured when its signature's module went.
    const FieldPtrList& fields() const { return fields_; }
    uint32_t dataSize() const { return dataSize_; }
    const std::string& protoName() const { return protoName_; }
    const IndirectInterObjList& externalObjects() const { return objects_; }
    const IndirectSignatureList& externalSigs() const { return children_; }

    // Reads every thing the proxies still record, so that each attaches to
    // the signature; the proxies' own lists end empty.
    void reattachChildren();
    // The proxies of module m (all for 255; none for 254) must write their
    // field lists afresh.
    void noteChange(tModuleIndex m);
    // The signature is destroyed.
    void forgetSignature();
    // Whether the signature, or the capture once it is gone, has an object
    // or a child signature in module m.
    bool hasExternalChildren(tModuleIndex m);
    // The signature's module goes: keep what the proxies need, and let go
    // of the signature.
    void capture();
    // Another shadow of the same prototype (one that lost its signature)
    // comes into this one: its objects and child signatures take this
    // signature, and its proxies link here. The old shadow goes.
    void merge(SignatureShadow& old);

private:
    friend class SignatureProxy;
    void add(SignatureProxy& p);
    void remove(SignatureProxy& p);
    // Frees the shadow when nothing holds it any more.
    void releaseIfUnused();

    int16_t count_ = 0;
    SignatureRep* signature_;
    std::vector<SignatureProxy*> proxies_;
    // Proxies made for DETACHED_MODULE have no table to own them.
    std::vector<std::unique_ptr<SignatureProxy>> detached_;
    FieldPtrList fields_;
    uint32_t dataSize_ = 0;
    IndirectInterObjList objects_;
    IndirectSignatureList children_;
    std::string protoName_;
    bool dying_ = false;
};

}  // namespace tq
