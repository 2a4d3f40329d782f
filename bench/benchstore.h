// What the store benchmarks share: the library started once for the whole
// program, and a scratch folder for their module files that goes, with
// everything in it, when the program ends.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "store/tqstore.h"

namespace tq::bench {

inline void StartLibrary() {
    static TessaroInitializer* start = new TessaroInitializer(1);
    (void)start;
}

inline const std::string& ScratchFolder() {
    static const struct Folder {
        Folder() {
            std::string pattern = std::filesystem::temp_directory_path().string() + "/tqbenchXXXXXX";
            if (!::mkdtemp(pattern.data())) std::abort();
            path = pattern;
        }
        ~Folder() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
        std::string path;
    } scratch;
    return scratch.path;
}

}  // namespace tq::bench
