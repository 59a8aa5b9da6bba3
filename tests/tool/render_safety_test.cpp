// dof3d render never loses or harms a file, never hangs and never crashes:
// outputs that name an input, inputs that never end, blurs too large to
// finish, a full disk, two quick signals, a memory limit, values the effect
// cannot take. Each case: arguments, the inputs it needs, the exit status and
// the one line on standard error, and what is left in the folder.
#include <OpenImageIO/half.h>
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>

#include "image_files.h"
#include "support/run_command.h"
#include "support/same_bytes.h"

namespace {

using dof::test::FlatImage;
using dof::test::ScratchFolder;

// Runs dof3d render on `args`, words apart by blanks, "{d}" standing for the
// folder; killed after two minutes.
dof::test::CommandResult render(std::string args, const std::string& folder,
                                const std::function<void(int)>& whileRunning = {}) {
    for (std::size_t at; (at = args.find("{d}")) != std::string::npos;) args.replace(at, 3, folder);
    std::istringstream words(args + " -q --effects " DOF_TEST_EFFECTS_DIR);
    std::vector<std::string> command = {dof::test::dof3dPath(), "render"};
    command.insert(command.end(), std::istream_iterator<std::string>(words), {});
    return dof::test::runCommand(command, whileRunning, std::chrono::seconds(120));
}

// A large render fully blurred: every fragment splats over 257 x 257
// pixels, many seconds even for the vector kernels. SIGINT ends it with a
// line and no output.
TEST(RenderSafety, InterruptLeavesNoOutput) {
    ScratchFolder dir;
    FlatImage big = dof::test::makeFlat(1280, 960, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    for (std::size_t i = 0; i < big.pixels.size(); ++i)
        big.pixels[i] = i % 5 == 4 ? 1000.0f : i % 5 == 3 ? 1.0f : float(i % 7) / 7.0f;
    ASSERT_TRUE(dof::test::writeFlat(dir.file("big.exr"), big));
    const dof::test::CommandResult run =
        render("{d}/big.exr -o {d}/out.exr --focus 10 --radius 64", dir.path(), [](int pid) {
            // A loaded machine may take seconds to start the program.
            ASSERT_TRUE(dof::test::waitUntilCatching(pid, SIGINT, std::chrono::seconds(60)));
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            kill(pid, SIGINT);
        });
    EXPECT_EQ(run.exitCode, 130);
    EXPECT_EQ(run.err, "dof3d: interrupted: frames in progress were not written\n");
    EXPECT_EQ(dof::test::namesIn(dir.path()), std::vector<std::string>{"big.exr"});
}

// Two termination requests in a row while the output is being written end
// the program at once, and take the unfinished temporary file with them.
TEST(RenderSafety, TwoQuickSignalsDuringTheWriteLeaveNothing) {
    ScratchFolder dir;
    // Large and stored uncompressed, so that writing and checking it takes a
    // while; radius 0 renders it quickly.
    FlatImage big =
        dof::test::makeFlat(1536, 1536, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::FLOAT);
    for (std::size_t i = 0; i < big.pixels.size(); ++i) big.pixels[i] = float(i % 5 + 1);
    big.stringAttributes = {{"compression", "none"}};
    ASSERT_TRUE(dof::test::writeFlat(dir.file("big.exr"), big));
    // A temporary of ours that a killed run left: removed when out.exr is
    // written again.
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    const std::string stale = ".out.exr.dof3d-" + std::to_string(gone) + "-0.tmp";
    std::ofstream(dir.file(stale)) << "left by a killed run";
    bool signalled = false;
    const dof::test::CommandResult run =
        render("{d}/big.exr -o {d}/out.exr --focus 3 --radius 0", dir.path(), [&](int pid) {
            // Any new name in the folder is the write under way.
            const auto writing = [&] {
                for (const std::string& name : dof::test::namesIn(dir.path()))
                    if (name != "big.exr" && name != stale) return true;
                return false;
            };
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!signalled && std::chrono::steady_clock::now() < deadline) {
                if (writing()) {
                    kill(pid, SIGTERM);
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    kill(pid, SIGTERM);
                    signalled = true;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    ASSERT_TRUE(signalled);
    EXPECT_EQ(run.exitCode, 128 + SIGTERM) << run.err;
    EXPECT_EQ(dof::test::namesIn(dir.path()), std::vector<std::string>{"big.exr"});
}

// Slow (about 20 s): a run stuck where the first request cannot reach it.
// A write lease this test holds on the input makes every open of it wait in
// the system until the lease is given up (up to the kernel's break time),
// and the reader opens it again after each interruption. The first SIGTERM
// then ends the program 20 s later, with its one line, its status and no
// file left behind.
TEST(RenderSafety, SlowStuckOpenEndsTwentySecondsAfterTheFirstSignal) {
    int breakSeconds = 0;
    std::ifstream("/proc/sys/fs/lease-break-time") >> breakSeconds;
    if (breakSeconds < 35) GTEST_SKIP() << "the kernel breaks leases within " << breakSeconds << " s";
    ScratchFolder dir;
    FlatImage frame = dof::test::makeFlat(8, 8, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    for (std::size_t i = 0; i < frame.pixels.size(); ++i) frame.pixels[i] = float(i % 5 + 1);
    ASSERT_TRUE(dof::test::writeFlat(dir.file("in.exr"), frame));
    // The lease's holder hears of each open by SIGIO, which would end it.
    struct sigaction ignore = {}, previous;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGIO, &ignore, &previous);
    const int held = open(dir.file("in.exr").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    if (fcntl(held, F_SETLEASE, F_WRLCK) != 0) {
        close(held);
        sigaction(SIGIO, &previous, nullptr);
        GTEST_SKIP() << "no lease on this file system";
    }
    std::chrono::steady_clock::time_point signalled;
    const dof::test::CommandResult run =
        render("{d}/in.exr -o {d}/out.exr --focus 3 --radius 1", dir.path(), [&](int pid) {
            ASSERT_TRUE(dof::test::waitUntilCatching(pid, SIGTERM, std::chrono::seconds(60)));
            // A lease being broken reads as the type it is to become.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (fcntl(held, F_GETLEASE) == F_WRLCK && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ASSERT_NE(fcntl(held, F_GETLEASE), F_WRLCK) << "the input was never opened";
            signalled = std::chrono::steady_clock::now();
            kill(pid, SIGTERM);
        });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
    close(held);
    sigaction(SIGIO, &previous, nullptr);
    EXPECT_GE(seconds, 19.0);
    EXPECT_LE(seconds, 30.0);
    EXPECT_EQ(run.exitCode, 128 + SIGTERM);
    EXPECT_EQ(run.err,
              "dof3d: interrupted: still busy 20 s after the request, stopped at once; frames in "
              "progress were not written\n");
    EXPECT_EQ(dof::test::namesIn(dir.path()), std::vector<std::string>{"in.exr"});
}

// A full disk: the writer, the close or the flush fails, or the file does
// not read back whole. The frame fails in one line, nothing takes an
// output's name (a map that fits is not left without its render), and a
// rerun once there is room renders every frame again.
TEST(RenderSafety, FullDiskFailsTheFrameAndLeavesNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    ScratchFolder dir;
    FlatImage frame = dof::test::makeFlat(64, 64, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    for (std::size_t i = 0; i < frame.pixels.size(); ++i) frame.pixels[i] = float(i % 9 + 1);
    ASSERT_TRUE(dof::test::writeFlat(dir.file("in.1.exr"), frame));
    ASSERT_TRUE(dof::test::writeFlat(dir.file("in.2.exr"), frame));
    // The sizes of a render and its map, to leave room for the one only.
    ASSERT_EQ(
        render("{d}/in.1.exr -o {d}/o.exr --coc-map {d}/c.tif --focus 6", dir.path()).exitCode, 0);
    struct stat renderFile, mapFile;
    ASSERT_EQ(stat(dir.file("o.exr").c_str(), &renderFile), 0);
    ASSERT_EQ(stat(dir.file("c.tif").c_str(), &mapFile), 0);
    const std::string disk = dir.file("disk");
    ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
    ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=400k"), 0);
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    const auto fillLeaving = [&](std::uint64_t room) {
        std::remove((disk + "/filler").c_str());
        struct statvfs fs;
        statvfs(disk.c_str(), &fs);
        const std::uint64_t fill = fs.f_bavail * fs.f_frsize - room;
        std::ofstream(disk + "/filler", std::ios::binary) << std::string(fill, 'x');
    };
    const std::uint64_t page = 4096;
    const auto pages = [&](off_t size) { return (std::uint64_t(size) + page - 1) / page * page; };
    // Arguments, and the room left; the first output that cannot be written.
    const struct {
        const char* args;
        std::uint64_t room;
        const char* failing;
    } cases[] = {
        {"{d}/in.1.exr -o {d}/disk/o.exr", 0, "o.exr"},
        {"{d}/in.1.exr -o {d}/disk/o.png", 0, "o.png"},
        {"{d}/in.1.exr -o {d}/disk/o.exr --coc-map {d}/disk/c.tif",  // room for the render only
         pages(renderFile.st_size) + pages(mapFile.st_size) - page, "c.tif"},
        {"{d}/in.#.exr -o {d}/disk/o.#.exr --frames 1-2", 0, "o.1.exr"},
    };
    const auto fails = [&](const std::string& args, std::uint64_t room, const std::string& failing) {
        fillLeaving(room);
        const dof::test::CommandResult run = render(args + " --focus 6 --json", dir.path());
        const std::string line = "dof3d: " + disk + "/" + failing + ": cannot write: ";
        EXPECT_EQ(run.exitCode, 1) << args;
        EXPECT_EQ(run.err.substr(0, line.size()), line) << args << ": " << run.err;
        EXPECT_NE(run.out.find("\"frames\""), std::string::npos) << args;
        EXPECT_EQ(dof::test::namesIn(disk), std::vector<std::string>{"filler"}) << args;
        EXPECT_EQ(dof::test::namesIn(dir.path()),
                  (std::vector<std::string>{"c.tif", "disk", "in.1.exr", "in.2.exr", "o.exr"}));
    };
    for (const auto& c : cases) fails(c.args, c.room, c.failing);
    // Each file type as the output and as the map, of one frame and of a
    // sequence two frames at a time.
    for (const std::string type : {"jpg", "png", "tif", "exr"})
        for (const bool map : {false, true})
            for (const bool sequence : {false, true}) {
                const std::string name = sequence ? "f.1." + type : "f." + type;
                const std::string full = "{d}/disk/" + (sequence ? "f.#." + type : name);
                const std::string good = sequence ? "{d}/disk/../g.#.exr" : "{d}/disk/../g.exr";
                fails(std::string(sequence ? "{d}/in.#.exr --frames 1-2 -j 2" : "{d}/in.1.exr") +
                          (map ? " -o " + good + " --coc-map " + full : " -o " + full),
                      0, name);
            }
    std::remove((disk + "/filler").c_str());
    const dof::test::CommandResult rerun =
        render("{d}/in.#.exr -o {d}/disk/o.#.exr --frames 1-2 --focus 6", dir.path());
    EXPECT_EQ(rerun.err, "dof3d: 2 rendered, 0 skipped (made with these settings), 0 failed\n");
}

// Every extension the image library has a writer for: dof3d writes it, and
// it reads back whole at the frame's size, or refuses it before rendering in
// one line with status 2, leaving nothing.
TEST(RenderSafety, EveryOutputTypeIsWrittenOrRefused) {
    const std::set<std::string> written = {"exr", "sxr", "mxr", "tif", "tiff", "png", "jpg",
                                           "jpe", "jpeg", "jif", "jfif", "jfi", "dpx", "bmp",
                                           "tga", "tpic", "ppm", "pnm", "hdr", "rgbe"};
    ScratchFolder dir;
    FlatImage frame = dof::test::makeFlat(24, 16, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    for (std::size_t i = 0; i < frame.pixels.size(); ++i)
        frame.pixels[i] = i % 5 == 4 ? float(i % 7 + 2) : 0.5f;
    ASSERT_TRUE(dof::test::writeFlat(dir.file("in.exr"), frame));
    const std::string writers =
        "," + std::string(OIIO::get_string_attribute("output_format_list")) + ",";
    std::istringstream types(std::string(OIIO::get_string_attribute("extension_list")));
    std::size_t seen = 0;
    for (std::string entry; std::getline(types, entry, ';');) {
        if (writers.find("," + entry.substr(0, entry.find(':')) + ",") == std::string::npos)
            continue;
        std::istringstream extensions(entry.substr(entry.find(':') + 1));
        for (std::string extension; std::getline(extensions, extension, ',');) {
            SCOPED_TRACE(extension);
            const std::string out = dir.file("o." + extension);
            const auto run = render("{d}/in.exr -o " + out + " --focus 5 --radius 0", dir.path());
            EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            if (written.count(extension) == 0) {
                EXPECT_EQ(run.exitCode, 2);
                EXPECT_EQ(run.err.rfind("dof3d: " + out + ": cannot write: ", 0), 0u) << run.err;
                EXPECT_EQ(dof::test::namesIn(dir.path()), std::vector<std::string>{"in.exr"});
                continue;
            }
            ++seen;
            EXPECT_EQ(run.exitCode, 0) << run.err;
            const FlatImage back = dof::test::readFlat(out);
            EXPECT_EQ(back.width, 24);
            EXPECT_EQ(back.height, 16);
            EXPECT_EQ(dof::test::namesIn(dir.path()), (std::vector<std::string>{"in.exr", "o." + extension}));
            std::remove(out.c_str());
        }
    }
    EXPECT_EQ(seen, written.size());
}

// A rerun of a sequence keeps an output only when it decodes whole, is no
// older than its input, has a size its input gives and records the same
// settings; every other one is rendered again, with why on standard error
// and in the JSON summary.
TEST(RenderSafety, RerunRendersAgainWhatIsBrokenOrStale) {
    ScratchFolder dir;
    FlatImage frame = dof::test::makeFlat(48, 32, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    for (std::size_t i = 0; i < frame.pixels.size(); ++i)
        frame.pixels[i] = i % 5 == 4 ? float(i % 9 + 2) : float(i % 4) / 4.0f;
    for (int f = 1; f <= 5; ++f)
        ASSERT_TRUE(dof::test::writeFlat(dir.file("in." + std::to_string(f) + ".exr"), frame));
    const std::string run = "{d}/in.#.exr -o {d}/o.#.exr --frames 1-5 --focus 6 --radius 4";
    ASSERT_EQ(render(run, dir.path()).exitCode, 0);
    const auto output = [&](int f) { return dir.file("o." + std::to_string(f) + ".exr"); };
    OIIO::ImageSpec made;
    const FlatImage before = dof::test::readFlat(output(3), &made);
    const std::string record = made.get_string_attribute("dof3d:settings");
    ASSERT_FALSE(record.empty());
    // Frame 1 stays as it is; each of the others is harmed in one way.
    std::filesystem::resize_file(output(2), std::filesystem::file_size(output(2)) / 2);
    for (float& v : frame.pixels) v *= 0.5f;
    ASSERT_TRUE(dof::test::writeFlat(dir.file("in.3.exr"), frame));
    FlatImage tiny = dof::test::makeFlat(1, 1, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    tiny.stringAttributes = {{"dof3d:settings", record}};
    ASSERT_TRUE(dof::test::writeFlat(output(4), tiny));
    FlatImage foreign = dof::test::readFlat(output(5));
    foreign.stringAttributes = {{"dof3d:settings", record + " --radius 9"}};
    ASSERT_TRUE(dof::test::writeFlat(output(5), foreign));

    const dof::test::CommandResult rerun = render(run + " --json", dir.path());
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err;
    const struct {
        int frame;
        const char* reason;
    } again[] = {{2, "unreadable: "}, {3, "stale: "}, {4, "wrong size: "}, {5, "made with other"}};
    for (const auto& a : again) {
        SCOPED_TRACE(a.frame);
        EXPECT_NE(rerun.err.find("dof3d: " + output(a.frame) + ": " + a.reason), std::string::npos)
            << rerun.err;
        EXPECT_NE(rerun.out.find(std::string("\"renderedAgainBecause\":\"") + a.reason),
                  std::string::npos);
        EXPECT_EQ(dof::test::readFlat(output(a.frame)).width, 48);
    }
    EXPECT_NE(rerun.err.find("4 rendered, 1 skipped"), std::string::npos) << rerun.err;
    // Frame 3 now shows its new input.
    EXPECT_NE(dof::test::readFlat(output(3)).pixels, before.pixels);
}

// Many threads under a limit on the address space: the run ends before
// any frame with one line and status 1, never a crash or a hang, and leaves
// nothing in the folder.
TEST(RenderSafety, ManyThreadsUnderAMemoryLimitFailInOneLine) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit under an address-space limit";
#endif
    ScratchFolder dir;
    FlatImage frame = dof::test::makeFlat(64, 64, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    for (std::size_t i = 0; i < frame.pixels.size(); ++i) frame.pixels[i] = float(i % 5 + 1);
    for (int f = 1; f <= 8; ++f)
        ASSERT_TRUE(dof::test::writeFlat(dir.file("in." + std::to_string(f) + ".exr"), frame));
    const struct {
        const char* kilobytes;
        const char* threads;
    } limits[] = {{"1000000", "-j 8 --threads 16"}, {"2000000", "-j 2 --threads 256"}};
    for (const auto& limit : limits) {
        SCOPED_TRACE(limit.threads);
        const dof::test::CommandResult run = dof::test::runCommand(
            {"/bin/sh", "-c",
             std::string("ulimit -v ") + limit.kilobytes + " && exec \"$0\" render \"$1\" -o " +
                 "\"$2\" --frames 1-8 --focus 3 -q --json " + limit.threads + " --effects \"$3\"",
             dof::test::dof3dPath(), dir.file("in.#.exr"), dir.file("o.#.exr"),
             DOF_TEST_EFFECTS_DIR},
            {}, std::chrono::seconds(120));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err.rfind("dof3d: cannot start ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.out.find("cannot start"), std::string::npos) << run.out;
        EXPECT_EQ(dof::test::namesIn(dir.path()).size(), 8u);
    }
}

// Under a limit on its address space the program runs out of memory, or of
// threads (the image library's pool), at some step of a frame. Whichever it
// is, the frame fails with one line that says so, never a crash. The scan
// runs down until the image library's pool has failed to start.
TEST(RenderSafety, MemoryLimitFailsTheFrameInOneLine) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit under an address-space limit";
#endif
    ScratchFolder dir;
    // A depth channel of another type than the colour: the reader converts
    // with the pool's threads.
    FlatImage frame =
        dof::test::makeFlat(960, 540, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    frame.formats = {OIIO::TypeDesc::HALF, OIIO::TypeDesc::HALF, OIIO::TypeDesc::HALF,
                     OIIO::TypeDesc::HALF, OIIO::TypeDesc::FLOAT};
    for (std::size_t i = 0; i < frame.pixels.size(); ++i) frame.pixels[i] = float(i % 7 + 1);
    ASSERT_TRUE(dof::test::writeFlat(dir.file("frame.exr"), frame));
    const auto limited = [&](long kilobytes) {
        return dof::test::runCommand({"/bin/sh", "-c",
                                      "ulimit -v " + std::to_string(kilobytes) +
                                          " && exec \"$0\" render \"$1\" -o \"$2\" " +
                                          "--focus 3 --method box --radius 8 -q --effects \"$3\"",
                                      dof::test::dof3dPath(), dir.file("frame.exr"),
                                      dir.file("out.exr"), DOF_TEST_EFFECTS_DIR});
    };
    // Memory use is not monotonic in the limit (thread stacks, the pools'
    // sizes, planes kept for the next render), so every limit of a scan
    // down from one that renders must either render or fail in one line.
    ASSERT_EQ(limited(1000000).exitCode, 0);
    bool poolFailed = false;
    int failures = 0;
    for (long limit = 950000; !poolFailed && limit >= 200000; limit -= 25000) {
        const dof::test::CommandResult run = limited(limit);
        if (run.exitCode == 0) continue;
        SCOPED_TRACE(testing::Message() << "limit " << limit << " KB: " << run.err);
        ++failures;
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err.rfind("dof3d: " + dir.file("frame.exr") + ": out of memory", 0), 0u);
        EXPECT_EQ(run.err.find('\n') + 1, run.err.size());
        poolFailed = run.err.find("threads") != std::string::npos;
    }
    EXPECT_GT(failures, 0);
    EXPECT_TRUE(poolFailed);
}

}  // namespace
