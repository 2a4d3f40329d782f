// Reads arbitrary bytes as a project file. A file is refused with a
// StoreException or read whole; what is read must be a project's (a name,
// entries without the separator) and must come back the same when written
// out as WriteProjectFile writes it and read again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/util/pathstr.h"
#include "store/builtin/iproject.h"
#include "store/errors/storeexc.h"
#include "scratchfile.h"

namespace {

bool Read(const std::string& path, tq::ProjectFile& out) {
    try {
        out = tq::ReadProjectFile(path);
        return true;
    } catch (const tq::StoreException&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = tq::fuzz::ScratchFile() + ".tqp";
    tq::fuzz::WriteRaw(path, data, size);
    tq::ProjectFile file;
    if (!Read(path, file)) return 0;
    if (file.name.empty() && !file.modulePath.empty()) std::abort();
    if (file.name.find_first_of("; \t\n") != std::string::npos) std::abort();
    const tq::PathString modules(file.modulePath.c_str());
    if (modules.text() != file.modulePath) std::abort();
    // As WriteProjectFile lays it out: the name, then an entry a line.
    std::string again = file.name + "\n";
    for (size_t i = 0; i < modules.count(); ++i) again += modules.entry(i) + "\n";
    tq::fuzz::WriteRaw(path, reinterpret_cast<const uint8_t*>(again.data()), again.size());
    tq::ProjectFile back;
    if (!Read(path, back) || back.name != file.name || back.modulePath != file.modulePath) std::abort();
    return 0;
}
