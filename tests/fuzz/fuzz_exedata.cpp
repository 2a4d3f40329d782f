// Reads arbitrary bytes as an executable: the ELF section headers through
// PEFile, and the data section it finds (or the bytes themselves, padded to
// a section) as a data section. Each is refused with its exception or read
// whole; a section read must write back to the same bytes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/util/pefile.h"
#include "store/builtin/exedata.h"
#include "store/errors/storeexc.h"
#include "scratchfile.h"

namespace {

void CheckSection(const uint8_t* section) {
    tq::ExeData data;
    try {
        data = tq::ReadExeData(section, tq::PEFile::kDataSectionSize, "fuzz");
    } catch (const tq::StoreException&) {
        return;
    }
    // What was read, written again, is the section up to the list's end.
    std::array<uint8_t, tq::PEFile::kDataSectionSize> again{};
    tq::WriteExeData(again.data(), again.size(), data.word, data.appName, data.splashFileName, data.moduleText());
    const size_t used = tq::ExeDataSize(data.appName, data.splashFileName, data.moduleText());
    if (used > again.size() || std::memcmp(again.data(), section, used) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::array<uint8_t, tq::PEFile::kDataSectionSize> padded{};
    std::memcpy(padded.data(), data, std::min(size, padded.size()));
    CheckSection(padded.data());
    const std::string path = tq::fuzz::ScratchFile();
    tq::fuzz::WriteRaw(path, data, size);
    try {
        tq::PEFile exe;
        exe.OpenReadOnly(path);
        if (const uint8_t* section = exe.GetTessaroDataSection()) CheckSection(section);
    } catch (const tq::PEFileError&) {
    }
    return 0;
}
