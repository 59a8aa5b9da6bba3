// dof3d: depth of field for rendered frames, through the effect as a
// compositing host runs it.
#include <malloc.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "io/render_settings_metadata.h"
#include "tool/commands.h"
#include "tool/json_summary.h"
#include "tool/option_text.h"
#include "util/error_line.h"

int main(int argc, char** argv) {
    // A render allocates and frees planes of many megabytes, slab after slab:
    // keep them on the heap for the next one instead of mapping fresh pages
    // from the system each time.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    CLI::App app{"dof3d: lens depth of field for rendered images, through the DepthOfField effect"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("dof3d ") + dof::programVersion());
    dof::addInfoCommand(app);
    dof::addRenderCommand(app);
    dof::addBlurCommand(app);
    dof::addDemoCommand(app);
    // Bad options get the one-line form and status 2 of every other bad option.
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "dof3d: " + dof::parserErrorLine(e.get_name(), e.what()) + " (see --help)\n";
    });
    // "--frames=" with nothing after it would take the next argument as its
    // value.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::size_t length = std::strlen(argv[i]);
        if (length > 3 && argv[i][0] == '-' && argv[i][1] == '-' && argv[i][length - 1] == '=') {
            dof::printError(std::string(argv[i]) + ": no value after '=' (see --help)");
            return 2;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        if (status == 0) return 0;
        // Under --json a bad option is answered in JSON too.
        for (int i = 1; i < argc; ++i)
            if (std::string(argv[i]) == "--json") {
                std::fputs(dof::jsonError(dof::parserErrorLine(e.get_name(), e.what())).c_str(),
                           stdout);
                break;
            }
        return 2;
    } catch (const std::exception& e) {
        // What a library throws outside a frame (no memory, no thread).
        dof::printError(dof::oneLine(e.what()));
        return 1;
    }
    return dof::exitStatus();
}
