// TessaroApp: the application object of the tessaro command, the host
// every program run from a shell lives in.
//
// What the store asks of a host, answered for a terminal:
//  - Print goes to standard output (the default application's sink);
//  - message boxes are asked on the terminal when standard input is one,
//    and otherwise written to standard error and answered with the box's
//    default button, so a program in a pipe never waits for a reader;
//  - the user break: Ctrl-C marks a break that CheckForBreak turns into
//    TerminateExecution before the next statement runs; a second Ctrl-C
//    before the first is taken ends the process at once with status 130
//    (a program stuck outside the interpreter still stops);
//  - text modules load through the compiler; the errors of a text module
//    that fails to compile are kept for the command to show, and the
//    half-built module is given up without asking;
//  - a failure the store hands to the application instead of raising it
//    (a Destruct handler that fails while its object goes) is shown on
//    standard error, through the command's reporter when it set one, and
//    counted, so that the command's status tells of it.
//
// Invariants:
//  1. At most one TessaroApp lives (it is the StoreApplication).
//  2. The SIGINT handler only sets flags; everything else happens when the
//     interpreter asks (CheckForBreak) or the command looks (breakTaken).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <tqstore/tqstore.h>

namespace tessaro {

class TessaroApp final : public tq::DefaultStoreApplication {
public:
    TessaroApp();
    ~TessaroApp() override;
    TessaroApp(const TessaroApp&) = delete;
    TessaroApp& operator=(const TessaroApp&) = delete;

    void checkForBreak() override;
    int messageBox(tq::HWND owner, const char* text, const char* caption, unsigned style) override;
    void loadText(const char* path, tq::InterObj& module) override;
    int handleException(tq::StoreException& e) override;
    // Application.Quit: the program ends before its next statement, as
    // after its last one (TerminateExecution, marked as a quit).
    void appQuit() override;

    // How a handed failure is shown while a command runs a program (null:
    // its message alone); the number of failures handed so far.
    void setFailureReporter(std::function<void(const tq::StoreException&)> reporter) {
        failureReporter_ = std::move(reporter);
    }
    int handedFailures() const { return handedFailures_; }

    // The failure of the last text module that did not load (null when the
    // last one loaded); taken by the caller.
    std::unique_ptr<tq::StoreException> takeLoadFailure() { return std::move(loadFailure_); }

    // Whether a user break stopped the program (set when CheckForBreak
    // raised it); clearBreak forgets it and any Ctrl-C not yet taken, for
    // the REPL's next statement.
    bool breakTaken() const { return breakTaken_; }
    void clearBreak();
    // Whether Application.Quit ended the program.
    bool quitTaken() const { return quitTaken_; }
    // Whether a Ctrl-C came that no statement has taken; forgets it.
    bool takeInterrupt();

private:
    std::unique_ptr<tq::StoreException> loadFailure_;
    std::function<void(const tq::StoreException&)> failureReporter_;
    int handedFailures_ = 0;
    bool giveUpText_ = false;
    bool breakTaken_ = false;
    bool quitTaken_ = false;
};

// The exit status of a process stopped by Ctrl-C, as shells report it.
inline constexpr int kBreakStatus = 130;

}  // namespace tessaro
