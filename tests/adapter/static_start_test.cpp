// The client started from another program's static initialiser (the probe is
// linked statically with the client library, its initialiser runs first).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "forked_child.h"
#include "log_reader.h"
#include "standin_agent.h"
#include "temp_dir.h"

namespace kova::test::adapter {
namespace {

TEST(StaticStartTest, GetInstanceFromANamespaceScopeInitialiserGivesAClient) {
    standin::StandinAgent agent;
    agent.start();
    const fixtures::TempDir logs("static-start");
    const std::string proxy = agent.agentProxyString();
    const std::string logDir = logs.path().string();
    const fixtures::ForkedResult run = fixtures::RunWithPipedStdout(
        [&] {
            setenv("STATIC_START_AGENT", proxy.c_str(), 1);
            setenv("STATIC_START_LOGDIR", logDir.c_str(), 1);
            execl(STATIC_START_PROBE_PATH, STATIC_START_PROBE_PATH, static_cast<char*>(nullptr));
            return 127;
        },
        std::chrono::seconds(30));
    ASSERT_TRUE(run.finished) << "hung; output: " << run.output;
    EXPECT_EQ(0, run.exitCode) << "died before main or gave no client; output: " << run.output;
    EXPECT_NE(std::string::npos, run.output.find("instance=1")) << run.output;
    // Before main the generated operation names may not exist yet: calls
    // answer as after exit, without sending anything; in main they work.
    EXPECT_NE(std::string::npos, run.output.find("before main: produce=100 consume=100")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("in main: produce=0")) << run.output;
    EXPECT_EQ(0u, fixtures::countOccurrences(fixtures::readLogs(logDir), "OperationNotExist"))
        << "a call went out before the operation names existed";
}

}  // namespace
}  // namespace kova::test::adapter
