// ClassRegistry: which classes exist, under which names, and who made them.
//
// The process-wide stand-in for the system registry's class entries. Each
// entry ties a ProgID ("Tessaro.Group") to a class id, to the creator that
// makes an object of the class (what the class's factory calls), and to the
// library that registered it. A library registers its classes from its
// POD_Populate while the store publishes it; the publishing scope tells the
// registry which library that is.
//
// Invariants:
//  1. A ProgID (compared without case, as class names are) and a class id
//     each name at most one entry. Registering either again replaces that
//     entry, so publishing a library twice leaves one entry per class.
//  2. Entries stay where they are until unregistered: a pointer from a
//     lookup stays valid across the registration of other classes.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/guid.h"

namespace tq {

class DllServer;
class IUnknown;

// Makes one object of a class, counted on server (which may be null), and
// returns its IUnknown holding one reference; null when it cannot.
using ClassCreator = std::function<IUnknown*(DllServer* server)>;

struct ClassEntry {
    std::string progId;
    CLSID clsid;
    ClassCreator creator;
    // The file of the library that registered the class; empty when the
    // program registered it outside any publishing.
    std::string library;
};

class ClassRegistry {
public:
    static const ClassEntry& Register(const char* progId, REFCLSID clsid, ClassCreator creator);
    // False when no class has that id.
    static bool Unregister(REFCLSID clsid);

    static const ClassEntry* FindByProgId(const char* progId);
    static const ClassEntry* FindByClsid(REFCLSID clsid);
    static std::optional<CLSID> CLSIDFromProgID(const char* progId);
    // Empty when no class has that id.
    static std::string ProgIDFromCLSID(REFCLSID clsid);

    // Every entry, in the order of first registration.
    static std::vector<const ClassEntry*> Entries();
    static size_t Count();

    // The library of the innermost publishing scope; empty outside any.
    static const std::string& PublishingLibrary();

    // While it lives, classes registered are recorded as the library's.
    // Scopes nest: a library published while another publishes. A scope
    // that is abandoned undoes what was published within it: the steps
    // recorded with OnAbandon run, last first, and the classes registered
    // in it are unregistered.
    class PublishingScope {
    public:
        explicit PublishingScope(std::string library);
        ~PublishingScope();
        PublishingScope(const PublishingScope&) = delete;
        PublishingScope& operator=(const PublishingScope&) = delete;

        void abandon() noexcept;

    private:
        std::string previous_;
        PublishingScope* outer_;
        std::vector<CLSID> registered_;
        std::vector<std::function<void()>> undo_;
        friend class ClassRegistry;
    };
    // Records a step that undoes part of the publishing in progress
    // (nothing happens outside a scope).
    static void OnAbandon(std::function<void()> undo);
};

}  // namespace tq
