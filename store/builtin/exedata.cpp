#include "store/builtin/exedata.h"

#include <cstring>

#include "platform/util/lebytes.h"
#include "platform/util/pathstr.h"
#include "store/errors/extexcep.h"

namespace tq {

std::string ExeData::moduleText() const {
    std::string out;
    for (const std::string& m : modules) {
        if (!out.empty()) out += ';';
        out += m;
    }
    return out;
}

size_t ExeDataSize(const std::string& appName, const std::string& splashFileName, const std::string& modulePath) {
    return 4 + (appName.size() + 1) + (splashFileName.size() + 1) + (modulePath.size() + 2);
}

void WriteExeData(uint8_t* section, size_t size, uint32_t word, const std::string& appName,
                  const std::string& splashFileName, const std::string& modulePath) {
    if (ExeDataSize(appName, splashFileName, modulePath) > size)
        throw StoreException("Module list is too large for data section.");
    StoreLE32(section, word);
    uint8_t* at = section + 4;
    std::memcpy(at, appName.data(), appName.size());
    at += appName.size() + 1;
    std::memcpy(at, splashFileName.data(), splashFileName.size());
    at += splashFileName.size() + 1;
    // The ';' list becomes NUL-separated entries; the section is zero, so
    // the final NULs are there already.
    for (const char c : modulePath) *at++ = static_cast<uint8_t>(c == PathString::kListSeparator ? '\0' : c);
}

ExeData ReadExeData(const uint8_t* section, size_t size, const std::string& where) {
    auto damaged = [&](const char* what) -> StoreException {
        return StoreException(where + ": the executable's data section is damaged (" + what + ")");
    };
    if (size < 4) throw damaged("it is shorter than its word");
    ExeData out;
    out.word = LoadLE32(section);
    if (!IsCurrentExeRevision(out.word)) throw StoreException("Incorrect EXE revision.");
    size_t at = 4;
    auto text = [&](const char* what) {
        const void* end = std::memchr(section + at, 0, size - at);
        if (!end) throw damaged(what);
        const size_t n = static_cast<size_t>(static_cast<const uint8_t*>(end) - (section + at));
        std::string s(reinterpret_cast<const char*>(section + at), n);
        at += n + 1;
        return s;
    };
    out.appName = text("the application name runs off its end");
    out.splashFileName = text("the splash file name runs off its end");
    for (;;) {
        if (at >= size) throw damaged("the module list runs off its end");
        std::string entry = text("the module list runs off its end");
        if (entry.empty()) break;
        // WriteEXE splits the ';' list: an entry never holds one.
        if (entry.find(PathString::kListSeparator) != std::string::npos) throw damaged("a module entry holds ';'");
        out.modules.push_back(std::move(entry));
    }
    return out;
}

std::vector<std::string> SplitNulList(const char* list) {
    std::vector<std::string> out;
    for (const char* p = list; p && *p; p += std::strlen(p) + 1) out.emplace_back(p);
    return out;
}

}  // namespace tq
