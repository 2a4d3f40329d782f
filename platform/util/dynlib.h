// DynamicLibrary: loading libraries and finding their routines by name.
//
// Published-object libraries and declared DLL procedures are named the way a
// Windows program names them ("tqstore", "mylib.dll"); this maps such names
// onto the dynamic loader:
//  1. "tqstore" (any case, with or without ".dll" or ".so") always means the
//     library that holds this code, wherever it was loaded from; when this
//     code is linked statically into a program, it means that program.
//  2. A name with a '/' is a path and is opened as it is; a path that names
//     a folder, a pipe, a socket or a device is refused without a look
//     inside (a pipe would block the loader's read for good).
//  3. A name a program declared as linked in (ProvideLinkedLibrary) means
//     that code, which the program holds: "tqsys" in the tessaro command.
//  4. Any other name is tried as given (the loader's search path applies),
//     then, without a ".dll" ending, as "lib<name>.so" and "<name>.so".
//
// A program that holds this code linked in (the tessaro command) holds the
// only store of its process. A library built against the shared tqstore
// library cannot share it: opening one fails before any of its code runs,
// with a text that says so (see RefusalOfStoreClient in dynlib.cpp).
//
// Libraries stay loaded until Close(); the store never closes a published
// library, because the classes it registered point into it.
//
// Failures return null and leave the loader's text in LastError(); nothing
// here throws, so callers choose the exception.
#pragma once

#include <string>

namespace tq {

class DynamicLibrary {
public:
    using Handle = void*;

    // Opens the library of name (see above); null on failure.
    static Handle Open(const char* name);
    // The address of symbol in the library; null on failure.
    static void* Symbol(Handle library, const char* symbol);
    // The file a handle from Open was loaded from.
    static std::string PathOf(Handle library);
    // Gives back a handle from Open.
    static void Close(Handle library);

    // Why the last Open or Symbol of this thread failed.
    static const std::string& LastError();

    // True for the names that mean this library itself.
    static bool IsSelfName(const char* name);
    // The handle of this library (the program's when linked into it).
    static Handle Self();
    // The file this library (or the program) was loaded from.
    static const std::string& SelfPath();

    // Makes symbol findable through Self() even when the program that holds
    // this library statically does not export its symbols to the loader.
    static void ProvideOwnSymbol(const char* symbol, void* address);
    // Makes name (compared as the self name is: any case, with or without
    // "lib", ".so" or ".dll") open as a library the program holds linked
    // in, whose one routine `symbol` is at address. A program that links an
    // extension library's code in cannot dlopen the shared form of it (see
    // above), yet publishes it by the same name a host would load.
    static void ProvideLinkedLibrary(const char* name, const char* symbol, void* address);
};

}  // namespace tq
