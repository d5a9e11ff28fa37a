#include "connection_peer.h"

namespace kova::test::standin {

ConnectionPeer peerOf(const Ice::ConnectionPtr& connection) {
    ConnectionPeer peer;
    if (!connection) return peer;
    try {
        for (Ice::ConnectionInfoPtr info = connection->getInfo(); info; info = info->underlying) {
            if (Ice::IPConnectionInfoPtr ip = Ice::IPConnectionInfoPtr::dynamicCast(info)) {
                peer.remoteAddress = ip->remoteAddress;
                peer.remotePort = ip->remotePort;
                peer.localAddress = ip->localAddress;
                peer.localPort = ip->localPort;
                break;
            }
        }
    } catch (const Ice::LocalException&) {
        // A connection closed under us has no info any more.
    }
    return peer;
}

}  // namespace kova::test::standin
