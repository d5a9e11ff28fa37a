// Daemon set-up and worker children, observed from outside: each test forks a child
// whose standard output is a pipe, lets it run the routine, and reads what the
// resulting processes write there until every one of them has closed it.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ServerInit.h"

namespace kova::test::toolkit {
namespace {

struct Outcome {
    int exitCode = -1;  // of the forked child itself
    std::string output;
};

// Runs `body` in a child whose standard output is a pipe; the child exits with what
// body returns, through exit() so that stdio buffers are flushed as a program would.
template <typename Body>
Outcome RunWithPipedStdout(Body body) {
    Outcome outcome;
    int fds[2];
    if (pipe(fds) != 0) return outcome;
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        exit(body());
    }
    close(fds[1]);
    char buffer[512];
    for (;;) {
        struct pollfd ready = {fds[0], POLLIN, 0};
        if (poll(&ready, 1, 20000) <= 0) break;  // a stuck process must not hang the suite
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        outcome.output.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    return outcome;
}

TEST(ToolkitFork, DaemonInitDetachesAndCleansUp) {
    const Outcome outcome = RunWithPipedStdout([] {
        const int inherited = open("/dev/null", O_RDONLY);
        dup2(inherited, 200);
        ServerInit::DaemonInit();
        const bool closed = fcntl(inherited, F_GETFD) == -1 && fcntl(200, F_GETFD) == -1;
        const int signals[] = {SIGALRM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGTTOU, SIGTTIN, SIGCHLD, SIGTERM};
        int ignored = 0;
        for (int s : signals) {
            struct sigaction action;
            if (sigaction(s, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) ++ignored;
        }
        char cwd[PATH_MAX] = {0};
        struct rlimit core = {};
        getrlimit(RLIMIT_CORE, &core);
        printf("leader=%d cwd=%s umask=%o ignored=%d closed=%d core=%llu\n", getsid(0) == getpid(),
               getcwd(cwd, sizeof cwd) ? cwd : "?", umask(0), ignored, closed,
               static_cast<unsigned long long>(core.rlim_cur));
        return 0;
    });
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_EQ("leader=1 cwd=/ umask=0 ignored=9 closed=1 core=200000000\n", outcome.output);
}

TEST(ToolkitFork, DaemonInitReportsAFailedFork) {
    const Outcome outcome = RunWithPipedStdout([] {
        // Root is exempt from the process limit, so give it up first.
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 77;
        // Only the soft limit is lowered, and raised again at exit: the leak checker
        // of the sanitizer build needs a thread of its own then.
        struct rlimit limit = {};
        if (getrlimit(RLIMIT_NPROC, &limit) != 0) return 77;
        limit.rlim_cur = 0;
        if (setrlimit(RLIMIT_NPROC, &limit) != 0) return 77;
        atexit([] {
            struct rlimit restored = {};
            getrlimit(RLIMIT_NPROC, &restored);
            restored.rlim_cur = restored.rlim_max;
            setrlimit(RLIMIT_NPROC, &restored);
        });
        ServerInit::DaemonInit();
        printf("daemon\n");
        return 0;
    });
    if (outcome.exitCode == 77) GTEST_SKIP() << "cannot limit the number of processes here";
    EXPECT_EQ(1, outcome.exitCode);
    EXPECT_EQ("", outcome.output);
}

TEST(ToolkitFork, ForkChildsNumbersChildrenAndWritesBufferedOutputOnce) {
    EXPECT_EQ(0, ServerInit::ForkChilds(3, 3));
    const Outcome outcome = RunWithPipedStdout([] {
        printf("before|");  // still in the buffer: standard output is a pipe
        const int id = ServerInit::ForkChilds(1, 4);
        if (id != 0) return id;
        std::string ids;
        int status = 0;
        std::vector<int> exited;
        while (wait(&status) > 0) exited.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        std::sort(exited.begin(), exited.end());
        for (int e : exited) printf("%d,", e);
        return 0;
    });
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_EQ("before|1,2,3,", outcome.output);
}

}  // namespace
}  // namespace kova::test::toolkit
