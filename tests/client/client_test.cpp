// The process-wide client, one scenario process per case (client_scenarios),
// against the stand-in agent running as a process of its own.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "agent_process.h"
#include "child_process.h"
#include "temp_dir.h"
#include "unique_prefix.h"
#include "waits.h"

namespace kova::test::client {
namespace {

using fixtures::AgentProcess;
using fixtures::parseFields;
using std::chrono::milliseconds;
using std::chrono::seconds;

typedef std::vector<std::map<std::string, std::string>> CallRecords;

class ClientScenarioTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fixtures::AgentProcessOptions options;
        options.autoPush = true;
        agent_ = std::make_unique<AgentProcess>(options);
        agent_->start();
    }
    static void TearDownTestSuite() { agent_.reset(); }
    void SetUp() override {
        agent_->command("clear");
        agent_->command("reset_script");
    }

    // Starts one scenario; its fail-store (when `store`) lives in the test's
    // directory, under `storeName`, its files named with the test's own match.
    std::unique_ptr<fixtures::ChildProcess> run(const std::string& scenario, bool store,
                                                const std::string& storeName = "store",
                                                const std::vector<std::string>& extra = {}) {
        auto child = std::make_unique<fixtures::ChildProcess>();
        stderrFile_ = dir_.file(scenario + ".stderr");
        fixtures::ChildOptions options;
        // Its logs in the test's directory: a scenario that is killed cannot remove them itself.
        options.argv = {KOVA_CLIENT_SCENARIOS, scenario, "agent=" + agent_->agentProxyString(),
                        "logdir=" + dir_.file(scenario + "-log-" + std::to_string(++started_))};
        if (store) {
            options.argv.push_back("store=" + dir_.file(storeName) + "/");
            options.argv.push_back("match=" + match_.str());
        }
        options.argv.insert(options.argv.end(), extra.begin(), extra.end());
        options.logFile = stderrFile_;
        options.pipeStdin = options.pipeStdout = true;
        child->start(options);
        return child;
    }

    // The first line starting with `prefix`; empty when none came.
    std::string expectLine(fixtures::ChildProcess& child, const std::string& prefix) {
        for (auto line = child.readLine(seconds(30)); line; line = child.readLine(seconds(30))) {
            if (line->compare(0, prefix.size(), prefix) == 0) {
                return *line;
            }
        }
        ADD_FAILURE() << "no line " << prefix << "; " << fixtures::tailOfFile(stderrFile_);
        return "";
    }

    // The exit status once the child ended by itself within `bound`; -1 after
    // a kill when it did not.
    int exitWithin(fixtures::ChildProcess& child, milliseconds bound) {
        child.closeStdin();
        if (!engine::eventually([&] { return !child.running(); }, bound, milliseconds(5))) {
            child.kill();
            return -1;
        }
        const int status = child.exitStatus().value_or(-1);
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (code != 0) {
            std::cerr << fixtures::tailOfFile(stderrFile_) << std::endl;
        }
        return code;
    }

    // The agent's produce calls, those with session id `sid` when given.
    CallRecords produceCalls(const std::string& sid = "") {
        CallRecords calls;
        for (const std::string& line : agent_->command("calls produce")) {
            if (line.compare(0, 4, "CALL") == 0) {
                calls.push_back(parseFields(line));
                if (!sid.empty() && calls.back()["sid"] != sid) {
                    calls.pop_back();
                }
            }
        }
        return calls;
    }
    CallRecords reProduced() { return produceCalls("dummysid"); }

    fixtures::TempDir dir_{"kova-client"};
    int started_ = 0;
    store::UniquePrefix match_{"client"};
    std::string stderrFile_;
    static std::unique_ptr<AgentProcess> agent_;
};

std::unique_ptr<AgentProcess> ClientScenarioTest::agent_;

const milliseconds kScenarioBound = seconds(60);
// A pass that finds the store busy (another process's claim or lock) rests
// 20 s before the next one.
const milliseconds kReProduceBound = seconds(90);

TEST_F(ClientScenarioTest, NullForAnUnreachableAgentThenOneClientWhateverTheArguments) {
    EXPECT_EQ(exitWithin(*run("instance", false), kScenarioBound), 0);
}

TEST_F(ClientScenarioTest, ThreadsStartOnFirstUseOnly) {
    EXPECT_EQ(exitWithin(*run("threads", true), kScenarioBound), 0);
}

TEST_F(ClientScenarioTest, StoreKeyWithoutFailStoreGives201AndSendsNothing) {
    EXPECT_EQ(exitWithin(*run("store-no-failstore", false), kScenarioBound), 0);
    EXPECT_EQ(agent_->commandValue("count produce"), "0");
}

TEST_F(ClientScenarioTest, StoredBatchesReachTheAgentThroughTheReProduceThread) {
    agent_->command("code produce 9 9");
    EXPECT_EQ(exitWithin(*run("store-fill", true), kScenarioBound), 0);
    ASSERT_EQ(produceCalls().size(), 2u) << "\"STORE\" sends nothing";

    auto forward = run("forward", true);
    expectLine(*forward, "READY");
    ASSERT_TRUE(engine::eventually([&] { return reProduced().size() >= 3; }, kReProduceBound));
    std::set<std::string> rids;
    for (auto& call : reProduced()) {
        rids.insert(call["rid"]);
        EXPECT_EQ(call["ctx.app"], "kept");
        EXPECT_EQ(call.count("ctx.STORE"), 0u) << call["rid"];
    }
    EXPECT_EQ(rids, (std::set<std::string>{"sf-key", "sf-refused", "sf-async"}));
    EXPECT_EQ(exitWithin(*forward, kScenarioBound), 0);
}

TEST_F(ClientScenarioTest, BatchesOfAKilledProcessArriveOnce) {
    auto killed = run("store-many", true);
    expectLine(*killed, "STORED");
    killed->kill();

    auto forward = run("forward", true);
    expectLine(*forward, "READY");
    ASSERT_TRUE(engine::eventually([&] { return reProduced().size() >= 5; }, kReProduceBound));
    std::this_thread::sleep_for(milliseconds(200));  // room for a duplicate to show
    // The killed client's re-produce thread was resting: no batch was in flight.
    std::map<std::string, int> arrivals;
    for (auto& call : reProduced()) {
        ++arrivals[call["rid"]];
    }
    const std::map<std::string, int> once{
        {"killed-0", 1}, {"killed-1", 1}, {"killed-2", 1}, {"killed-3", 1}, {"killed-4", 1}};
    EXPECT_EQ(arrivals, once);
    EXPECT_EQ(exitWithin(*forward, kScenarioBound), 0);
}

TEST_F(ClientScenarioTest, ReProduceGoesToTheReplacementResource) {
    EXPECT_EQ(exitWithin(*run("replacement", false), kScenarioBound), 0);
    const CallRecords calls = produceCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].at("rid"), "rep-target");
    EXPECT_EQ(calls[0].at("sid"), "dummysid");
}

TEST_F(ClientScenarioTest, BackOffAfterFailuresAndRestWhenEmpty) {
    EXPECT_EQ(exitWithin(*run("backoff", true), kScenarioBound), 0);
}

// Outstanding pulls, held produces, pushes in progress and a re-produce in
// flight (each run re-produces what the run before stored, and the agent holds
// the call): exit neither hangs nor loses a callback, and what the runs stored
// reaches the agent once the agent answers again. The bound is below the
// 20 s rest of an empty store that an exit must not sit out, and loose enough
// for a sanitizer build on a loaded two-core machine (a run took 10 s there).
TEST_F(ClientScenarioTest, ExitWithWorkInFlightCallsEveryCallbackOnce) {
    size_t stored = 0;
    for (int run_ = 0; run_ < 20; ++run_) {
        agent_->command("release");
        agent_->command("clear");
        agent_->command("hold produce 1000");
        // A resource of its own per run: the agent keeps pushing to the
        // listeners that earlier runs registered.
        auto busy = run("exit-busy", true, "store", {"tag=" + std::to_string(run_)});
        expectLine(*busy, "BUSY");
        ASSERT_TRUE(run_ == 0 || engine::eventually([&] { return !reProduced().empty(); }))
            << "run " << run_ << ": no re-produce in flight";
        ASSERT_EQ(exitWithin(*busy, seconds(15)), 0) << "run " << run_;
        const auto verified = parseFields(expectLine(*busy, "VERIFIED"));
        ASSERT_EQ(verified.count("stored"), 1u) << "run " << run_;
        stored += std::stoul(verified.at("stored"));
    }
    agent_->command("reset_script");  // no more holds
    agent_->command("release");
    agent_->command("clear");
    // The last runs' re-produce threads claimed their files: with a claim
    // period of 2 s they are free again soon after their last read.
    auto forward = run("forward", true, "store", {"max_idle=2"});
    expectLine(*forward, "READY");
    EXPECT_TRUE(engine::eventually([&] { return reProduced().size() >= stored; }, kReProduceBound + seconds(2)));
    std::this_thread::sleep_for(milliseconds(200));  // room for a duplicate to show
    EXPECT_EQ(reProduced().size(), stored);
    EXPECT_EQ(exitWithin(*forward, kScenarioBound), 0);
}

// The four older bool forms, each once with the agent taking the batch and
// once refusing it (no fail-store): the scenario checks results and callbacks.
TEST_F(ClientScenarioTest, OlderBoolForms) {
    agent_->command("code produce 0 9 0 9 0 9 0 9");
    EXPECT_EQ(exitWithin(*run("older-forms", false), kScenarioBound), 0);
    const CallRecords calls = produceCalls();
    ASSERT_EQ(calls.size(), 8u);
    const std::vector<std::string> msgs{"1", "1", "2", "2", "1", "1", "3", "3"};
    for (size_t call = 0; call < calls.size(); ++call) {
        EXPECT_EQ(calls[call].at("msgs"), msgs[call]) << "call " << call;
    }
}

// The first tick's keep-alive is answered only after 25 s and no invocation
// timeout is configured: exit ends the call instead of waiting for it.
TEST_F(ClientScenarioTest, ExitEndsAKeepAliveTheAgentNeverAnswers) {
    agent_->command("sleep keepalive 25000");
    auto child = run("exit-keepalive", false);
    expectLine(*child, "REGISTERED");
    // The listing ends with its "END" line.
    ASSERT_TRUE(engine::eventually([&] { return agent_->command("calls keepalive").size() > 1; }, seconds(20),
                                   milliseconds(20)));
    EXPECT_EQ(exitWithin(*child, seconds(15)), 0);
}

}  // namespace
}  // namespace kova::test::client
