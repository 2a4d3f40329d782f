// Running part of a test in a fresh process.
//
// Round trips through module files must be read back by a process that has
// never seen the things in memory. RunInFreshProcess re-runs the current test
// binary with a gtest filter that selects one test and an environment
// variable that tells that test it is the child; the child's exit status
// (0 when its test passed) is returned.
//
//   TEST(Strings, RoundTripInFreshProcess) {
//       if (IsFreshProcess()) { ...read and check...; return; }
//       ...write...
//       EXPECT_EQ(RunInFreshProcess({{"TQ_FILE", path}}), 0);
//   }
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tq {

// True inside the child started by RunInFreshProcess.
bool IsFreshProcess();

// Runs the current test again in a child process with the given extra
// environment; returns its exit status, or -1 when it could not be run.
int RunInFreshProcess(const std::vector<std::pair<std::string, std::string>>& env = {});

// A value the parent passed through the environment, or "".
std::string FreshProcessArg(const char* name);

// Whether a shared object whose file name holds `name` is mapped into this
// process (what a fresh process loaded shows which libraries a path needs).
bool Mapped(const std::string& name);

// A new empty folder under the temporary folder, removed with its contents
// when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace tq
