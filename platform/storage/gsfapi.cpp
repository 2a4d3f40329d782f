#include "platform/storage/gsfapi.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

#include "platform/storage/oclstorage.h"
#include "platform/util/uassert.h"

#ifndef TQ_GSF_SONAME
#error "the build names libgsf's soname in TQ_GSF_SONAME"
#endif

namespace tq {
namespace {

struct Loader {
    std::mutex mutex;
    std::string name = TQ_GSF_SONAME;
    GsfApi api;
    std::atomic<bool> loaded = false;
    std::string failure;  // why the one attempt failed; "" before it
};

Loader& State() {
    static Loader loader;
    return loader;
}

// Fills the table from the library named `name`, or says why it cannot.
std::string Resolve(const std::string& name, GsfApi& api) {
    // Local: the symbols stay out of the process's global scope, where they
    // could bind to a host's own copies of GLib or be bound by them.
    void* library = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = ::dlerror();
        return reason ? reason : "unknown error";
    }
    // A handle finds the symbols of the library and of everything it needs
    // (GObject and GLib come in with libgsf).
#define TQ_GSF_RESOLVE(fn)                                                      \
    api.fn = reinterpret_cast<decltype(api.fn)>(::dlsym(library, #fn));         \
    if (api.fn == nullptr) return std::string("the function " #fn " is missing");
    TQ_GSF_FUNCTIONS(TQ_GSF_RESOLVE)
#undef TQ_GSF_RESOLVE
    return {};
}

}  // namespace

const GsfApi& LoadGsf() {
    Loader& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.loaded && s.failure.empty()) {
        GsfApi api;
        std::string failure = Resolve(s.name, api);
        if (failure.empty()) {
            s.api = api;
            s.loaded = true;
        } else {
            s.failure = std::move(failure);
        }
    }
    if (!s.loaded) throw StorageError(s.name + " could not be loaded: " + s.failure);
    return s.api;
}

const GsfApi& Gsf() {
    Loader& s = State();
    TQ_ASSERT(s.loaded, "gsf loaded");
    return s.api;
}

bool GsfLoaded() {
    return State().loaded;
}

void SetGsfLibraryName(std::string name) {
    Loader& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.loaded && s.failure.empty()) s.name = std::move(name);
}

}  // namespace tq
