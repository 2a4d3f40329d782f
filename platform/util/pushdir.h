// PushDir: the current directory changed for a scope.
//
// Opening a project loads its modules relative to the project's folder, and
// naming a module asks whether a search from elsewhere would find it. Both
// change the process's current directory for a moment and must put it back
// however the scope ends, also when an exception passes.
//
// Invariants:
//  1. The previous directory is captured before the change; when it cannot be
//     captured, nothing is changed and the constructor raises, so a PushDir
//     never leaves the process somewhere it cannot return from.
//  2. The previous directory is held open, not by name, so it is restored even
//     when it was renamed meanwhile or its path is longer than PATH_MAX.
#pragma once

#include <string>

namespace tq {

class PushDir {
public:
    // Changes to dir. A null or empty dir changes nothing (there is no folder
    // to go to). Raises XException with the folder and the system's reason when
    // the change fails; the current directory is then unchanged.
    explicit PushDir(const char* dir);
    ~PushDir();

    PushDir(const PushDir&) = delete;
    PushDir& operator=(const PushDir&) = delete;

private:
    int previous_ = -1;     // open descriptor of the directory to return to
    std::string previousPath_;  // its name, when it could not be opened
    bool changed_ = false;
};

}  // namespace tq
