#include "platform/util/dynlib.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace tq {
namespace {

std::string& ErrorText() {
    thread_local std::string text;
    return text;
}

// Process-wide tables here are made on first use and never destroyed: a
// host's static destructors may still call in while the process ends.
std::map<std::string, void*>& OwnSymbols() {
    static auto* const symbols = new std::map<std::string, void*>;
    return *symbols;
}

// A library the program holds linked in (ProvideLinkedLibrary): its handle
// is the address of its entry here, which never moves or goes.
struct LinkedLibrary {
    std::string symbol;
    void* address = nullptr;
};

std::map<std::string, LinkedLibrary>& LinkedLibraries() {
    static auto* const libraries = new std::map<std::string, LinkedLibrary>;
    return *libraries;
}

bool EndsWithNoCase(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && strcasecmp(text.c_str() + text.size() - n, suffix) == 0;
}

std::string LoaderError(const char* fallback) {
    const char* text = dlerror();
    return text ? text : fallback;
}

using Handle = DynamicLibrary::Handle;

// name as a linked-in library is filed: lower case, without a leading
// "lib" and a ".so" or ".dll" ending.
std::string LinkedName(std::string name) {
    if (EndsWithNoCase(name, ".dll") || EndsWithNoCase(name, ".so")) name.resize(name.rfind('.'));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.rfind("lib", 0) == 0) name.erase(0, 3);
    return name;
}

LinkedLibrary* FindLinked(Handle library) {
    for (auto& [name, linked] : LinkedLibraries())
        if (&linked == library) return &linked;
    return nullptr;
}

// The library that holds this very function: its handle and file.
struct SelfLibrary {
    Handle handle = nullptr;
    std::string path;
    std::string error;
    // This code is part of the program rather than of a shared library.
    bool linkedIn = false;
};

// The loaded object whose segments hold `at`: its name, and whether it is the
// program itself (always the first the loader lists). Asked of the loader's
// list of segments rather than through dladdr, which also searches the
// library's symbol table for the nearest name, the dearest step of a start.
struct Holder {
    const void* at = nullptr;
    int index = 0;
    bool found = false;
    std::string name;
};

int FindHolder(dl_phdr_info* info, size_t, void* data) {
    auto* holder = static_cast<Holder*>(data);
    const auto at = reinterpret_cast<uintptr_t>(holder->at);
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD) continue;
        const uintptr_t from = info->dlpi_addr + segment.p_vaddr;
        if (at >= from && at - from < segment.p_memsz) {
            holder->found = true;
            holder->name = info->dlpi_name ? info->dlpi_name : "";
            return 1;
        }
    }
    ++holder->index;
    return 0;
}

SelfLibrary FindSelf() {
    SelfLibrary self;
    Holder holder;
    holder.at = reinterpret_cast<const void*>(&FindSelf);
    dl_iterate_phdr(FindHolder, &holder);
    if (!holder.found || (holder.index != 0 && holder.name.empty())) {
        self.error = "cannot tell which file holds the tqstore library";
        return self;
    }
    if (holder.index == 0) {
        // Linked into the program itself: the program is the library.
        self.handle = dlopen(nullptr, RTLD_LAZY);
        self.linkedIn = true;
        char exe[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        self.path = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
        return self;
    }
    // Already loaded, so this only finds it and counts one more reference.
    self.handle = dlopen(holder.name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!self.handle) {
        self.error = LoaderError("cannot reopen the tqstore library");
        return self;
    }
    char* real = realpath(holder.name.c_str(), nullptr);
    self.path = real ? real : holder.name;
    std::free(real);
    return self;
}

const SelfLibrary& TheSelf() {
    static const SelfLibrary* const self = new SelfLibrary(FindSelf());
    return *self;
}

std::vector<std::string> Candidates(const std::string& name) {
    std::vector<std::string> names{name};
    if (name.find('/') != std::string::npos) return names;
    std::string base = name;
    if (EndsWithNoCase(base, ".dll")) base.resize(base.size() - 4);
    if (base.empty() || EndsWithNoCase(base, ".so") || base.find(".so.") != std::string::npos)
        return names;
    names.push_back("lib" + base + ".so");
    names.push_back(base + ".so");
    return names;
}

// A program that holds the store linked in carries the shared library's
// soname, so a library built against libtqstore.so finds its dependency
// already loaded and never brings a second store into the process. The
// program does not export the store's C++ interface, though, so the loader
// refuses such a library while binding it, before any of its code has run,
// naming a symbol of the tq namespace it could not find. That refusal gets
// a text that says what happened; empty for any other failure.
std::string RefusalOfStoreClient(const std::string& loaderError) {
    static const char kUndefined[] = "undefined symbol: ";
    const size_t at = loaderError.find(kUndefined);
    if (at == std::string::npos) return {};
    const std::string symbol = loaderError.substr(at + sizeof kUndefined - 1);
    const bool storeSymbol = symbol.rfind("_Z", 0) == 0 &&
                             (symbol.find("N2tq") != std::string::npos ||
                              symbol.find("NK2tq") != std::string::npos);
    if (!storeSymbol) return {};
    const size_t colon = loaderError.find(": ");
    const std::string file = colon < at ? loaderError.substr(0, colon) : std::string("the library");
    int status = 0;
    char* readable = abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status);
    const std::string missing = readable ? readable : symbol;
    std::free(readable);
    return file + ": built against the shared tqstore library, which this program (" +
           TheSelf().path + ") holds linked in and does not share with libraries; "
           "load it from a host linked with libtqstore.so (the loader found no " + missing + ")";
}

// The loader reads a named file with a plain blocking open: a pipe with no
// writer, or a terminal, would hold the program there for good, and no
// folder or device is a library. Such a path is refused before the loader
// sees it; empty when path is no such thing (a missing file is the
// loader's to report).
std::string NotALibraryFile(const char* path) {
    struct stat st {};
    if (::stat(path, &st) != 0 || S_ISREG(st.st_mode)) return {};
    const char* what = S_ISDIR(st.st_mode)    ? "a folder"
                       : S_ISFIFO(st.st_mode) ? "a pipe"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                                              : "a device";
    return std::string(path) + ": not a library file: it is " + what;
}

}  // namespace

bool DynamicLibrary::IsSelfName(const char* name) {
    if (!name) return false;
    std::string base = name;
    if (EndsWithNoCase(base, ".dll") || EndsWithNoCase(base, ".so")) {
        base.resize(base.rfind('.'));
    }
    return strcasecmp(base.c_str(), "tqstore") == 0;
}

Handle DynamicLibrary::Self() {
    const SelfLibrary& self = TheSelf();
    if (!self.handle) ErrorText() = self.error;
    return self.handle;
}

const std::string& DynamicLibrary::SelfPath() { return TheSelf().path; }

Handle DynamicLibrary::Open(const char* name) {
    if (!name || !*name) {
        ErrorText() = "no library name given";
        return nullptr;
    }
    if (IsSelfName(name)) return Self();
    if (std::strchr(name, '/') == nullptr && !LinkedLibraries().empty()) {
        const auto it = LinkedLibraries().find(LinkedName(name));
        if (it != LinkedLibraries().end()) return &it->second;
    }
    if (std::strchr(name, '/') != nullptr) {
        std::string refusal = NotALibraryFile(name);
        if (!refusal.empty()) {
            ErrorText() = std::move(refusal);
            return nullptr;
        }
    }
    // Report the first failure, unless a later candidate was found but failed
    // for another reason (a missing dependency, say): that one says more.
    std::string firstError;
    std::string foundError;
    const std::vector<std::string> candidates = Candidates(name);
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (Handle h = dlopen(candidates[i].c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
        const std::string error = LoaderError("cannot open library");
        if (TheSelf().linkedIn) {
            std::string refusal = RefusalOfStoreClient(error);
            if (!refusal.empty()) {
                ErrorText() = std::move(refusal);
                return nullptr;
            }
        }
        if (i == 0)
            firstError = error;
        else if (foundError.empty() && error.find("No such file") == std::string::npos)
            foundError = error;
    }
    ErrorText() = foundError.empty() ? firstError : foundError;
    return nullptr;
}

void* DynamicLibrary::Symbol(Handle library, const char* symbol) {
    if (!library || !symbol) {
        ErrorText() = "no library or no symbol name given";
        return nullptr;
    }
    if (const LinkedLibrary* linked = FindLinked(library)) {
        if (linked->symbol == symbol) return linked->address;
        ErrorText() = std::string(symbol) + ": no such routine in a library linked into " + TheSelf().path;
        return nullptr;
    }
    if (library == TheSelf().handle) {
        const auto it = OwnSymbols().find(symbol);
        if (it != OwnSymbols().end()) return it->second;
    }
    dlerror();
    void* address = dlsym(library, symbol);
    if (const char* error = dlerror()) {
        ErrorText() = error;
        return nullptr;
    }
    if (!address) ErrorText() = std::string(symbol) + ": symbol has no address";
    return address;
}

std::string DynamicLibrary::PathOf(Handle library) {
    if (!library) return {};
    if (library == TheSelf().handle) return TheSelf().path;
    for (const auto& [name, linked] : LinkedLibraries())
        if (&linked == library) return TheSelf().path + " (" + name + ")";
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map) return {};
    char* real = realpath(map->l_name, nullptr);
    std::string path = real ? real : map->l_name;
    std::free(real);
    return path;
}

void DynamicLibrary::Close(Handle library) {
    if (library && library != TheSelf().handle && !FindLinked(library)) dlclose(library);
}

const std::string& DynamicLibrary::LastError() { return ErrorText(); }

void DynamicLibrary::ProvideOwnSymbol(const char* symbol, void* address) {
    if (symbol) OwnSymbols()[symbol] = address;
}

void DynamicLibrary::ProvideLinkedLibrary(const char* name, const char* symbol, void* address) {
    if (!name || !symbol) return;
    LinkedLibraries()[LinkedName(name)] = LinkedLibrary{symbol, address};
}

}  // namespace tq
