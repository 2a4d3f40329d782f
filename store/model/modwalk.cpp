#include "store/model/modwalk.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/arrayfld.h"
#include "store/block.h"
#include "store/errors/extexcep.h"
#include "store/field.h"
#include "store/model/enum.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/objiter.h"
#include "store/model/sigrep.h"
#include "store/persist/descobj.h"
#include "store/persist/objstore.h"
#include "store/persist/proxy.h"
#include "store/persist/vlstrrep.h"
#include "store/sigproxy.h"
#include "store/vals.h"

namespace tq {

namespace {

// A field's name for a fault's place; a damaged name reads as none.
std::string FieldName(const Field& f) {
    const char* name = f.name();
    return name && *name ? name : "(without a name)";
}

class Walker {
public:
    explicit Walker(tModuleIndex m) : m_(m) {}

    std::vector<WalkFault> run() {
        // Every stream reads whole: a commit copies each of them, also the
        // bytes no record names.
        readStreams();
        // Enumerations and signatures first: an object's record is laid
        // out by its signature, and a signature's fields name enumerations.
        walkKind<EnumRep>([](EnumRep&) {});
        walkKind<SignatureRep>([this](SignatureRep& s) { readSignature(s); });
        walkKind<InterObjRep>([this](InterObjRep& o) { readObject(o); });
        walkKind<ValStringRep>([](ValStringRep& s) { (void)s.text(); });
        // A block is checked whole when it is faulted, before anything runs it.
        walkKind<BlockRep>([](BlockRep&) {});
        walkKind<InterObjProxy>([](InterObjProxy& p) { (void)p.resolve(); });
        walkKind<EnumProxy>([](EnumProxy& p) { (void)p.resolve(); });
        walkKind<SignatureProxy>([](SignatureProxy&) {});
        walkRoots();
        return std::move(faults_);
    }

private:
    // Runs step; a failure is noted under where, and the walk goes on.
    void attempt(const std::string& where, const std::function<void()>& step) {
        try {
            step();
        } catch (const ProxyResolveFailed&) {
            // What the module refers to lies in a module that is not loaded.
        } catch (const std::exception& e) {
            note(where, e.what());
        }
    }

    void note(const std::string& where, const std::string& text) {
        for (WalkFault& f : faults_) {
            if (f.text == text) {
                ++f.times;
                return;
            }
        }
        faults_.push_back({text, where, 1});
    }

    template <class T, class Read>
    void walkKind(Read&& read) {
        DescriptionTable<T>* table = DescribedObjectNoDescriptor<T>::descriptionTable(m_);
        // The count is read afresh: resolving may enter new things.
        // An entry of a table read on demand may itself fail to read (its
        // chunk is damaged): that is a fault of the walk like a record's.
        for (uint32_t i = 0; table && i < table->count(); ++i) {
            const std::string where = std::string(T::storageName) + " entry " + std::to_string(i);
            attempt(where, [&] {
                if (!table->entry(i).exists()) return;
                if (T* thing = DescribedObjectNoDescriptor<T>::fault(tDescriptor::Make(m_, i))) read(*thing);
            });
        }
    }

    void readStreams() {
        OCLStorage& storage = ObjectStore::Module(m_)->storage();
        std::vector<uint8_t> chunk(64 * 1024);
        for (const std::string& name : storage.streamNames()) {
            attempt("stream \"" + name + "\"", [&] {
                OCLStream in(storage, name.c_str(), 0, STGM_READ | STGM_SHARE_EXCLUSIVE);
                for (uint32_t left = in.size(); left > 0;) {
                    const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(chunk.size()));
                    in.read(chunk.data(), n);
                    left -= n;
                }
            });
        }
    }

    void readSignature(SignatureRep& s) {
        const std::string where = "Signatures entry " + std::to_string(s.descriptor().descIndex());
        attempt(where + ": its parents", [&] {
            for (SignatureRep* p = s.parent(); p; p = p->parent()) (void)p->protoObject();
        });
        for (size_t k = 0; k < s.objects().length(); ++k)
            attempt(where + ": its objects", [&] { (void)s.objects()[k].get(); });
        for (size_t k = 0; k < s.children().length(); ++k)
            attempt(where + ": its children", [&] { (void)s.children()[k].get(); });
        for (size_t k = 0; k < s.fields().length(); ++k) {
            Field* f = s.fields().at(k);
            attempt(where + ": field " + FieldName(*f), [&] {
                std::string declaration;
                f->declarationText(declaration, s.protoObject());
            });
        }
    }

    void readObject(InterObjRep& o) {
        if (o.isDestroyed()) return;
        const std::string where = "Objects entry " + std::to_string(o.descriptor().descIndex());
        attempt(where + ": its signature", [&] {
            for (SignatureRep* s = o.signature(); s; s = s->parent()) (void)s->protoObject();
        });
        attempt(where + ": its host", [&] { (void)o.host(); });
        attempt(where + ": its name", [&] { (void)o.alias(); });
        attempt(where + ": its access control", [&] { (void)o.isAllAccessAllowed(); });
        InterObjFieldIterator fields(&o);
        for (;;) {
            Field* f = nullptr;
            attempt(where + ": its fields", [&] { f = fields(); });
            if (!f) break;
            SignatureRep* owner = fields.signature();
            const std::string at = where + ": field " + FieldName(*f);
            if (f->isArrayData()) {
                attempt(at, [&] { readArray(static_cast<InterArrayField&>(*f), o, *owner); });
            } else if (f->isData() && !f->isByReference() && !f->isProcDataField() && !f->isCompDataField()) {
                attempt(at, [&] { readValue(*f, o, *owner); });
            }
        }
        InterObjEmbedIterator embeds(&o);
        for (;;) {
            Field* f = nullptr;
            attempt(where + ": its embedded objects", [&] { f = embeds(); });
            if (!f) break;
        }
    }

    static void readValue(Field& f, InterObjRep& o, SignatureRep& owner) {
        if ((f.type() & IDT_TYPEMASK) == IDT_OBJECT) {
            InterObj v;
            f.get(v, o, owner);
        } else {
            ValString v;
            f.get(v, o, owner);
        }
    }

    static void readArray(InterArrayField& a, InterObjRep& o, SignatureRep& owner) {
        const bool objects = (a.type() & IDT_TYPEMASK) == IDT_OBJECT;
        const int64_t n = a.elementCount();
        for (int64_t i = 0; i < n; ++i) {
            ValuePtr e = a.arrayElement(o, owner, static_cast<int32_t>(i * a.elementSize()));
            if (objects) {
                InterObj v;
                e->get(v);
            } else {
                ValString v;
                e->get(v);
            }
        }
    }

    // The entries of the static globals, followed as a program finds them.
    void walkRoots() {
        ObjectStore::StaticObjectsIterator statics(m_);
        for (;;) {
            StaticGlobals::Entry* e = nullptr;
            attempt("Static globals", [&] {
                e = statics();
                if (e) (void)e->object.get();
            });
            if (!e) break;
        }
        DynamicObjectList& dynamics = ObjectStore::DynamicsList(m_);
        for (size_t i = 0; i < dynamics.length(); ++i)
            attempt("Static globals: dynamic object " + std::to_string(i), [&] { (void)dynamics[i].get(); });
        PreloadList& preloads = ObjectStore::Module(m_)->preloads();
        for (size_t i = 0; i < preloads.length(); ++i)
            attempt("Static globals: preload object " + std::to_string(i), [&] { (void)preloads[i].get(); });
    }

    tModuleIndex m_;
    std::vector<WalkFault> faults_;
};

}  // namespace

std::vector<WalkFault> WalkModule(tModuleIndex m) { return Walker(m).run(); }

}  // namespace tq
