// dof3d: depth of field for rendered frames, through the effect as a
// compositing host runs it.
#include <malloc.h>

#include <CLI/CLI.hpp>
#include <string>

#include "cli/commands.h"

int main(int argc, char** argv) {
    // A render allocates and frees planes of many megabytes, slab after slab:
    // keep them on the heap for the next one instead of mapping fresh pages
    // from the system each time.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
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
