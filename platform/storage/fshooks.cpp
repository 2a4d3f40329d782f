#include "platform/storage/fshooks.h"

namespace tq {

namespace {

FileSystemHooks*& Installed() {
    static FileSystemHooks* hooks = nullptr;
    return hooks;
}

}  // namespace

void SetFileSystemHooks(FileSystemHooks* hooks) { Installed() = hooks; }

FileSystemHooks* InstalledFileSystemHooks() { return Installed(); }

}  // namespace tq
