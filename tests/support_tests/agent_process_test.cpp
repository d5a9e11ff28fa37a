// The standalone kova_agent as a separate process: ready line, control
// commands, SIGKILL and restart on the same ports, and SIGTERM or closed
// standard input ending it.
#include "test_client.h"

#include "agent_process.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

namespace kova::test::support_tests {
namespace {

using fixtures::AgentProcess;
using fixtures::parseFields;
using namespace std::chrono_literals;

TEST(AgentProcess, ServesScriptsAndSurvivesAKillAndRestartOnTheSamePorts) {
    AgentProcess agent;
    agent.start();
    Ice::CommunicatorPtr client = makeClient();
    auto prx = KOVA::KOVAAgentPrx::checkedCast(client->stringToProxy(agent.agentProxyString()));
    ASSERT_TRUE(prx);

    EXPECT_EQ(agent.commandValue("code produce 9"), "");
    EXPECT_EQ(prx->Produce("p", "first-sid", makeBatch(1), Ice::Context{{"__ks1", "1.1.1.1"}}), 9);
    auto calls = agent.command("calls produce");
    ASSERT_EQ(calls.size(), 2u);
    auto call = parseFields(calls[0]);
    EXPECT_EQ(call["sid"], "first-sid");
    EXPECT_EQ(call["ctx.__ks1"], "1.1.1.1");

    RecordingListenerPtr listener = new RecordingListener(0);
    Ice::ObjectAdapterPtr adapter = client->createObjectAdapter("");
    const Ice::Identity identity{"proc-listener", "c"};
    adapter->add(listener, identity);
    adapter->activate();
    prx->ice_getConnection()->setAdapter(adapter);
    std::string cidBefore;
    ASSERT_EQ(prx->RegisterKOVAMsgListenerWithId("p", "s", 10, 1, identity, cidBefore), 0);

    const int port = agent.agentPort();
    const int callbackPort = agent.callbackPort();
    const pid_t firstPid = agent.pid();
    agent.restart();  // SIGKILL, then the same ports again
    EXPECT_NE(agent.pid(), firstPid);
    EXPECT_EQ(agent.agentPort(), port);
    EXPECT_EQ(agent.callbackPort(), callbackPort);

    // The old connection died with the process; the next call reconnects.
    try {
        prx->ice_ping();
    } catch (const Ice::LocalException&) {
    }
    EXPECT_EQ(prx->Produce("p", "second-sid", makeBatch(1)), 0);
    EXPECT_EQ(agent.commandValue("count produce"), "1");
    prx->ice_getConnection()->setAdapter(adapter);
    std::string cidAfter;
    ASSERT_EQ(prx->RegisterKOVAMsgListenerWithId("p", "s", 10, 1, identity, cidAfter), 0);
    EXPECT_NE(cidAfter, cidBefore);

    EXPECT_EQ(agent.commandValue("push p 2 pushed"), "");
    ASSERT_TRUE(listener->waitFor(1, 5s));
    EXPECT_EQ(listener->all()[0].bodies, (std::vector<std::string>{"pushed", "pushed"}));
    EXPECT_EQ(listener->all()[0].cid, cidAfter);
    client->destroy();
}

TEST(AgentProcess, EndsCleanlyOnSigtermAndOnQuit) {
    AgentProcess agent;
    agent.start();
    const int status = agent.stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    agent.start();
    EXPECT_EQ(agent.command("quit").at(0), "OK");
    const int quitStatus = agent.stop();
    ASSERT_TRUE(WIFEXITED(quitStatus));
    EXPECT_EQ(WEXITSTATUS(quitStatus), 0);
}

TEST(AgentProcess, ParseFieldsSplitsTabSeparatedRecords) {
    auto fields = parseFields("READY\tagent=A -t:tcp -h 127.0.0.1 -p 1\tagent_port=1\tbad");
    EXPECT_EQ(fields[""], "READY");
    EXPECT_EQ(fields["agent"], "A -t:tcp -h 127.0.0.1 -p 1");
    EXPECT_EQ(fields["agent_port"], "1");
    EXPECT_EQ(fields.count("bad"), 0u);
}

}  // namespace
}  // namespace kova::test::support_tests
