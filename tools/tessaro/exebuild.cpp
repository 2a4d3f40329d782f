// tessaro build --exe NAME FILE...: a stand-alone executable from a
// program's modules, through the same Application.WriteEXE a program
// calls, so nobody has to write an Application object to get one.
//
//   check every FILE loads (and compiles) -> find what the executable will
//   run -> copy each FILE beside NAME (unless it is there already) -> make
//   an Application with Path and EXEName from NAME and the files' names as
//   its ModulePath -> WriteEXE
//
// The modules travel beside the executable, by their file names only: the
// executable loads them from its own folder wherever it is started, so the
// folder can be moved or copied whole. Each file is written beside its
// target and renamed over it, as the executable is: a failure leaves what
// was there.
#include <iostream>

#include <tqstore/tqstore.h>

#include "tools/tessaro/cmdline.h"
#include "tools/tessaro/commands.h"
#include "tools/tessaro/modules.h"
#include "tools/tessaro/programrun.h"
#include "tools/tessaro/runtarget.h"
#include "tools/tessaro/session.h"

namespace tessaro {

namespace {

// Copies the module file at source into folder under its own name, unless
// it is that file already.
void CopyBeside(const std::string& source, const std::string& folder) {
    const std::string target = folder + "/" + std::string(tq::FilePart(source));
    if (tq::SameFileAs(source, target)) return;
    tq::ReplaceFileBy(target, 0666, [&](int fd, const std::string&) { tq::CopyFileFrom(source, fd, target); });
}

}  // namespace

int BuildExe(const Command& self, const ParsedArgs& parsed) {
    if (parsed.has("output")) return UsageFailure(self, "--exe names the executable; -o does not go with it");
    if (parsed.operands.empty()) return UsageFailure(self, "no FILE to make the executable from");
    const std::string name = parsed.value("exe");
    const std::string full = tq::LimitedFullPath(name);
    if (full.empty() || tq::FilePart(full).empty()) {
        std::cerr << "tessaro build: " << name << ": not a file name for the executable\n";
        return 1;
    }
    // Application.EXEName stops at the first '.': a name with one would be
    // written under another name than the one asked for.
    if (tq::FilePart(full).find('.') != std::string_view::npos) {
        std::cerr << "tessaro build: " << name << ": an executable's name cannot hold '.'\n";
        return 1;
    }
    const std::string folder = tq::PathPart(full);
    Session session;
    try {
        std::vector<std::string> files;
        tq::PathString modulePath;
        tq::tModuleIndex first = tq::NO_MODULE;
        for (const std::string& operand : parsed.operands) {
            const std::string file = tq::FullPathName(ReadableModuleFile(operand));
            const std::string entry(tq::FilePart(file));
            if (modulePath.contains(entry)) {
                std::cerr << "tessaro build: " << operand << ": a module of that file name is given already\n";
                return 1;
            }
            const tq::tModuleIndex m = LoadModuleFile(session.app(), file, true);
            if (first == tq::NO_MODULE) first = m;
            files.push_back(file);
            modulePath.append(entry);
        }
        // What the executable will run: Main, or an Application's Startup.
        try {
            MainTarget(first, SourceLines::fileName(first));
        } catch (const TargetFailed& e) {
            if (FindApplication(first, "").isNull()) {
                std::cerr << e.what() << "\n";
                return 1;
            }
        }
        for (const std::string& file : files) CopyBeside(file, folder);
        const tq::InterObj app(
            tq::InterObjRep::NewCopy(*tq::iApplication::PO_GetObject(), tq::DETACHED_MODULE, tq::IOT_ORDINARY));
        struct Destroy {
            const tq::InterObj& app;
            ~Destroy() { app->Destroy(); }
        } destroy{app};
        tq::iApplication* part = tq::iApplication::Of(app.get());
        part->pdSetEXEFileName(full.c_str());
        part->pdSetModulePath(modulePath.c_str());
        part->imWriteEXE();
    } catch (const LoadFailed& e) {
        std::cerr << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "tessaro build: " << name << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace tessaro
