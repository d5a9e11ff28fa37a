// For callers of the server toolkit (kova_toolkit).
// IpLimit: an allow table of IPv4 addresses, keyed by the address in network byte
// order as inet_addr returns it. Entries are only ever added.
//
// Thread safety: none; the owner serialises setters against each other and against
// readers. Ownership: plain value type, owns its map.
#pragma once

#include <map>

class IpLimit {
public:
    IpLimit() = default;

    // Allows the dotted address sIP. -1 (table unchanged) when inet_addr cannot parse
    // it, which includes 255.255.255.255 (equal to the parser's error value); else 0.
    int SetIPLimit(const char* sIP);
    // Allows the address lIP (network byte order). Always 0.
    int SetIPLimit(unsigned long lIP);
    // 1 when the dotted address sIP is allowed; 0 when it is not or cannot be parsed.
    int GetIPLimit(const char* sIP);
    // The flag of lIP, 0 when it has none.
    int GetIPLimit(unsigned long lIP);

private:
    std::map<unsigned long, int> d_mIpLimitTable;
};
