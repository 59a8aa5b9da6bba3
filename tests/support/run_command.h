// Runs a built program in a child process and collects what it printed, for
// the command-line tests.
#pragma once

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

// The dof3d binary built beside the tests.
std::string dof3dPath();

}  // namespace doftest
