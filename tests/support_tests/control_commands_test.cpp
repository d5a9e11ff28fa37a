// The standalone agent's line commands, run in-process against a started agent.
#include "test_client.h"

#include "agent_process.h"
#include "control_commands.h"

#include <gtest/gtest.h>

namespace kova::test::support_tests {
namespace {

using standin::runControlCommand;
using standin::StandinAgent;

TEST(ControlCommands, ScriptRecordsAndListingsRoundTripOverTheLineFormat) {
    StandinAgent agent;
    agent.start();
    Ice::CommunicatorPtr client = makeClient();
    auto prx = KOVA::KOVAAgentPrx::uncheckedCast(client->stringToProxy(agent.agentProxyString()));

    EXPECT_EQ(runControlCommand(agent, "code produce 5 0").lines, (std::vector<std::string>{"OK"}));
    EXPECT_EQ(prx->Produce("r", "sid-1", makeBatch(1), Ice::Context{{"__ks1", "1.2.3.4"}}), 5);
    EXPECT_EQ(prx->Produce("r", "sid-2", makeBatch(1)), 0);
    EXPECT_EQ(runControlCommand(agent, "count produce").lines.at(0), "OK 2");

    auto listing = runControlCommand(agent, "calls produce").lines;
    ASSERT_EQ(listing.size(), 3u);
    EXPECT_EQ(listing.back(), "END");
    auto first = fixtures::parseFields(listing[0]);
    EXPECT_EQ(first[""], "CALL");
    EXPECT_EQ(first["sid"], "sid-1");
    EXPECT_EQ(first["code"], "5");
    EXPECT_EQ(first["ctx.__ks1"], "1.2.3.4");
    EXPECT_EQ(first["peer"].rfind("127.0.0.1:", 0), 0u);

    EXPECT_EQ(runControlCommand(agent, "preload q 2 hello").lines.at(0), "OK");
    KOVAMsg::KOVABatchMessage datas;
    EXPECT_EQ(prx->Consume("q", "s", 10, 0, datas).code, 0);
    ASSERT_EQ(datas.size(), 2u);
    EXPECT_EQ(bodyOf(datas[1]), "hello");

    auto ready = fixtures::parseFields(runControlCommand(agent, "ready").lines.at(0));
    EXPECT_EQ(ready["agent"], agent.agentProxyString());
    EXPECT_EQ(ready["callback_port"], std::to_string(agent.callbackPort()));

    EXPECT_EQ(runControlCommand(agent, "code nosuchop 1").lines.at(0), "ERR unknown operation nosuchop");
    EXPECT_EQ(runControlCommand(agent, "sleep produce").lines.at(0).rfind("ERR", 0), 0u);
    EXPECT_EQ(runControlCommand(agent, "code produce x").lines.at(0).rfind("ERR", 0), 0u);
    EXPECT_TRUE(runControlCommand(agent, "quit").quit);
    client->destroy();
}

}  // namespace
}  // namespace kova::test::support_tests
