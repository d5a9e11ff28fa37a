// Scenarios of the fail-store policy and of re-producing stored batches.
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

#include "KOVAStoreFile.h"
#include "batches.h"
#include "callback_recorders.h"
#include "scenario_support.h"

namespace kova::test::client {

namespace {

const KOVA::COMMON::KOVAProperties kStoreAsked{{"STORE", ""}, {"app", "kept"}};
const KOVA::COMMON::KOVAProperties kPlain{{"app", "kept"}};

// A client whose re-produce thread has found its store empty and rests 20 s:
// what is stored next stays for the process that comes after this one.
KOVA::KOVAClientLibPtr restingClient(const ScenarioArgs& args) {
    KOVA::KOVAClientLibPtr client = requireClient(args);
    check(eventually([&] { return logMentions("There is not valid re-produce data"); }),
          "the re-produce thread's first pass");
    return client;
}

}  // namespace

void storeWithoutFailStoreScenario(const ScenarioArgs& args) {
    KOVA::KOVAClientLibPtr client = requireClient(args);
    check(client->Produce("sf-nostore", "", messages({"a"}), kStoreAsked, 0) == 201, "synchronous: 201");
    engine::CodeRecorder completions;
    KOVA::AsyncProduceCallback cb = completions.callback();
    check(client->Produce("sf-nostore", "", messages({"b"}), cb, nullptr, kStoreAsked, 0) == 0 &&
              completions.count() == 1 && completions.code(0) == 201,
          "asynchronous: 0, called back before returning with 201");
}

// The agent answers the first two produce calls with 9.
void storeFillScenario(const ScenarioArgs& args) {
    KOVA::KOVAClientLibPtr client = restingClient(args);
    check(client->Produce("sf-key", "", messages({"by-key"}), kStoreAsked, 0) == 200, "\"STORE\": stored");
    check(client->Produce("sf-refused", "", messages({"refused"}), kPlain, 0) == 200, "refused batch stored");
    engine::CodeRecorder completions;
    KOVA::AsyncProduceCallback cb = completions.callback();
    check(client->Produce("sf-async", "", messages({"async"}), cb, nullptr, kPlain, 0) == 0, "asynchronous issued");
    check(completions.waitFor(1, std::chrono::seconds(20)) && completions.code(0) == 200,
          "a refused asynchronous batch is stored and called back with the store-success code");
    announce("STORED");
}

// Stores five batches and waits to be killed.
void storeManyScenario(const ScenarioArgs& args) {
    KOVA::KOVAClientLibPtr client = restingClient(args);
    for (int batch = 0; batch < 5; ++batch) {
        const std::string rid = "killed-" + std::to_string(batch);
        check(client->Produce(rid, "", messages({rid}), kStoreAsked, 0) == 200, "stored " + rid);
    }
    announce("STORED");
    waitForQuit();
}

// A client on a store directory; its re-produce thread does the work. The
// agent takes every batch, so none may have been refused on the way.
// args["max_idle"]: the claim period in seconds, so that the claims of
// killed processes lapse quickly.
void forwardScenario(const ScenarioArgs& args) {
    if (args.count("max_idle")) {
        KOVA::KOVAStoreFile::setMaxIdleSeconds(std::stoi(args.at("max_idle")));
    }
    KOVA::KOVAClientLibPtr client = requireClient(args);
    announce("READY");
    waitForQuit();
    check(!logMentions("Re produce rid:"), "no re-produce failed");
}

// The agent answers the produce calls 0, 9, 0, 9, ...: each older form once
// delivered and once refused, without a fail-store.
void olderFormsScenario(const ScenarioArgs& args) {
    KOVA::KOVAClientLibPtr client = requireClient(args);
    typedef std::function<bool(const KOVA::AsyncProduceCallback&)> Form;
    const std::vector<std::pair<std::string, Form>> forms{
        {"Produce",
         [&](const KOVA::AsyncProduceCallback&) {
             return client->Produce("older", "one", KOVA::COMMON::E_RAW, false, kPlain);
         }},
        {"BatchProduce",
         [&](const KOVA::AsyncProduceCallback&) {
             return client->BatchProduce("older", {"a", "b"}, KOVA::COMMON::E_GZIP, false, kPlain);
         }},
        {"asynchronous Produce",
         [&](const KOVA::AsyncProduceCallback& cb) {
             return client->Produce("older", "one", cb, nullptr, KOVA::COMMON::E_LZ4, false, kPlain);
         }},
        {"asynchronous BatchProduce",
         [&](const KOVA::AsyncProduceCallback& cb) {
             return client->BatchProduce("older", {"a", "b", "c"}, cb, nullptr, KOVA::COMMON::E_ZSTD, true, kPlain);
         }},
    };
    std::vector<std::pair<std::string, engine::CodeRecorder>> asyncRows;  // looked at again after the last row
    for (const auto& form : forms) {
        const bool async = form.first.compare(0, 5, "async") == 0;
        for (const int agentCode : {0, 9}) {
            // Each row its own recorder: a late second call lands in this
            // row's record, which the callback keeps alive.
            engine::CodeRecorder completions;
            const bool result = form.second(completions.callback());
            const std::string row = form.first + " answered " + std::to_string(agentCode);
            check(result == (async || agentCode == 0), row + ": result");
            if (async) {
                check(completions.waitFor(1, std::chrono::seconds(20)), row + ": called back");
                std::this_thread::sleep_for(std::chrono::milliseconds(100));  // room for a second call
                check(completions.count() == 1 && completions.code(0) == agentCode,
                      row + ": one callback with the agent's code");
                asyncRows.emplace_back(row, completions);
            }
        }
    }
    for (const auto& [row, completions] : asyncRows) {
        check(completions.count() == 1, row + ": no second callback while the later rows ran");
    }
}

void replacementScenario(const ScenarioArgs& args) {
    KOVA::KOVAClientLibPtr client = requireClient(args, {"scenario.Fail.RepRid=rep-target"});
    check(KOVA::ReProduceCb("orig", engine::batchOf({"r"}), kPlain), "re-produced");
}

}  // namespace kova::test::client
