#include "IpLimit.h"

#include <arpa/inet.h>

int IpLimit::SetIPLimit(const char* sIP) {
    const in_addr_t address = sIP != nullptr ? inet_addr(sIP) : INADDR_NONE;
    if (address == INADDR_NONE) return -1;
    return SetIPLimit(static_cast<unsigned long>(address));
}

int IpLimit::SetIPLimit(unsigned long lIP) {
    d_mIpLimitTable[lIP] = 1;
    return 0;
}

int IpLimit::GetIPLimit(const char* sIP) {
    const in_addr_t address = sIP != nullptr ? inet_addr(sIP) : INADDR_NONE;
    if (address == INADDR_NONE) return 0;
    return GetIPLimit(static_cast<unsigned long>(address));
}

int IpLimit::GetIPLimit(unsigned long lIP) {
    const auto found = d_mIpLimitTable.find(lIP);
    return found == d_mIpLimitTable.end() ? 0 : found->second;
}
