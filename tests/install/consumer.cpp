// A program outside the tree, built against the installed package.
#include <tqstore/tqstore.h>

#include <cstdio>
#include <cstring>

int main() {
    tq::TessaroInitializer start(1);
    if (!tq::StoreApplication::Current()) {
        std::fprintf(stderr, "no default application\n");
        return 1;
    }
    const std::string text = tq::StoreException::StringMsg(32741, "Form1");
    if (text != "Object 'Form1' was not found") {
        std::fprintf(stderr, "unexpected message: %s\n", text.c_str());
        return 1;
    }
    try {
        throw tq::NotFound(32737, "Width");
    } catch (const std::exception& e) {
        if (std::strcmp(e.what(), "Field 'Width' does not exist.") != 0) return 1;
    }
    // A string counts the matches of a pattern: the pattern's class comes
    // with the umbrella header too.
    const tq::ValString dashed("a-b-c");
    if (dashed->countRegExp(tq::RWCRegexp("-")) != 2) {
        std::fprintf(stderr, "regular expression counted wrongly\n");
        return 1;
    }
    if (DllCanUnloadNow() != tq::S_OK) {
        std::fprintf(stderr, "library in use with nothing alive\n");
        return 1;
    }
    delete tq::StoreApplication::Current();
    std::printf("Tessaro runtime (tqstore) %s: consumer ran\n", tq::LibraryVersion());
    return 0;
}
