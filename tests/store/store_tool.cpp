// Helper program of the fail-store tests: a store used from a process of its own.
//
//   store_tool write <dir> <prefix> <sync|async> <tag>
//       stores batches <tag>-0, <tag>-1, ... for ever, printing "ACK <rid>" after each
//       Store that returned true (until it is killed), and READY after the first Store
//   store_tool read <dir> <prefix>
//       calls Read for ever; the callback prints "GOT <rid> <ok|corrupt>" and accepts
//       the batch when the next line of standard input is "y" (ends at end of input);
//       prints "READ <result>" after every Read that handed something back
//   store_tool fill <dir> <prefix>
//       stores 64 KiB batches until Store fails, then small ones that must fail too,
//       then reads everything back with a second store; exit 0 when exactly the
//       acknowledged batches came back, in order
//
// Logs go to <dir>.logs/.
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "KOVALog.h"
#include "store_helpers.h"

namespace {

using kova::test::store::isIntact;
using kova::test::store::makeBatch;

int writeForever(KOVA::KOVAStoreFile& store, const std::string& tag) {
    for (long n = 0;; ++n) {
        const std::string rid = tag + "-" + std::to_string(n);
        const bool stored = store.Store(rid, makeBatch(rid, 300), {{"n", std::to_string(n)}});
        // Ready once the file exists: a kill while its semaphore is being created
        // would leave a stray entry in /dev/shm.
        if (n == 0) std::printf("READY\n");
        if (stored) std::printf("ACK %s\n", rid.c_str());
        std::fflush(stdout);
    }
}

int readForever(KOVA::KOVAStoreFile& store) {
    const KOVA::readCacheCb ask = [](const std::string& rid, const KOVAMsg::KOVABatchMessage& batch,
                                     const KOVA::COMMON::KOVAProperties&) {
        std::printf("GOT %s %s\n", rid.c_str(), isIntact(rid, batch) ? "ok" : "corrupt");
        std::fflush(stdout);
        std::string answer;
        if (!std::getline(std::cin, answer)) std::exit(0);
        return answer == "y";
    };
    for (;;) {
        const int result = store.Read(ask, 5);
        if (result != 0) {
            std::printf("READ %d\n", result);
            std::fflush(stdout);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

int fillThenReadBack(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> acked;
    {
        KOVA::KOVAStoreFile writer(dir, prefix, "", true, 0, 0);
        for (int n = 0; n < 1000; ++n) {
            const std::string rid = "fill-" + std::to_string(n);
            if (!writer.Store(rid, makeBatch(rid, 64 * 1024), {})) break;
            acked.push_back(rid);
        }
        // No room for a new file's first window either: refused, not written elsewhere.
        for (const char* rid : {"late-1", "late-2"}) {
            if (writer.Store(rid, makeBatch(rid, 100), {})) return 4;
        }
    }
    KOVA::KOVAStoreFile reader(dir, prefix, "", true, 0, 0);
    const std::vector<std::string> got = kova::test::store::drain(reader, 3);
    std::printf("acked %zu, read back %zu\n", acked.size(), got.size());
    if (acked.size() == 1000) return 3;  // the file system never filled up
    return got == acked ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s write|read|fill <dir> <prefix> [sync|async <tag>]\n", argv[0]);
        return 64;
    }
    const std::string mode = argv[1], dir = argv[2], prefix = argv[3];
    TQPublicTool::KOVALog::getLogInstance(dir + ".logs", "store-tool");
    if (mode == "fill") return fillThenReadBack(dir, prefix);
    if (mode == "read") {
        KOVA::KOVAStoreFile store(dir, prefix, "", true, 0, 0);
        return readForever(store);
    }
    if (mode == "write" && argc == 6) {
        KOVA::KOVAStoreFile store(dir, prefix, "", std::string(argv[4]) != "sync", 0, 0);
        return writeForever(store, argv[5]);
    }
    return 64;
}
