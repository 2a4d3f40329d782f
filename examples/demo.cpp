// The demo: what the library knows of itself.
#include <tqstore/tqstore.h>

#include <cstdio>

int main() {
    tq::TessaroInitializer start(1);
    std::printf("Tessaro runtime (tqstore) %s\n", tq::LibraryVersion());
    std::printf("library: %s\n", tq::LibraryPath().c_str());

    const auto classes = tq::ClassRegistry::Entries();
    std::printf("published classes: %zu\n", classes.size());
    for (const tq::ClassEntry* c : classes) {
        std::printf("  %-28s %s  %s\n", c->progId.c_str(), c->clsid.toString().c_str(),
                    c->library.c_str());
    }

    const auto messages = tq::MessageTable();
    std::printf("messages: %zu (ids %u to %u)\n", messages.size(), tq::kFirstMessageId,
                tq::kLastMessageId);
    std::printf("for example: %s\n", tq::NotFound(32741, "Form1").what());

    delete tq::StoreApplication::Current();
    return 0;
}
