// Runs a built program in a child process and collects what it printed, for
// the command-line tests.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace dof::test {

struct CommandResult {
    int exitCode = -1;  // exit status, or 128 + signal when killed
    std::string out;    // standard output
    std::string err;    // standard error
};

// Runs `args[0]` with the rest as arguments (no shell), standard input empty.
// `whileRunning`, when given, is called with the child's process id as soon
// as it is started. A child still running after `limit` is killed (its exit
// code then says SIGKILL).
CommandResult runCommand(const std::vector<std::string>& args,
                         const std::function<void(int pid)>& whileRunning = {},
                         std::chrono::seconds limit = std::chrono::seconds(600));

// Waits until process `pid` has a handler for `signal` (false after `limit`),
// so that a test signals a program only once it listens.
bool waitUntilCatching(int pid, int signal, std::chrono::seconds limit);

// The dof3d binary built beside the tests.
std::string dof3dPath();

}  // namespace dof::test
