// dof3d info prints what the effect tells a host about itself.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/run_command.h"

namespace {

using doftest::runCommand;

TEST(InfoCommand, PrintsDescriptionParametersAndChannels) {
    const auto result =
        runCommand({doftest::dof3dPath(), "info", "--effects", DOF_TEST_EFFECTS_DIR});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const char* const expectedLines[] = {
        "category:  3D Post\n",
        "menu:      3D Depth of Field...\n",
        "  Focal Depth          depth   range -65535..-1 default -1\n",
        "  Sharp Until Depth    depth   range -65535..-1 default 0\n",
        "  Maximum Radius       number  range 0..64 default 0\n",
        "  Method               choice  choices \"Box Average;Splatting\" default 1\n",
        "reads g-buffer channels (0x3761): depth, colour with exponent, coverage, depth layers, "
        "colour, transparency, layer weight, layer range\n",
    };
    for (const char* line : expectedLines)
        EXPECT_NE(result.out.find(line), std::string::npos) << line;
}

TEST(InfoCommand, MissingEffectsFolderIsOneLineError) {
    const auto result =
        runCommand({doftest::dof3dPath(), "info", "--effects", "/nonexistent/effects"});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(
        result.err.rfind("dof3d: /nonexistent/effects/DepthOfField.so: cannot load effect: ", 0),
        0u)
        << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
}

}  // namespace
