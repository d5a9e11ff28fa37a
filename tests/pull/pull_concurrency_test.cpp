// Eight threads pulling (both forms) and committing through one engine while
// the agents alternate between granting direct pulls and ending them. Meant
// for the sanitizer build: the direct-pull proxy and budget are shared by all.
#include <gtest/gtest.h>

#include <set>

#include "pull_fixture.h"

namespace kova::test::pull {
namespace {

using namespace std::chrono_literals;

class ConcurrentPullTest : public PullFixture {};

TEST_F(ConcurrentPullTest, EightThreadsNeverLoseDuplicateOrOverspend) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 40;
    constexpr int kAsyncEvery = 4;
    constexpr int kCount = 5;
    agent_.preload(kRid, batchOf(kThreads * kRounds * kCount * 2));
    agent_.script().delayCycle(AgentOp::Consume, {20000, 500});
    agent_.script().delayCycle(AgentOp::CallbackConsume, {20000, 500});

    CompletionPool pool(3);
    PullRecorder recorder;
    std::mutex resultsMutex;
    std::vector<std::string> keys;
    std::vector<int> syncStatuses;
    std::vector<int> commitResults;
    std::atomic<int> issued{0};

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<std::string> mine;
            std::vector<int> statuses;
            std::vector<int> commits;
            for (int round = 0; round < kRounds; ++round) {
                std::string sid;
                if (round % kAsyncEvery == t % kAsyncEvery) {
                    KOVA::PullConsumerCallback cb = recorder.callback();
                    if (engine_->Consume(kRid, sid, kCount, cb, nullptr, {}, 0, pool.service()) == 0) ++issued;
                    continue;
                }
                KOVA::ConsumeStatusPtr status = engine_->Consume(kRid, sid, kCount, {}, 0);
                if (!status) {
                    statuses.push_back(-1);
                    continue;
                }
                statuses.push_back(status->Status());
                for (const KOVA::IMessage& message : status->msgList) mine.push_back(keyOf(message));
                commits.push_back(status->Commit(sid, 0, -1));
            }
            std::lock_guard<std::mutex> lock(resultsMutex);
            keys.insert(keys.end(), mine.begin(), mine.end());
            syncStatuses.insert(syncStatuses.end(), statuses.begin(), statuses.end());
            commitResults.insert(commitResults.end(), commits.begin(), commits.end());
        });
    }
    for (std::thread& thread : threads) thread.join();

    ASSERT_EQ(kThreads * kRounds / kAsyncEvery, issued.load()) << "every asynchronous pull was issued";
    ASSERT_TRUE(recorder.waitFor(static_cast<size_t>(issued.load()), 20s));
    EXPECT_FALSE(recorder.waitFor(static_cast<size_t>(issued.load()) + 1, 300ms)) << "one callback per pull";
    for (const PullCallback& got : recorder.all()) {
        ASSERT_EQ(0, got.status->Status());
        for (const KOVA::IMessage& message : got.status->msgList) keys.push_back(keyOf(message));
    }
    for (int status : syncStatuses) ASSERT_EQ(0, status);
    for (int result : commitResults) ASSERT_EQ(0, result);

    const std::set<std::string> unique(keys.begin(), keys.end());
    EXPECT_EQ(unique.size(), keys.size()) << "no record delivered twice";
    EXPECT_EQ(static_cast<size_t>(kThreads * kRounds * kCount), keys.size()) << "every pull got a full batch";

    // Each grant replaces the budget with 200 (20000 / 100); spending never
    // goes beyond what the grants gave.
    size_t grants = 0;
    for (const auto& call : agent_.calls(AgentOp::Consume)) {
        if (call.code == 0 && call.delay == 20000) ++grants;
    }
    EXPECT_GT(directPulls(), 0u);
    EXPECT_LE(directPulls(), grants * 200);
    EXPECT_EQ(static_cast<size_t>(kThreads * kRounds), agentPulls() + directPulls()) << "each pull asked one agent";
}

}  // namespace
}  // namespace kova::test::pull
