#include "platform/util/uassert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tq {
namespace {

void DefaultAssertHandler(const char* text, const char* source, int line) {
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", text, source, line);
    std::fflush(stderr);
    std::abort();
}

AssertHandler currentHandler = DefaultAssertHandler;

// "store/storeapp.cpp" -> "storeapp": the source names the system reports.
std::string ShortSourceName(const char* file) {
    if (!file) return {};
    const char* base = std::strrchr(file, '/');
    base = base ? base + 1 : file;
    const char* dot = std::strrchr(base, '.');
    return dot ? std::string(base, dot) : std::string(base);
}

}  // namespace

AssertHandler SetAssertHandler(AssertHandler handler) {
    AssertHandler previous = currentHandler;
    currentHandler = handler ? handler : DefaultAssertHandler;
    return previous;
}

void utilsAssert(const char* text, const char* file, int line) {
    const std::string source = ShortSourceName(file);
    currentHandler(text ? text : "", source.c_str(), line);
    std::abort();
}

}  // namespace tq
