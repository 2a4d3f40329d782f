#include "platform/util/dllutils.h"

#include <mutex>
#include <vector>

#include "platform/util/pathsrch.h"
#include "platform/util/pathstr.h"

namespace tq {
namespace {

struct Attached {
    std::string path;
    VersionData version;
};

struct AttachedTable {
    std::mutex lock;
    std::vector<Attached> libraries;
};

// Libraries attach during static initialisation of other libraries, so the
// table is made on first use rather than at a fixed point of start-up; it is
// never destroyed, as libraries may still be asked about while the process
// ends.
AttachedTable& Table() {
    static auto* const table = new AttachedTable;
    return *table;
}

}  // namespace

void DLLUtils::DLLAttached(const char* path, const VersionData& version) {
    if (!path || !*path) return;
    AttachedTable& t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    for (Attached& a : t.libraries) {
        if (SamePath(a.path, path)) {
            a.version = version;
            return;
        }
    }
    t.libraries.push_back({path, version});
}

std::string DLLUtils::AttachedDLLs() {
    AttachedTable& t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    PathString list;
    for (const Attached& a : t.libraries) list.append(a.path);
    return list.text();
}

bool DLLUtils::GetVersionData(const char* path, VersionData& version) {
    if (!path || !*path) return false;
    AttachedTable& t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    for (const Attached& a : t.libraries) {
        if (SamePath(a.path, path)) {
            version = a.version;
            return true;
        }
    }
    return false;
}

void DLLUtils::GetProductVersion(const VersionData& version, uint32_t& high, uint32_t& low) {
    high = static_cast<uint32_t>(version.major) << 16 | version.minor;
    low = static_cast<uint32_t>(version.patch) << 16 | version.build;
}

std::string DLLUtils::FormatVersion(uint32_t high, uint32_t low) {
    return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." +
           std::to_string(low >> 16) + "." + std::to_string(low & 0xFFFF);
}

}  // namespace tq
