// For callers of the server toolkit (kova_toolkit).
// ServerInit: turning a process into a daemon, its core-file and stack limits, and
// forking numbered worker children.
//
// Thread safety: meant for the start of a single-threaded process; fork copies only
// the calling thread. Standard streams (stdio and iostreams) are flushed before each
// fork so that buffered output is written once, not once per process.
// Ownership: no state.
#pragma once

class ServerInit {
public:
    // Ignores SIGALRM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGTTOU, SIGTTIN, SIGCHLD and
    // SIGTERM, forks (the parent exits 0), starts a new session, closes descriptors
    // 3..255, moves to "/" with umask 0 and sets the core-file (200000000) and stack
    // (30000000) limits; a failed limit is reported on standard output and skipped.
    // Returns in the daemon only. A failed fork writes a message on standard error and
    // ends the process with status 1; a failed setsid ends it with status 255.
    static void DaemonInit();
    // Soft and hard RLIMIT_CORE to iMaxCoreFileSize. 0, or -1 after printing
    // "setrlimit core file size failed!".
    static int SetMaxCoreFileSize(int iMaxCoreFileSize);
    // Soft and hard RLIMIT_STACK to iMaxStackSize. 0, or -1 after printing
    // "setrlimit stack size failed!".
    static int SetMaxStackSize(int iMaxStackSize);
    // Forks one child per id in [iMinId, iMaxId). Each child returns its id at once;
    // the parent returns 0 after the last fork. A failed fork is skipped (no child for
    // that id), as if the parent's side had run.
    static int ForkChilds(int iMinId, int iMaxId);
};
