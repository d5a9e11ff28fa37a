// Daemon set-up and worker children, observed from outside: each test forks a child
// whose standard output is a pipe, lets it run the routine, and reads what the
// resulting processes write there until every one of them has closed it.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ServerInit.h"
#include "forked_child.h"

namespace kova::test::toolkit {
namespace {

using fixtures::RunWithPipedStdout;

TEST(ToolkitFork, DaemonInitDetachesAndCleansUp) {
    const fixtures::ForkedResult outcome = RunWithPipedStdout([] {
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
    const fixtures::ForkedResult outcome = RunWithPipedStdout([] {
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
    const fixtures::ForkedResult outcome = RunWithPipedStdout([] {
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
