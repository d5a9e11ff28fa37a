#include "KOVATest.h"

#include "KOVALog.h"
#include "KOVAOMessage.h"
#include "LiveObjects.h"
#include "ResultText.h"

#include <chrono>
#include <exception>
#include <iostream>
#include <thread>
#include <utility>

namespace {

const char* const kDefaultConfig = "./ice.client";
const char* const kDefaultItem = "KOVAClient";
// How long push_msg, pull_msg_async and product_msg_async let outcomes arrive
// before they read the mailbox.
constexpr std::chrono::seconds kSettleTime(3);
// Timeout argument of the asynchronous pull.
constexpr int kAsyncPullTimeout = 5;

// Python cannot survive a C++ exception crossing SWIG's C frames: every method
// turns one into its fallback result.
template <typename Body, typename Fallback>
auto withoutThrowing(const char* method, Body&& body, Fallback&& fallback) -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception& e) {
        LOG_ERROR("KOVATest::%s failed: %s", method, e.what());
    } catch (...) {
        LOG_ERROR("KOVATest::%s failed with an unknown exception", method);
    }
    return fallback();
}

KOVA::KOVAClientLib::KOVAClientLibPtr clientFor(const std::string& config, const std::string& item) {
    return withoutThrowing(
        "KOVATest", [&] { return KOVA::KOVAClientLib::GetInstance(config, item); },
        [] { return KOVA::KOVAClientLib::KOVAClientLibPtr(); });
}

KOVA::COMMON::IEncodingType encodingFor(int etype) {
    switch (etype) {
        case KOVA::COMMON::E_GZIP:
        case KOVA::COMMON::E_LZ4:
        case KOVA::COMMON::E_ZSTD: return static_cast<KOVA::COMMON::IEncodingType>(etype);
        default: return KOVA::COMMON::E_RAW;
    }
}

std::vector<KOVA::OMessage> messagesToProduce(const std::vector<std::string>& bodies, int etype) {
    const KOVA::COMMON::IEncodingType encoding = encodingFor(etype);
    std::vector<KOVA::OMessage> messages;
    messages.reserve(bodies.size());
    for (const std::string& body : bodies) {
        messages.emplace_back(body, KOVA::COMMON::E_RAW);
        messages.back().SetEtype(encoding);
    }
    return messages;
}

void printConsumeError(int status) { std::cout << "consume err:" << status << std::endl; }

// The registry tells an object's address from a cookie by its parity.
static_assert(alignof(KOVATest) % 2 == 0, "a KOVATest may sit at an odd address");

}  // namespace

KOVATest::KOVATest()
    : g_kovaCli(clientFor(kDefaultConfig, kDefaultItem)),
      strconfig(kDefaultConfig),
      strItem(kDefaultItem),
      push_consume_start(false),
      cookie(kova::harness::liveHarnesses().add(this)) {}

KOVATest::KOVATest(const std::string m_strIceConfig, const std::string m_strItem)
    : g_kovaCli(clientFor(m_strIceConfig, m_strItem)),
      strconfig(kDefaultConfig),
      strItem(kDefaultItem),
      push_consume_start(false),
      cookie(kova::harness::liveHarnesses().add(this)) {}

KOVATest::~KOVATest() {
    // From here on, callbacks that carry this object's cookie find nothing.
    kova::harness::liveHarnesses().remove(cookie);
}

std::string KOVATest::push_msg(std::string strRid) {
    return withoutThrowing(
        "push_msg",
        [&] {
            async_clean();
            if (!g_kovaCli) return genMsg();
            if (!push_consume_start) {
                KOVA::PushConsumerCallback callback = ConsumerCb;
                if (!g_kovaCli->RegisterPushConsumer(strRid, callback, cookie)) {
                    std::cout << "RegisterPushConsumer err:" << 0 << std::endl;
                    return genMsg();
                }
                push_consume_start = true;
            } else {
                std::cout << "push consume has started" << std::endl;
            }
            std::this_thread::sleep_for(kSettleTime);
            return async_get();
        },
        [this] { return genMsg(); });
}

std::string KOVATest::pull_msg(std::string strRid, int maxFetch, int maxWaitSeconds) {
    return withoutThrowing(
        "pull_msg",
        [&] {
            if (!g_kovaCli) return genMsg();
            std::string sid;
            KOVA::ConsumeStatusPtr status =
                g_kovaCli->Consume(strRid, sid, maxFetch, KOVA::COMMON::KOVAProperties(), maxWaitSeconds);
            if (!status) return genMsg();
            status->Commit(sid, 0, -1);
            return genMsg(status);
        },
        [this] { return genMsg(); });
}

std::string KOVATest::pull_msg_async(std::string strRid, int maxFetch) {
    return withoutThrowing(
        "pull_msg_async",
        [&] {
            async_clean();
            if (!g_kovaCli) return genMsg();
            std::string sid;
            KOVA::PullConsumerCallback callback = PullConsumerCb;
            g_kovaCli->Consume(strRid, sid, callback, cookie, maxFetch, KOVA::COMMON::KOVAProperties(),
                               kAsyncPullTimeout);
            std::this_thread::sleep_for(kSettleTime);
            // The last batch any asynchronous pull of this object delivered; none yet: nothing to commit.
            if (KOVA::ConsumeStatusPtr last = mailbox.lastStatus()) last->Commit(sid, 0, -1);
            return async_get();
        },
        [this] { return genMsg(); });
}

void KOVATest::pull_msg_direct(std::string strRid, int maxFetch) {
    withoutThrowing(
        "pull_msg_direct",
        [&] {
            if (!g_kovaCli) return printConsumeError(KOVA::COMMON::INTERNAL_ERROR);
            std::string sid;
            KOVA::ConsumeStatusPtr status =
                g_kovaCli->Consume(strRid, sid, maxFetch, KOVA::COMMON::KOVAProperties(), 0);
            if (!status) return printConsumeError(KOVA::COMMON::INTERNAL_ERROR);
            if (status->Status() != 0) {
                printConsumeError(status->Status());
            } else {
                const std::vector<KOVA::IMessage> messages = std::move(status->msgList);
                status->msgList.clear();
                for (const KOVA::IMessage& message : messages) {
                    std::cout << static_cast<int>(message.EType()) << "->" << message.Message() << '\n';
                }
                std::cout.flush();
            }
            status->Commit(sid, 0, -1);
        },
        [] {});
}

std::string KOVATest::product_msg(std::string strRid, std::vector<std::string> msgs, int etype) {
    return withoutThrowing(
        "product_msg",
        [&] {
            if (!g_kovaCli) return genMsg();
            const std::vector<KOVA::OMessage> messages = messagesToProduce(msgs, etype);
            return genMsg(g_kovaCli->Produce(strRid, "", messages, KOVA::COMMON::KOVAProperties(), -1));
        },
        [this] { return genMsg(); });
}

std::string KOVATest::product_msg_async(std::string strRid, std::vector<std::string> msgs, int etype) {
    return withoutThrowing(
        "product_msg_async",
        [&] {
            async_clean();
            if (!g_kovaCli) return genMsg();
            const std::vector<KOVA::OMessage> messages = messagesToProduce(msgs, etype);
            KOVA::AsyncProduceCallback callback = ProductCb;
            g_kovaCli->Produce(strRid, "", messages, callback, cookie, KOVA::COMMON::KOVAProperties(), -1);
            std::this_thread::sleep_for(kSettleTime);
            return async_get();
        },
        [this] { return genMsg(); });
}

std::string KOVATest::genMsg() { return kova::harness::noResultText(); }

std::string KOVATest::genMsg(KOVA::IMessage& data) { return kova::harness::messageText(data); }

std::string KOVATest::genMsg(KOVA::ConsumeStatusPtr cstatus) {
    return cstatus ? kova::harness::consumeStatusText(*cstatus) : genMsg();
}

std::string KOVATest::genMsg(int retcode) { return kova::harness::codeText(retcode); }

std::string KOVATest::async_get() { return mailbox.take(); }

void KOVATest::async_set(KOVA::IMessage& m_img) { mailbox.putMessage(m_img); }

void KOVATest::async_set(KOVA::ConsumeStatusPtr& cstatus) { mailbox.putStatus(cstatus); }

void KOVATest::async_set(int retcode) { mailbox.putCode(retcode); }

void KOVATest::async_clean() { mailbox.clear(); }
