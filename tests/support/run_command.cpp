#include "support/run_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <thread>

namespace dof::test {

std::string dof3dPath() { return std::string(DOF_TEST_BIN_DIR) + "/dof3d"; }

CommandResult runCommand(const std::vector<std::string>& args,
                         const std::function<void(int pid)>& whileRunning,
                         std::chrono::seconds limit) {
    CommandResult result;
    int outPipe[2], errPipe[2];
    // Close-on-exec, so that a child started at the same time from another
    // thread does not hold these pipes open.
    if (args.empty() || pipe2(outPipe, O_CLOEXEC) != 0) return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    // The argument list is built before the fork: the child of a threaded
    // program must not allocate.
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (child > 0 && whileRunning) whileRunning(int(child));
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // Read both streams as they come, so that neither pipe fills and stalls.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (std::chrono::steady_clock::now() > deadline && child > 0) kill(child, SIGKILL);
        if (poll(fds, 2, 100) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, size_t(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child) {
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return result;
}

bool waitUntilCatching(int pid, int signal, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    const unsigned long long bit = 1ull << (signal - 1);
    while (std::chrono::steady_clock::now() < end) {
        // SigCgt in /proc/PID/status: the signals the process catches, in hex.
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) & bit))
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace dof::test
