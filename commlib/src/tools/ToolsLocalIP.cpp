// Local address discovery: the first private IPv4 address among the host's
// interfaces, in the order the kernel lists them.
#include "Tools.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// Tested in this order; 172.16/12 is spelled out so that a plain text prefix test
// does the whole job.
const char* const kPrivatePrefixes[] = {
    "10.",     "192.168.", "172.16.", "172.17.", "172.18.", "172.19.", "172.20.", "172.21.", "172.22.",
    "172.23.", "172.24.",  "172.25.", "172.26.", "172.27.", "172.28.", "172.29.", "172.30.", "172.31.",
};

bool IsPrivateAddressText(const char* text) {
    for (const char* prefix : kPrivatePrefixes) {
        if (strncmp(text, prefix, strlen(prefix)) == 0) return true;
    }
    return false;
}

// Container bridges carry private addresses that mean nothing to the service.
bool IsContainerInterface(const char* name) { return name != nullptr && strstr(name, "docker") != nullptr; }

}  // namespace

int Tools::GetLocalIP(std::string& strLocalIP, bool /*el6*/) {
    struct ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        printf("getifaddrs error : %d\n", errno);
        return -1;
    }
    std::string found;
    for (struct ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (IsContainerInterface(entry->ifa_name)) continue;
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        char text[64] = {0};
        const struct in_addr& address = reinterpret_cast<struct sockaddr_in*>(entry->ifa_addr)->sin_addr;
        if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) continue;
        if (IsPrivateAddressText(text)) {
            found = text;
            break;
        }
    }
    freeifaddrs(interfaces);
    if (found.empty()) return -1;
    strLocalIP = found;
    return 0;
}
