// One command's life with the library: started, its application made,
// text modules enabled; at the end every module unloaded without saving
// (what was not saved on purpose is dropped, never half-written), the
// application deleted and the library ended, in that order.
#pragma once

#include <memory>

#include <tqstore/tqstore.h>

#include "tools/tessaro/modules.h"
#include "tools/tessaro/tessaroapp.h"

namespace tessaro {

class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    TessaroApp& app() { return *app_; }
    SourceLines& lines() { return lines_; }

private:
    tq::TessaroInitializer library_;
    TessaroApp* app_;
    SourceLines lines_;
};

}  // namespace tessaro
