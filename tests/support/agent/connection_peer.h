// The IP details of an Ice connection, whatever transport wraps them.
// Thread-safety: stateless; safe from any thread.
#pragma once

#include <Ice/Ice.h>

#include <string>

namespace kova::test::standin {

struct ConnectionPeer {
    std::string remoteAddress;
    int remotePort = 0;
    std::string localAddress;
    int localPort = 0;
};

// Walks `underlying` until the IP layer (SSL and WebSocket wrap it); empty for a
// null, closed or non-IP connection.
ConnectionPeer peerOf(const Ice::ConnectionPtr& connection);

}  // namespace kova::test::standin
