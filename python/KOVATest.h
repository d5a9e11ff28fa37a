// KOVATest: the harness that Python scripts drive through the module _KOVATestLib.
// Each method runs one client operation on the process-wide client and returns its
// outcome as JSON text (see ResultText.h); asynchronous outcomes arrive through the
// three callbacks below into the object's mailbox, which the method then polls.
//
// Thread safety: methods run on the calling Python thread, which keeps the
// interpreter lock through the fixed waits (3 s sleeps, mailbox polling of about
// 5 s). The callbacks run on Ice and client pool threads and never enter Python;
// they reach an object only while it is alive, through a cookie of its own that is
// never reused (LiveObjects.h), so deleting an object whose push consumer stays
// registered is safe, and a late callback never reaches a later object. A script may
// pass a live object itself as the cookie of a callback it calls.
//
// Ownership: every object shares the one process-wide client; destroying an object
// leaves the client and its push registrations in place. No C++ exception leaves a
// method: a failure gives the no-result text.
//
// This header is also the interface that SWIG wraps: keep its public part to what
// Python may call.
#pragma once

#include "KOVAClientLib.h"
#include "KOVAConsumeStatus.h"
#include "KOVAIMessage.h"
#include "ResultMailbox.h"

#include <string>
#include <vector>

class KOVATest {
public:
    KOVATest();
    KOVATest(const std::string m_strIceConfig, const std::string m_strItem);
    ~KOVATest();

    KOVATest(const KOVATest&) = delete;
    KOVATest& operator=(const KOVATest&) = delete;

    std::string push_msg(std::string strRid);
    std::string pull_msg(std::string strRid, int maxFetch, int maxWaitSeconds = 1);
    std::string pull_msg_async(std::string strRid, int maxFetch);
    void pull_msg_direct(std::string strRid, int maxFetch);
    std::string product_msg(std::string strRid, std::vector<std::string> msgs, int etype = 0);
    std::string product_msg_async(std::string strRid, std::vector<std::string> msgs, int etype = 0);

    std::string genMsg();
    std::string genMsg(KOVA::IMessage& data);
    std::string genMsg(KOVA::ConsumeStatusPtr cstatus);
    std::string genMsg(int retcode);

    std::string async_get();
    void async_set(KOVA::IMessage& m_img);
    void async_set(KOVA::ConsumeStatusPtr& cstatus);
    void async_set(int retcode);
    void async_clean();

private:
    KOVA::KOVAClientLib::KOVAClientLibPtr g_kovaCli;
    std::string strconfig;
    std::string strItem;
    kova::harness::ResultMailbox mailbox;
    bool push_consume_start;
    // What the client gets as this object's callback cookie (LiveObjects.h).
    void* const cookie;
};

// Push consumer: stores the message in the mailbox of the live KOVATest the cookie
// belongs to; returns 0 always (the message counts as consumed).
int ConsumerCb(void* cookie, const std::string& rid, const std::string& sid, KOVA::IMessage&& imsg);
// Asynchronous pull: stores the batch (and keeps it for the next commit).
void PullConsumerCb(const std::string& rid, const std::string& sid, KOVA::ConsumeStatusPtr cstatus, void* cookie);
// Asynchronous produce: stores the code.
void ProductCb(int ret, void* cookie);
