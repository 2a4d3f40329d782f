// tqapp: the run-time executable. A copy of this program, with an
// application's data section written into it (Application.WriteEXE,
// "tessaro build --exe"), is a stand-alone program:
//
//   read its own data section -> start the library -> publish the
//   extension libraries -> load the modules the section lists (beside the
//   executable first, then along TESSARO_PATH) -> name the Application and
//   hand it the arguments and the section (SetInfo) -> raise "Startup" ->
//   run Main of the first module's first object that has one -> serve the
//   timers -> raise "Shutdown" -> exit with Main's status
//
// The section is read from memory: it is this program's own ".tqappdata"
// section (platform/util/pefile.h), patched in the file before it was
// started, so nothing is read from the file at start. A module that is
// missing or does not load, or a section of another revision, is reported
// on standard error naming the file, and the status is 1.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include <tqstore/tqstore.h>

#include "tools/tessaro/failure.h"
#include "tools/tessaro/launch.h"
#include "tools/tessaro/modules.h"
#include "tools/tessaro/programrun.h"
#include "tools/tessaro/session.h"

// The data section WriteEXE fills in a copy. Const and allocated, so the
// linker keeps it as bytes in the file that are mapped when the copy runs;
// zero here, in the template.
extern "C" __attribute__((section(".tqappdata"), used, aligned(64)))
const unsigned char tqAppDataSection[tq::PEFile::kDataSectionSize] = {};

namespace tessaro {

namespace {

// The section's bytes as the file holds them now. The compiler saw zeros
// at build time; the barrier keeps it from folding them in.
const uint8_t* OwnDataSection() {
    const unsigned char* p = tqAppDataSection;
    asm volatile("" : "+r"(p));
    return p;
}

// A module entry as this executable finds it: beside the executable when
// it is there, else as the store searches (current folder, TESSARO_PATH).
std::string ModuleBeside(const std::string& folder, const std::string& entry) {
    const std::string beside = folder + "/" + entry;
    return tq::FileExists(beside) ? beside : entry;
}

int Fail(const std::string& self, const std::string& why) {
    std::cout.flush();
    std::cerr << tq::FilePart(self) << ": " << why << "\n";
    return 1;
}

int Run(int argc, char** argv) {
    std::string self = tq::ProgramPath();
    if (self.empty()) self = argc > 0 ? argv[0] : "tqapp";
    const uint8_t* section = OwnDataSection();
    if (tq::LoadLE32(section) == 0)
        return Fail(self, "this is the run-time executable template: make a program with "
                          "\"tessaro build --exe NAME FILE...\" or Application.WriteEXE");
    tq::ExeData data;
    try {
        data = tq::ReadExeData(section, tq::PEFile::kDataSectionSize, self);
    } catch (const tq::StoreException& e) {
        return Fail(self, e.what());
    }
    if (data.modules.empty()) return Fail(self, "the executable names no modules to load");

    // The session publishes the system library before any module loads:
    // the modules' objects may be made From its classes.
    Session session;
    std::cout.sync_with_stdio(true);
    const std::string folder = tq::ProgramFolder();
    Launch launch;
    try {
        for (const std::string& entry : data.modules) {
            const tq::tModuleIndex m = LoadModuleFile(session.app(), ModuleBeside(folder, entry));
            session.lines().remember(m);
            if (launch.module == tq::NO_MODULE) launch.module = m;
        }
    } catch (const LoadFailed& e) {
        return Fail(self, e.what());
    }
    RunInfo info;
    info.args.push_back(self);
    for (int i = 1; i < argc; ++i) info.args.emplace_back(argv[i]);
    info.word = data.word;
    info.modules = data.modules;
    info.splashFileName = data.splashFileName;
    info.appName = data.appName;
    const std::string shown = SourceLines::fileName(launch.module);
    RunOperands operands;
    operands.file = self;
    operands.args.assign(info.args.begin() + 1, info.args.end());
    try {
        launch.target = MainTarget(launch.module, shown);
        launch.object = ResolveTarget(launch.target, shown);
    } catch (const TargetFailed& e) {
        // A program written as an Application's Startup handler needs no
        // Main; any other has nothing to run.
        if (FindApplication(launch.module, data.appName).isNull()) return Fail(self, e.what());
    } catch (const tq::StoreException& e) {
        return Fail(self, shown + ": " + e.what());
    }
    return RunProgram(session, launch, operands, info, true).status;
}

}  // namespace

}  // namespace tessaro

int main(int argc, char** argv) {
    // A file-size limit makes a write fail with its reason rather than end
    // the process halfway through a save.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return tessaro::Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "Out of memory\n";
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
    }
    return 1;
}
