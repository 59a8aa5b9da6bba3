// dof3d: depth of field for rendered frames, through the effect as a
// compositing host runs it.
#include <CLI/CLI.hpp>
#include <string>

#include "cli/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"dof3d: lens depth of field for rendered images, through the DepthOfField effect"};
    app.require_subcommand(1);
    dof3d::addInfoCommand(app);
    dof3d::addRenderCommand(app);
    dof3d::addBlurCommand(app);
    dof3d::addDemoCommand(app);
    // Bad options get the one-line form and status 2 of every other bad option.
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "dof3d: " + std::string(e.what()) + " (see --help)\n";
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    return dof3d::exitStatus();
}
