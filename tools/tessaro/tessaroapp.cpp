#include "tools/tessaro/tessaroapp.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include <unistd.h>

namespace tessaro {

namespace {

// Ctrl-Cs not yet taken by the interpreter. Written by the handler only
// with a plain store of a lock-free atomic type, as a handler may.
volatile std::sig_atomic_t pendingBreaks = 0;

void OnInterrupt(int) {
    if (pendingBreaks > 0) {
        // The first one was not taken: the program is not reaching a
        // statement. Nothing of the store is touched here; module files
        // are as they were last committed.
        static const char kText[] = "\ntessaro: stopped (second Ctrl-C)\n";
        [[maybe_unused]] ssize_t n = write(STDERR_FILENO, kText, sizeof kText - 1);
        _exit(kBreakStatus);
    }
    pendingBreaks = 1;
}

struct sigaction previousAction;

// The answers of a box's buttons, in order, and how they are typed.
struct Button {
    int id;
    const char* label;
};

int ButtonsOf(unsigned style, const Button** out) {
    static const Button ok[] = {{tq::IDOK, "OK"}};
    static const Button okCancel[] = {{tq::IDOK, "OK"}, {tq::IDCANCEL, "Cancel"}};
    static const Button abortRetryIgnore[] = {{tq::IDABORT, "Abort"}, {tq::IDRETRY, "Retry"}, {tq::IDIGNORE, "Ignore"}};
    static const Button yesNoCancel[] = {{tq::IDYES, "Yes"}, {tq::IDNO, "No"}, {tq::IDCANCEL, "Cancel"}};
    static const Button yesNo[] = {{tq::IDYES, "Yes"}, {tq::IDNO, "No"}};
    static const Button retryCancel[] = {{tq::IDRETRY, "Retry"}, {tq::IDCANCEL, "Cancel"}};
    static const Button cancelTryContinue[] = {
        {tq::IDCANCEL, "Cancel"}, {tq::IDTRYAGAIN, "Try again"}, {tq::IDCONTINUE, "Continue"}};
    switch (style & tq::MB_TYPEMASK) {
        case tq::MB_OKCANCEL: *out = okCancel; return 2;
        case tq::MB_ABORTRETRYIGNORE: *out = abortRetryIgnore; return 3;
        case tq::MB_YESNOCANCEL: *out = yesNoCancel; return 3;
        case tq::MB_YESNO: *out = yesNo; return 2;
        case tq::MB_RETRYCANCEL: *out = retryCancel; return 2;
        case tq::MB_CANCELTRYCONTINUE: *out = cancelTryContinue; return 3;
        default: *out = ok; return 1;
    }
}

}  // namespace

TessaroApp::TessaroApp() {
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Reads at the REPL's prompt go on after a Ctrl-C.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousAction);
    pendingBreaks = 0;
}

TessaroApp::~TessaroApp() { sigaction(SIGINT, &previousAction, nullptr); }

void TessaroApp::appQuit() {
    quitTaken_ = true;
    throw tq::TerminateExecution();
}

void TessaroApp::checkForBreak() {
    if (pendingBreaks == 0) [[likely]]
        return;
    pendingBreaks = 0;
    breakTaken_ = true;
    throw tq::TerminateExecution();
}

void TessaroApp::clearBreak() {
    pendingBreaks = 0;
    breakTaken_ = false;
}

bool TessaroApp::takeInterrupt() {
    const bool pending = pendingBreaks != 0;
    pendingBreaks = 0;
    return pending;
}

int TessaroApp::messageBox(tq::HWND owner, const char* text, const char* caption, unsigned style) {
    // The question that follows a text module's failure to load: the
    // half-built module is given up without asking, and the command shows
    // the compiler's errors itself.
    if (giveUpText_) {
        giveUpText_ = false;
        return tq::IDYES;
    }
    std::cout.flush();
    std::fflush(stdout);
    if (!isatty(STDIN_FILENO)) return tq::ShowMessageBox(owner, text, caption, style);
    const Button* buttons = nullptr;
    const int count = ButtonsOf(style, &buttons);
    const int preset = tq::DefaultButtonOf(style);
    std::cerr << (caption ? caption : "Error") << ": " << (text ? text : "") << "\n";
    if (count == 1) {
        std::cerr << "[press Enter] ";
        std::string line;
        std::getline(std::cin, line);
        std::cin.clear();
        return buttons[0].id;
    }
    for (;;) {
        for (int i = 0; i < count; ++i) {
            std::cerr << (i ? " / " : "") << (buttons[i].id == preset ? "*" : "") << buttons[i].label;
        }
        std::cerr << "? ";
        std::string line;
        if (!std::getline(std::cin, line)) {
            std::cin.clear();
            return preset;
        }
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos) return preset;
        const char first = static_cast<char>(std::tolower(static_cast<unsigned char>(line[start])));
        for (int i = 0; i < count; ++i)
            if (std::tolower(static_cast<unsigned char>(buttons[i].label[0])) == first) return buttons[i].id;
        std::cerr << "(type the first letter of an answer; Enter takes the one marked *)\n";
    }
}

void TessaroApp::loadText(const char* path, tq::InterObj& module) {
    loadFailure_.reset();
    try {
        DefaultStoreApplication::loadText(path, module);
    } catch (const tq::StoreException& e) {
        // The store swallows the failure once the module is given up; the
        // command reports it.
        loadFailure_.reset(e.Clone());
        giveUpText_ = true;
        throw;
    }
}

int TessaroApp::handleException(tq::StoreException& e) {
    // The store goes on (the object is destroyed all the same); the person
    // running the program must still hear of the failure.
    ++handedFailures_;
    std::cout.flush();
    std::fflush(stdout);
    if (failureReporter_)
        failureReporter_(e);
    else
        std::cerr << "tessaro: " << e.what() << "\n";
    return 1;
}

}  // namespace tessaro
