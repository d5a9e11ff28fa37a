// Scenarios of the fail-store policy and of re-producing stored batches.
#include <future>

#include "batches.h"
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
    int called = -1;
    KOVA::AsyncProduceCallback cb = [&called](int code, void*) { called = code; };
    check(client->Produce("sf-nostore", "", messages({"b"}), cb, nullptr, kStoreAsked, 0) == 0 && called == 201,
          "asynchronous: 0, called back before returning with 201");
}

// The agent answers the first two produce calls with 9.
void storeFillScenario(const ScenarioArgs& args) {
    KOVA::KOVAClientLibPtr client = restingClient(args);
    check(client->Produce("sf-key", "", messages({"by-key"}), kStoreAsked, 0) == 200, "\"STORE\": stored");
    check(client->Produce("sf-refused", "", messages({"refused"}), kPlain, 0) == 200, "refused batch stored");
    std::promise<int> outcome;
    KOVA::AsyncProduceCallback cb = [&outcome](int code, void*) { outcome.set_value(code); };
    check(client->Produce("sf-async", "", messages({"async"}), cb, nullptr, kPlain, 0) == 0, "asynchronous issued");
    std::future<int> code = outcome.get_future();
    check(code.wait_for(std::chrono::seconds(20)) == std::future_status::ready && code.get() == 200,
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
// agent takes every batch, so none may have been refused on the way (as when
// the re-produce thread ran before the client was complete).
void forwardScenario(const ScenarioArgs& args) {
    KOVA::KOVAClientLibPtr client = requireClient(args);
    announce("READY");
    waitForQuit();
    check(!logMentions("Re produce rid:"), "no re-produce failed");
}

void replacementScenario(const ScenarioArgs& args) {
    KOVA::KOVAClientLibPtr client = requireClient(args, {"scenario.Fail.RepRid=rep-target"});
    check(KOVA::ReProduceCb("orig", engine::batchOf({"r"}), kPlain), "re-produced");
}

}  // namespace kova::test::client
