#include "ServerInit.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Output still buffered at a fork would be written once by each process.
void FlushStandardStreams() {
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    fflush(nullptr);
}

int SetBothLimits(int resource, int value, const char* failure) {
    struct rlimit limit;
    const rlim_t wanted = static_cast<rlim_t>(static_cast<long>(value));
    if (getrlimit(resource, &limit) == 0) {
        limit.rlim_cur = wanted;
        limit.rlim_max = wanted;
        if (setrlimit(resource, &limit) == 0) return 0;
    }
    printf("%s\n", failure);
    return -1;
}

}  // namespace

void ServerInit::DaemonInit() {
    static const int kIgnored[] = {SIGALRM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGTTOU, SIGTTIN, SIGCHLD, SIGTERM};
    for (int signalNumber : kIgnored) signal(signalNumber, SIG_IGN);

    FlushStandardStreams();
    const pid_t pid = fork();
    if (pid < 0) {
        // Exiting 0 here would tell whoever started us that the daemon runs.
        fprintf(stderr, "fork failed: %s\n", strerror(errno));
        exit(1);
    }
    if (pid > 0) exit(0);

    if (setsid() < 0) exit(-1);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    if (chdir("/") != 0) {
        // Staying in the old directory only keeps it busy; the daemon still works.
    }
    umask(0);
    SetMaxCoreFileSize(200000000);
    SetMaxStackSize(30000000);
}

int ServerInit::SetMaxCoreFileSize(int iMaxCoreFileSize) {
    return SetBothLimits(RLIMIT_CORE, iMaxCoreFileSize, "setrlimit core file size failed!");
}

int ServerInit::SetMaxStackSize(int iMaxStackSize) {
    return SetBothLimits(RLIMIT_STACK, iMaxStackSize, "setrlimit stack size failed!");
}

int ServerInit::ForkChilds(int iMinId, int iMaxId) {
    for (int id = iMinId; id < iMaxId; ++id) {
        FlushStandardStreams();
        if (fork() == 0) return id;
    }
    return 0;
}
