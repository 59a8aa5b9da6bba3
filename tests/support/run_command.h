// Runs a built program in a child process and collects what it printed, for
// the command-line tests.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace doftest {

struct CommandResult {
    int exitCode = -1;  // exit status, or 128 + signal when killed
    std::string out;    // standard output
    std::string err;    // standard error
};

// Runs `args[0]` with the rest as arguments (no shell), standard input empty.
CommandResult runCommand(const std::vector<std::string>& args);

// Waits until process `pid` has a handler for `signal` (false after `limit`),
// so that a test signals a program only once it listens.
bool waitUntilCatching(int pid, int signal, std::chrono::seconds limit);

// The dof3d binary built beside the tests.
std::string dof3dPath();

}  // namespace doftest
