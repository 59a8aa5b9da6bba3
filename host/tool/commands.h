// The subcommands of dof3d; each adds itself to the application.
#pragma once

#include <CLI/CLI.hpp>

namespace dof {

// Exit status of a command, set by the command's callback.
int& exitStatus();

void addInfoCommand(CLI::App& app);
void addRenderCommand(CLI::App& app);
void addBlurCommand(CLI::App& app);
void addDemoCommand(CLI::App& app);

}  // namespace dof
