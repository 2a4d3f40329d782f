#include "tools/tessaro/programrun.h"

#include <cstdio>
#include <iostream>
#include <optional>

#include "tools/tessaro/failure.h"
#include "tools/tessaro/syslib.h"

namespace tessaro {

int StatusOf(const tq::ValuePtr& value) {
    if (!value) return 0;
    switch (value->type() & tq::IDT_TYPEMASK) {
        case tq::IDT_SHORT:
        case tq::IDT_LONG:
        case tq::IDT_FLOAT:
        case tq::IDT_DOUBLE:
        case tq::IDT_CURRENCY: {
            try {
                return static_cast<int>(value->as<int32_t>());
            } catch (const tq::StoreException&) {
                return 1;
            }
        }
        default: return 0;
    }
}

bool RunTimers(TessaroApp& app) {
    while (tq::MessageLoop::TimerCount() > 0) {
        tq::MessageLoop::Wait(-1);
        if (app.takeInterrupt()) return false;
        tq::StoreApplication::PumpMessages();
        std::cout.flush();
        std::fflush(stdout);
    }
    return true;
}

namespace {

bool IsApplication(tq::InterObjRep* o) { return tq::iApplication::Of(o) != nullptr; }

}  // namespace

tq::InterObj FindApplication(tq::tModuleIndex m, const std::string& name) {
    tq::InterObj found;
    if (!name.empty() && tq::ObjectStore::find(name.c_str(), found) && IsApplication(found.get())) return found;
    tq::GroupObjectList objects;
    tq::ObjectStore::GetStaticObjects(m, objects, 1);
    for (size_t i = 0; i < objects.length(); ++i)
        if (tq::InterObjRep* o = objects[i].get(); IsApplication(o)) return tq::InterObj(o);
    return tq::InterObj();
}

ProgramApplication::ProgramApplication(tq::tModuleIndex m, const RunInfo& info) {
    object_ = FindApplication(m, info.appName);
    if (object_.isNull()) {
        object_ = tq::InterObjRep::NewCopy(*tq::iApplication::PO_GetObject(), tq::DETACHED_MODULE, tq::IOT_ORDINARY);
        made_ = true;
    }
    std::vector<const char*> argv;
    for (const std::string& a : info.args) argv.push_back(a.c_str());
    std::string modules;
    for (const std::string& e : info.modules) modules.append(e).push_back('\0');
    try {
        tq::iApplication::Of(object_.get())
            ->SetInfo(static_cast<int>(argv.size()), argv.data(), info.word, modules.c_str(),
                      info.splashFileName.empty() ? nullptr : info.splashFileName.c_str());
        tq::iGlobals::SetApp(object_);
    } catch (...) {
        if (made_) object_->Destroy();
        throw;
    }
}

ProgramApplication::~ProgramApplication() {
    if (made_ && !object_.isNull() && !object_->isDestroyed()) object_->Destroy();
}

void ProgramApplication::raise(const char* name) {
    if (tq::InterObjRep* o = object_.get(); o && !o->isDestroyed()) o->evalIEvent(name, nullptr, 0);
}

RunResult RunProgram(Session& session, const Launch& launch, const RunOperands& operands, const RunInfo& info,
                     bool events) {
    const tq::tModuleIndex m = launch.module;
    const Target& target = launch.target;
    ChainRecorder recorder;
    // A failure the store hands to the application (a failing Destruct)
    // is reported as an uncaught one is, and the run does not end well.
    session.app().setFailureReporter([&](const tq::StoreException& e) {
        std::cerr << DescribeFailure(e, recorder.chainFor(e.what()), SourceLines::fileName(m), target.object,
                                     target.method, session.lines());
    });
    struct ReporterReset {
        TessaroApp& app;
        ~ReporterReset() { app.setFailureReporter(nullptr); }
    } reporterReset{session.app()};
    const auto stopped = [] {
        std::cerr << "\ntessaro: stopped by the user (Ctrl-C); nothing was saved\n";
        return RunResult{kBreakStatus, false};
    };
    RunResult run;
    std::optional<ProgramApplication> application;
    bool shutdownRaised = false;
    try {
        application.emplace(m, info);
        if (events) application->raise("Startup");
        tq::ValuePtr result;
        if (!launch.object.isNull()) {
            ProgramArguments arguments(launch, operands);
            int handled = 0;
            result = launch.object->evalIMember(target.method.c_str(), &arguments.values(), &handled);
        }
        run.status = ProgramExitStatus(StatusOf(result), result != nullptr);
        std::cout.flush();
        std::fflush(stdout);
        if (!RunTimers(session.app())) return stopped();
        shutdownRaised = true;
        if (events) application->raise("Shutdown");
        if (session.app().handedFailures() > 0) return RunResult{1, false};
    } catch (const tq::StoreException& e) {
        // A line Print left open ends before the report, so that on a
        // terminal the report starts a line of its own.
        if (auto* out = dynamic_cast<tq::TextPrintable*>(session.app().getCurrentPrintable()); out && out->column() != 0)
            out->endOfStatement(-1);
        std::cout.flush();
        std::fflush(stdout);
        if (session.app().breakTaken()) return stopped();
        // Application.Quit ends the program as its last statement would.
        if (!session.app().quitTaken()) {
            std::cerr << DescribeFailure(e, recorder.chainFor(e.what()), SourceLines::fileName(m), target.object,
                                         target.method, session.lines());
            return RunResult{1, false};
        }
        if (events && application && !shutdownRaised) {
            try {
                application->raise("Shutdown");
            } catch (const tq::StoreException& again) {
                std::cerr << DescribeFailure(again, recorder.chainFor(again.what()), SourceLines::fileName(m),
                                             target.object, target.method, session.lines());
                return RunResult{1, false};
            }
        }
    }
    run.completed = true;
    return run;
}

}  // namespace tessaro
