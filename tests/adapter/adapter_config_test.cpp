// Configuration half of the client adapter, in one process: which resources get an
// engine of their own, forced Ice settings, clamps, validation and pool sizing.
#include <algorithm>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "KOVAClientAdapter.h"
#include "adapter_fixture.h"
#include "test_log.h"
#include "thread_names.h"

namespace kova::test::adapter {
namespace {

// Everything the process logger wrote (kova_test_log points it at a directory of our own).
std::string LogText() { return readLogs(fixtures::testLogDir()); }

typedef std::vector<std::string> Items;

std::string S(const std::string& item = "c1") { return item + "Server.Proxy"; }

// A valid default agent: S with a locator.
Items WithDefaultAgent(Items extra, const std::string& item = "c1") {
    Items items{S(item) + "=" + kAgentX, S(item) + ".Locator=" + kLocatorL};
    items.insert(items.end(), extra.begin(), extra.end());
    return items;
}

KOVA::KOVAClientAdapterPtr Build(const Items& items, const std::string& item = "c1") {
    return new KOVA::KOVAClientAdapter(items, item);
}

std::string Prop(const KOVA::KOVAClientAdapterPtr& a, const std::string& key) {
    return a->getCommunicator()->getProperties()->getProperty(key);
}

std::vector<std::string> ItemKeys(const KOVA::KOVAClientAdapterPtr& a) {
    std::vector<std::string> keys;
    for (const auto& entry : a->getItems()) {
        EXPECT_EQ(entry.first, entry.second);
        keys.push_back(entry.first);
    }
    return keys;
}

std::string ConstructionError(const Items& items, const std::string& item = "c1") {
    try {
        Build(items, item);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(constructed)";
}

int ProcessorCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

// The worked table of separate resources: S = X with locator L, no S router.
Items WorkedTable(Items extra) {
    Items items = WithDefaultAgent({
        "c1SeparateRes.List=rNone rSame rOther rRouted rOwnLoc",
        std::string("rSame=") + kAgentX,
        std::string("rOther=") + kAgentY,
        std::string("rRouted=") + kAgentX,
        std::string("rRouted.Router=") + kRouterG,
        std::string("rOwnLoc=") + kAgentX,
        std::string("rOwnLoc.Locator=") + kLocatorL2,
    });
    items.insert(items.end(), extra.begin(), extra.end());
    return items;
}

}  // namespace

TEST(SeparateResources, WorkedTableWritesInheritedRoutesAndSeparatesDifferentAgents) {
    KOVA::KOVAClientAdapterPtr a = Build(WorkedTable({}));

    EXPECT_EQ(ItemKeys(a), (std::vector<std::string>{"rOther", "rRouted"}));
    // No keys of its own: proxy and locator inherited.
    EXPECT_EQ(Prop(a, "rNone"), kAgentX);
    EXPECT_EQ(Prop(a, "rNone.Locator"), kLocatorL);
    EXPECT_EQ(Prop(a, "rNone.Router"), "");
    // Same proxy: locator inherited.
    EXPECT_EQ(Prop(a, "rSame.Locator"), kLocatorL);
    // Other proxy: locator inherited, still separate.
    EXPECT_EQ(Prop(a, "rOther"), kAgentY);
    EXPECT_EQ(Prop(a, "rOther.Locator"), kLocatorL);
    // A route of its own: nothing written.
    EXPECT_EQ(Prop(a, "rRouted.Locator"), "");
    EXPECT_EQ(Prop(a, "rRouted.Router"), kRouterG);
    EXPECT_EQ(Prop(a, "rOwnLoc.Locator"), kLocatorL2);
    EXPECT_EQ(Prop(a, "rOwnLoc.Router"), "");
}

TEST(SeparateResources, RouterEqualToDefaultRouterShares) {
    KOVA::KOVAClientAdapterPtr a = Build(WorkedTable({std::string("Ice.Default.Router=") + kRouterG}));
    EXPECT_EQ(ItemKeys(a), (std::vector<std::string>{"rOther"}));
}

TEST(SeparateResources, DefaultAgentRouterIsInheritedWhenThereIsNoLocator) {
    KOVA::KOVAClientAdapterPtr a =
        Build({S() + "=" + kAgentX, S() + ".Router=" + kRouterG, S() + ".Router.User=u", S() + ".Router.Password=p",
               "c1SeparateRes.List=rNone,rOther", std::string("rOther=") + kAgentY, "rOther.Router.Password=own"});
    EXPECT_EQ(ItemKeys(a), (std::vector<std::string>{"rOther"}));
    EXPECT_EQ(Prop(a, "rNone"), kAgentX);
    EXPECT_EQ(Prop(a, "rNone.Router"), kRouterG);
    EXPECT_EQ(Prop(a, "rNone.Locator"), "");
    EXPECT_EQ(Prop(a, "rOther.Router"), kRouterG);
    // With the router's sub-keys, except those the resource sets itself.
    EXPECT_EQ(Prop(a, "rOther.Router.User"), "u");
    EXPECT_EQ(Prop(a, "rOther.Router.Password"), "own");
}

TEST(SeparateResources, DefaultRouterAloneIsAFallbackRouteButWritesNothing) {
    KOVA::KOVAClientAdapterPtr a =
        Build({S() + "=" + kAgentX, std::string("Ice.Default.Router=") + kRouterG, "c1SeparateRes.List=rNone"});
    EXPECT_TRUE(a->getItems().empty());
    EXPECT_EQ(Prop(a, "rNone"), kAgentX);
    EXPECT_EQ(Prop(a, "rNone.Router"), "");
    EXPECT_EQ(Prop(a, "rNone.Locator"), "");
}

TEST(SeparateResources, ListedResourcesWithOwnAgentsNeedNoGlobalAgent) {
    KOVA::KOVAClientAdapterPtr a =
        Build({"c1SeparateRes.List=r1", std::string("r1=") + kAgentY, std::string("r1.Locator=") + kLocatorL2});
    EXPECT_EQ(ItemKeys(a), (std::vector<std::string>{"r1"}));
    EXPECT_NE(LogText().find("Global adapter config absent for `c1Server.Proxy' or "
                             "`c1Server.Proxy.Locator'"),
              std::string::npos);
}

TEST(Validation, FailuresCarryTheirTextsAndLeaveNoCommunicatorBehind) {
    // A first construction warms up process-wide state (Ice plug-ins, logger) so the
    // thread count below measures only what a failed construction leaves.
    Build(WithDefaultAgent({}));
    const size_t baseline = fixtures::settledThreadCount();

    EXPECT_EQ(ConstructionError({S() + ".Locator=" + kLocatorL}), "Config is invalid!");
    EXPECT_EQ(ConstructionError({S() + "=" + kAgentX}), "Config is invalid!");
    // The default router does not make the default agent valid.
    EXPECT_EQ(ConstructionError({S() + "=" + kAgentX, std::string("Ice.Default.Router=") + kRouterG}),
              "Config is invalid!");
    EXPECT_EQ(ConstructionError({S() + "=" + kAgentX, "c1SeparateRes.List=r1", std::string("r1=") + kAgentY}),
              "Invalid locator.");
    EXPECT_EQ(ConstructionError({"c1SeparateRes.List=r1", std::string("r1.Locator=") + kLocatorL}), "Invalid proxy.");
    // The first failing resource ends the check.
    EXPECT_EQ(ConstructionError({"c1SeparateRes.List=r1 r2", std::string("r1.Locator=") + kLocatorL}),
              "Invalid proxy.");

    EXPECT_EQ(fixtures::settledThreadCount(), baseline);
    const std::string log = LogText();
    EXPECT_NE(log.find("FATAL: Config is invalid, need config `c1Server.Proxy' and (`c1Server.Proxy.Locator' or "
                       "`c1Server.Proxy.Router')"),
              std::string::npos);
    EXPECT_NE(log.find("FATAL: The locator or router is invalid for resource:`r1', need config:`r1.Locator' or "
                       "`r1.Router' or `Ice.Default.Router'"),
              std::string::npos);
    EXPECT_NE(log.find("FATAL: The proxy is invalid for resource:r1, need config:r1"), std::string::npos);
}

TEST(ListForm, BadItemsNameTheLastOneAndEmptyValuesClearKeys) {
    EXPECT_EQ(ConstructionError(WithDefaultAgent({"A", "A=B=C"})), "Invalid config for item:A=B=C");
    EXPECT_EQ(ConstructionError(WithDefaultAgent({"NoValue"})), "Invalid config for item:NoValue");

    KOVA::KOVAClientAdapterPtr a = Build(WithDefaultAgent({"K.One=first", "K.One=second", "K.Two=x", "K.Two="}));
    EXPECT_EQ(Prop(a, "K.One"), "second");
    EXPECT_EQ(Prop(a, "K.Two"), "");
}

TEST(ForcedSettings, ListItemsOverrideThemAndFileValuesDoNot) {
    KOVA::KOVAClientAdapterPtr plain = Build(WithDefaultAgent({}));
    EXPECT_EQ(Prop(plain, "Ice.MessageSizeMax"), "0");
    EXPECT_EQ(Prop(plain, "Ice.BackgroundLocatorCacheUpdates"), "1");
    EXPECT_EQ(Prop(plain, "Ice.ACM.Client.Heartbeat"), "1");
    EXPECT_EQ(Prop(plain, "Ice.Warn.UnknownProperties"), "0");

    KOVA::KOVAClientAdapterPtr listed = Build(WithDefaultAgent({"Ice.MessageSizeMax=1024"}));
    EXPECT_EQ(Prop(listed, "Ice.MessageSizeMax"), "1024");

    TempDir dir;
    dir.write("client.cfg",
              "Ice.MessageSizeMax=1024\n"
              "Ice.ACM.Client.Heartbeat=0\n"
              "c1Server.Proxy=" +
                  std::string(kAgentX) +
                  "\n"
                  "c1Server.Proxy.Locator=" +
                  kLocatorL +
                  "\n"
                  "c1.Fail.CacheNum=7\n");
    KOVA::KOVAClientAdapterPtr filed = new KOVA::KOVAClientAdapter(dir.file("client.cfg"), "c1");
    EXPECT_EQ(Prop(filed, "Ice.MessageSizeMax"), "0");
    EXPECT_EQ(Prop(filed, "Ice.ACM.Client.Heartbeat"), "1");
    EXPECT_EQ(Prop(filed, "c1Server.Proxy"), kAgentX);
    EXPECT_EQ(filed->getMaxFileNums(), 7);
}

TEST(FileForm, UnreadableFileRaisesTheIceException) {
    TempDir dir;
    EXPECT_THROW(KOVA::KOVAClientAdapter(dir.file("missing.cfg"), "c1"), Ice::FileException);
}

TEST(FailStore, DefaultsClampsAndModes) {
    KOVA::KOVAClientAdapterPtr d = Build(WithDefaultAgent({}));
    EXPECT_EQ(d->getStoreDir(), "");
    EXPECT_EQ(d->getStoreFile(), "");
    EXPECT_EQ(d->getMaxFileSize(), 104857600);
    EXPECT_EQ(d->getMaxFileNums(), 100);
    EXPECT_TRUE(d->isAsyncFlush());
    EXPECT_EQ(d->storeSuccessCode(), 0);
    EXPECT_EQ(d->getRepRid(), "");

    struct SizeCase {
        const char* configured;
        int bytes;
    } sizes[] = {{"10", 20971520}, {"20", 20 << 20}, {"2047", 2047 << 20}, {"2048", 2000 << 20}, {"99999", 2000 << 20}};
    for (const SizeCase& c : sizes) {
        EXPECT_EQ(Build(WithDefaultAgent({std::string("c1.Fail.CacheSize=") + c.configured}))->getMaxFileSize(),
                  c.bytes)
            << c.configured;
    }
    EXPECT_NE(LogText().find("WARN: Fail-store size 99999 MiB"), std::string::npos);

    EXPECT_EQ(Build(WithDefaultAgent({"c1.Fail.CacheNum=0"}))->getMaxFileNums(), 1);
    EXPECT_EQ(Build(WithDefaultAgent({"c1.Fail.CacheNum=-4"}))->getMaxFileNums(), 1);

    for (const char* sync : {"SYNC", "Sync", "synchronous"}) {
        EXPECT_FALSE(Build(WithDefaultAgent({std::string("c1.Fail.FlushMode=") + sync}))->isAsyncFlush()) << sync;
    }
    for (const char* async : {"async", "", "flush", "syn"}) {
        EXPECT_TRUE(Build(WithDefaultAgent({std::string("c1.Fail.FlushMode=") + async}))->isAsyncFlush()) << async;
    }

    EXPECT_EQ(Build(WithDefaultAgent({"c1.Fail.EnableSucc=0"}))->storeSuccessCode(), 200);
    EXPECT_EQ(Build(WithDefaultAgent({"c1.Fail.EnableSucc=7"}))->storeSuccessCode(), 0);

    KOVA::KOVAClientAdapterPtr r = Build(WithDefaultAgent({"c1.Fail.RepRid=backup"}));
    EXPECT_EQ(r->getRepRid(), "backup");
}

TEST(FailStore, DirectoryAndMatchExpandEnvironmentVariablesVerbatim) {
    setenv("KOVA_ADAPTER_T_ROOT", "/data/a:b$1\\(x)", 1);
    unsetenv("KOVA_ADAPTER_T_UNSET");
    KOVA::KOVAClientAdapterPtr a = Build(WithDefaultAgent(
        {"c1.Fail.CacheDir=${KOVA_ADAPTER_T_ROOT}/store", "c1.Fail.CacheMatch=${KOVA_ADAPTER_T_UNSET}m-${HOME}"}));
    EXPECT_EQ(a->getStoreDir(), "/data/a:b$1\\(x)/store");
    EXPECT_EQ(a->getStoreFile(), std::string("m-") + getenv("HOME"));
    // Other keys are not expanded.
    KOVA::KOVAClientAdapterPtr b = Build(WithDefaultAgent({"c1.Fail.RepRid=${HOME}"}));
    EXPECT_EQ(b->getRepRid(), "${HOME}");
    unsetenv("KOVA_ADAPTER_T_ROOT");
}

TEST(ThreadPools, SizingRuleAndWrittenProperties) {
    const int cpus = ProcessorCount();

    KOVA::KOVAClientAdapterPtr unset = Build(WithDefaultAgent({}));
    EXPECT_EQ(unset->getMaxClientPoolSize(), cpus);
    EXPECT_EQ(Prop(unset, "Ice.ThreadPool.Client.SizeMax"), std::to_string(cpus));
    EXPECT_EQ(unset->getMaxServerPoolSize(), cpus);
    EXPECT_EQ(Prop(unset, "Ice.ThreadPool.Server.SizeMax"), std::to_string(cpus));

    KOVA::KOVAClientAdapterPtr sizeWins =
        Build(WithDefaultAgent({"Ice.ThreadPool.Client.Size=8", "Ice.ThreadPool.Client.SizeMax=4"}));
    EXPECT_EQ(sizeWins->getMaxClientPoolSize(), std::min(8, cpus));
    EXPECT_EQ(Prop(sizeWins, "Ice.ThreadPool.Client.SizeMax"), "4");

    KOVA::KOVAClientAdapterPtr big = Build(WithDefaultAgent({"Ice.ThreadPool.Client.SizeMax=100000"}));
    EXPECT_EQ(big->getMaxClientPoolSize(), cpus);
    EXPECT_EQ(Prop(big, "Ice.ThreadPool.Client.SizeMax"), "100000");

    // Zero threads would leave asynchronous calls without a callback thread.
    KOVA::KOVAClientAdapterPtr zero = Build(WithDefaultAgent({"Ice.ThreadPool.Client.SizeMax=0"}));
    EXPECT_EQ(zero->getMaxClientPoolSize(), cpus);
    EXPECT_EQ(Prop(zero, "Ice.ThreadPool.Client.SizeMax"), std::to_string(cpus));

    KOVA::KOVAClientAdapterPtr one = Build(WithDefaultAgent({"Ice.ThreadPool.Server.SizeMax=1"}));
    EXPECT_EQ(one->getMaxServerPoolSize(), 1);
}

TEST(SharedConnection, ChosenByMissingEndpointsOrEmptyAdapterId) {
    EXPECT_TRUE(Build(WithDefaultAgent({}))->share());
    EXPECT_FALSE(Build(WithDefaultAgent({"c1.Endpoints=tcp -h 127.0.0.1"}))->share());

    KOVA::KOVAClientAdapterPtr anonymous = Build(WithDefaultAgent({".Endpoints=tcp -h 127.0.0.1"}, ""), "");
    EXPECT_TRUE(anonymous->share());
    EXPECT_EQ(anonymous->getServerAdapterID(), "Server.Proxy");
}

// The process client id is checked where it can go wrong, without a private
// address (adapter_process_test).
TEST(Identity, ClientUuidPerAdapter) {
    KOVA::KOVAClientAdapterPtr first = Build(WithDefaultAgent({}));
    KOVA::KOVAClientAdapterPtr second = Build(WithDefaultAgent({}));
    EXPECT_NE(first->getClientID(), second->getClientID());
    EXPECT_EQ(first->getClientID().size(), 36u);
}

TEST(LogConfig, EveryPropertyOnceWithWrittenKeys) {
    const std::string marker = "Marker.Key=" + IceUtil::generateUUID();
    Build(WorkedTable({marker}));
    const std::string log = LogText();
    const std::string prefix = "WARN: [INFO] client:`" + KOVA::_kova_ClientId() + "' config:`--";
    EXPECT_EQ(countOccurrences(log, prefix + marker + "'"), 1u);
    EXPECT_NE(log.find(prefix + "rNone.Locator=" + kLocatorL + "'"), std::string::npos);
    EXPECT_NE(log.find(prefix + "Ice.Warn.UnknownProperties=0'"), std::string::npos);
}

}  // namespace kova::test::adapter
