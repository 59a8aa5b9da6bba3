// dof3d render over runs: sequences rendered, skipped and rendered again, and
// an interrupt.
#include <OpenImageIO/half.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

#include "image_files.h"
#include "support/run_command.h"

namespace {

using doftest::FlatImage;
using doftest::ScratchFolder;

doftest::CommandResult render(std::vector<std::string> args) {
    std::vector<std::string> all = {doftest::dof3dPath(), "render"};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back("--effects");
    all.push_back(DOF_TEST_EFFECTS_DIR);
    return doftest::runCommand(all);
}

// 40 x 80 opaque: bands of 16 rows at distances 10 (focus), 11, 12.5, 15 and
// 7.5 (near), each bright on the left half and dark on the right.
FlatImage edgeBands() {
    const float distances[] = {10, 11, 12.5f, 15, 7.5f};
    FlatImage s = doftest::makeFlat(40, 80, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::FLOAT);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 40; ++x) {
            const float v = x < 20 ? 0.9f : 0.1f;
            s.at(x, y, 0) = s.at(x, y, 1) = s.at(x, y, 2) = v;
            s.at(x, y, 3) = 1;
            s.at(x, y, 4) = distances[y / 16];
        }
    return s;
}

TEST(RenderCommand, SequencesRenderSkipAndReportFailures) {
    ScratchFolder dir;
    const FlatImage scene = edgeBands();
    for (int f = 1001; f <= 1004; ++f)
        ASSERT_TRUE(doftest::writeFlat(dir.file("in." + std::to_string(f) + ".exr"), scene));
    const std::string in = dir.file("in.####.exr"), out = dir.file("out.%04d.exr");
    auto run = render(
        {in, "-o", out, "--frames", "1001-1003", "-j", "2", "--focus", "10", "--radius", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "dof3d: 3 rendered, 0 skipped (made with these settings), 0 failed\n");
    for (int f = 1001; f <= 1003; ++f)
        EXPECT_TRUE(doftest::fileExists(dir.file("out." + std::to_string(f) + ".exr")));
    EXPECT_FALSE(doftest::fileExists(dir.file("out.1004.exr")));
    // Every frame is the same picture, rendered by its own instance.
    const FlatImage first = doftest::readFlat(dir.file("out.1001.exr"));
    EXPECT_EQ(first.pixels, doftest::readFlat(dir.file("out.1003.exr")).pixels);

    // A farm reruns the chunk: done frames stay, the new one is rendered.
    run = render(
        {in, "-o", out, "--frames", "1001-1004", "--focus", "10.0", "--radius", "2", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "dof3d: 1 rendered, 3 skipped (made with these settings), 0 failed\n");
    EXPECT_NE(run.out.find("\"totals\":{\"rendered\":1,\"skipped\":3,\"failed\":0"),
              std::string::npos)
        << run.out;

    // Other settings: those frames are made again, and that is said.
    std::remove(dir.file("out.1002.exr").c_str());
    run = render(
        {in, "-o", out, "--frames", "1001-1002", "--focus", "10", "--radius", "3", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "dof3d: " + dir.file("out.1001.exr") +
                           ": made with other settings; rendering it again\n"
                           "dof3d: 2 rendered, 0 skipped (made with these settings), 0 failed\n");
    EXPECT_NE(run.out.find("\"renderedAgainBecause\":\"made with other settings\""),
              std::string::npos)
        << run.out;
    OIIO::ImageSpec imageSpec;
    doftest::readFlat(dir.file("out.1001.exr"), &imageSpec);
    EXPECT_EQ(std::string(imageSpec.get_string_attribute("dof3d:settings")),
              "dof3d 0.1.0 render --method splat --layers 8 --radius 3 --depth-unit m --focus 10 "
              "--depth-convention distance --no-hit far --no-hit-above 1e+09 --format auto "
              "--colorspace sRGB");

    // --overwrite renders them again; a missing frame fails alone.
    std::remove(dir.file("in.1002.exr").c_str());
    run = render(
        {in, "-o", out, "--frames", "1001-1003", "--overwrite", "--focus", "10", "--radius", "2"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "dof3d: " + dir.file("in.1002.exr") +
                           ": no such file\n"
                           "dof3d: 2 rendered, 0 skipped (made with these settings), 1 failed\n");
}

TEST(RenderCommand, InterruptLeavesNoOutput) {
    ScratchFolder dir;
    // Large and fully blurred: every fragment splats over 257 x 257 pixels,
    // many seconds of splatting even for the vector kernels.
    FlatImage big = doftest::makeFlat(1280, 960, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    for (int y = 0; y < 960; ++y)
        for (int x = 0; x < 1280; ++x) {
            big.at(x, y, 0) = float(x % 7) / 7.0f;
            big.at(x, y, 3) = 1.0f;
            big.at(x, y, 4) = 1000.0f;
        }
    ASSERT_TRUE(doftest::writeFlat(dir.file("big.exr"), big));
    const std::string out = dir.file("out.exr");
    int errPipe[2];
    ASSERT_EQ(pipe(errPipe), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(errPipe[1], 2);
        close(errPipe[0]);
        execl(doftest::dof3dPath().c_str(), "dof3d", "render", dir.file("big.exr").c_str(), "-o",
              out.c_str(), "--focus", "10", "--radius", "64", "--effects", DOF_TEST_EFFECTS_DIR,
              (char*)nullptr);
        _exit(127);
    }
    close(errPipe[1]);
    // A loaded machine may take seconds to start the program: wait until it
    // catches SIGINT, then let the render run a little.
    ASSERT_TRUE(doftest::waitUntilCatching(child, SIGINT, std::chrono::seconds(60)));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(child, SIGINT);
    std::string err;
    char buffer[512];
    ssize_t n;
    while ((n = read(errPipe[0], buffer, sizeof buffer)) > 0) err.append(buffer, std::size_t(n));
    close(errPipe[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(err, "dof3d: interrupted: frames in progress were not written\n");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"big.exr"});
}

}  // namespace
