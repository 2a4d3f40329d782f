// A host that keeps every message box the store shows instead of showing it,
// so a test can check the text, caption and style the user would see.
#pragma once

#include <string>
#include <vector>

#include "store/persist/objstore.h"
#include "store/storeapp.h"

namespace tq {

class MessageBoxApp : public StoreApplication {
public:
    struct Box {
        std::string text;
        std::string caption;
        unsigned style;
    };
    std::vector<Box> boxes;

    int messageBox(HWND, const char* text, const char* caption, unsigned style) override {
        boxes.push_back({text ? text : "", caption ? caption : "", style});
        return IDOK;
    }
    void appQuit() override {}
    ObjectStore* makeStore(OCLStorage* storage) override { return new ObjectStore(storage); }
};

}  // namespace tq
