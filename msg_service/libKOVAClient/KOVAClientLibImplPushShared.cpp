#include "KOVAClientLibImplPushShared.h"

namespace KOVA {
namespace push {

ConsumerEndpoint endpointOf(const ConsumerInfoPtr& info) {
    MutexLock lock(info->_mutex);
    return ConsumerEndpoint{info->_pxy, info->_cid};
}

void setProxy(const ConsumerInfoPtr& info, const KOVAAgentPrx& pxy) {
    MutexLock lock(info->_mutex);
    info->_pxy = pxy;
}

void setRegistration(const ConsumerInfoPtr& info, const std::string& cid, const std::string& sessionText) {
    MutexLock lock(info->_mutex);
    info->_cid = cid;
    info->_sid = sessionText;
}

std::string sessionTextOf(const std::string& rid, const KOVAAgentPrx& pxy) {
    const Ice::ConnectionPtr connection = pxy->ice_getConnection();
    for (Ice::ConnectionInfoPtr info = connection ? connection->getInfo() : Ice::ConnectionInfoPtr(); info;
         info = info->underlying) {
        Ice::IPConnectionInfoPtr ip = Ice::IPConnectionInfoPtr::dynamicCast(info);
        if (ip) {
            return rid + "-" + ip->localAddress + ":" + std::to_string(ip->localPort) + "<-" + ip->remoteAddress + ":" +
                   std::to_string(ip->remotePort);
        }
    }
    return rid + "-";
}

const char* statusName(KOVAConsumerStatus status) { return status == RUNNING ? "RUNNING" : "PAUSE"; }

}  // namespace push
}  // namespace KOVA
