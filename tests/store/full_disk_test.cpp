// A file system that fills up: Store fails cleanly instead of raising SIGBUS.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "child_process.h"
#include "store_helpers.h"
#include "temp_dir.h"

namespace kova::test::store {
namespace {

// Runs argv to its end; the wait status.
int runToEnd(const std::vector<std::string>& argv, const std::string& logFile) {
    fixtures::ChildProcess child;
    child.start({argv, logFile, false, false});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (child.running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return child.running() ? child.kill() : child.exitStatus().value_or(-1);
}

TEST(StoreFullDisk, StoreFailsWithoutSigbusAndEarlierBatchesStayReadable) {
    fixtures::TempDir dir("kova-store-full");
    UniquePrefix prefix("full");
    const std::string mountPoint = (dir.path() / "mnt").string(), log = dir.file("fill.log");
    std::filesystem::create_directory(mountPoint);
    // 16 MiB hold the first 10 MiB window of a 20 MiB file, not the second.
    const std::string script = "mount -t tmpfs -o size=16m tmpfs \"$1\" || exit 77; exec \"$2\" fill \"$1\" \"$3\"";
    const int status =
        runToEnd({"unshare", "-m", "sh", "-c", script, "sh", mountPoint, storeToolPath(), prefix.str()}, log);
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 77 || WEXITSTATUS(status) == 1))
        GTEST_SKIP() << "no private mount namespace here: " << fixtures::tailOfFile(log);
    ASSERT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << fixtures::tailOfFile(log);
}

}  // namespace
}  // namespace kova::test::store
