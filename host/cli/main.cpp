// dof3d: depth of field for rendered frames, through the effect as a
// compositing host runs it.
#include <CLI/CLI.hpp>

#include "cli/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"dof3d: lens depth of field for rendered images, through the DepthOfField effect"};
    app.require_subcommand(1);
    dof3d::addInfoCommand(app);
    dof3d::addRenderCommand(app);
    dof3d::addBlurCommand(app);
    dof3d::addDemoCommand(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return dof3d::exitStatus();
}
