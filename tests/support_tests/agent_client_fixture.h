// A fresh in-process stand-in agent per test, with a client communicator and
// a proxy to the agent over loopback.
// Thread-safety: used from the test thread; the agent locks itself.
#pragma once

#include <gtest/gtest.h>

#include "standin_agent.h"

#include "test_client.h"

namespace kova::test::support_tests {

class AgentClientTest : public ::testing::Test {
protected:
    explicit AgentClientTest(const standin::StandinAgentOptions& options = {}) : agent_(options) {}

    void SetUp() override {
        agent_.start();
        client_ = makeClient();
        prx_ = KOVA::KOVAAgentPrx::checkedCast(client_->stringToProxy(agent_.agentProxyString()));
        ASSERT_TRUE(prx_);
    }
    void TearDown() override {
        client_->destroy();
        agent_.stop();
    }

    standin::StandinAgent agent_;
    Ice::CommunicatorPtr client_;
    KOVA::KOVAAgentPrx prx_;
};

}  // namespace kova::test::support_tests
