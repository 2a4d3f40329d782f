#include "tests/support/freshproc.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace tq {
namespace {

constexpr const char* kChildVariable = "TQ_FRESH_PROCESS";

}  // namespace

bool IsFreshProcess() { return std::getenv(kChildVariable) != nullptr; }

std::string FreshProcessArg(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

int RunInFreshProcess(const std::vector<std::pair<std::string, std::string>>& env) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info) return -1;
    const std::string filter =
        std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();

    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) envText.emplace_back(*e);
    envText.push_back(std::string(kChildVariable) + "=1");
    for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envText) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::string self = std::filesystem::read_symlink("/proc/self/exe");
    std::string filterArg = filter;
    char* argv[] = {self.data(), filterArg.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ScratchDir::ScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tqtest-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
    path_ = pattern;
}

bool Mapped(const std::string& name) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(name) != std::string::npos) return true;
    return false;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace tq
