// Test helpers: a temporary directory removed with its contents, and a body run in a
// forked child (a fresh logger singleton, a private network namespace, ...) whose
// text report comes back through a pipe, with a bounded wait.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kovatest {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/kova-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct ChildResult {
    bool finished = false;  // false: killed after the deadline
    int exitCode = -1;      // -1 when it did not exit normally
    pid_t pid = -1;
    std::string report;
};

// Runs `body` in a forked child; what it returns is its report, and the child exits 0.
// The child is killed when it takes longer than `timeoutSeconds`.
inline ChildResult RunForked(const std::function<std::string()>& body, int timeoutSeconds = 20) {
    ChildResult result;
    int fds[2];
    if (pipe(fds) != 0) return result;
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    if (pid == 0) {
        close(fds[0]);
        const std::string report = body();
        size_t written = 0;
        while (written < report.size()) {
            const ssize_t n = write(fds[1], report.data() + written, report.size() - written);
            if (n <= 0) break;
            written += static_cast<size_t>(n);
        }
        close(fds[1]);
        _exit(0);  // no atexit handlers of the parent's test runner
    }
    close(fds[1]);
    result.pid = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        struct pollfd pfd = {fds[0], POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;  // end of the report
        result.report.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.finished = true;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

}  // namespace kovatest
