// Local-address discovery against real interfaces: each case builds its own network
// namespace in a forked child (lo plus labelled addresses and veth pairs), so the
// host's own interfaces never matter. Nothing is sent.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sched.h>

#include "PublicTools.h"
#include "Tools.h"
#include "forked_child.h"

namespace kova::test::localaddr {
namespace {

struct Discovery {
    std::string skipReason;  // non-empty: the namespace could not be built here
    int result = 0;
    std::string address;
};

// In a child with a fresh network namespace: brings lo up, runs `setup` (ip commands),
// then asks for the local address with an output string that starts as "untouched".
Discovery DiscoverIn(const std::string& setup) {
    auto child = fixtures::RunForked([&setup]() -> std::string {
        if (unshare(CLONE_NEWNET) != 0) return std::string("SKIP unshare: ") + strerror(errno);
        const std::string script = "set -e; exec >/dev/null 2>&1; ip link set lo up; " + setup;
        if (system(script.c_str()) != 0) return "SKIP ip commands refused: " + setup;
        std::string viaTools = "untouched";
        const int toolsResult = Tools::GetLocalIP(viaTools);
        std::string viaPublic = "untouched";
        const int publicResult = TQPublicTool::GetLocalIP(viaPublic);
        if (toolsResult != publicResult || viaTools != viaPublic) {
            return "MISMATCH " + std::to_string(toolsResult) + " " + viaTools + " / " + std::to_string(publicResult) +
                   " " + viaPublic;
        }
        return std::to_string(toolsResult) + " " + viaTools;
    });
    Discovery found;
    if (!child.finished || child.exitCode != 0) {
        found.result = -99;
        found.address = "child failed: " + child.output;
        return found;
    }
    if (child.output.rfind("SKIP ", 0) == 0) {
        found.skipReason = child.output.substr(5);
        return found;
    }
    const size_t blank = child.output.find(' ');
    if (blank == std::string::npos || child.output.rfind("MISMATCH", 0) == 0) {
        found.result = -99;
        found.address = child.output;
        return found;
    }
    found.result = std::stoi(child.output.substr(0, blank));
    found.address = child.output.substr(blank + 1);
    return found;
}

struct Case {
    const char* name;
    const char* setup;  // ip commands in the child's namespace
    int result;
    const char* address;
};

// bare0 has index 10: its link-layer entry, read as if it were IPv4, would look
// like 10.0.0.0. 172.15/16 and 100.x look private by their first digits but are not.
const Case kCases[] = {
    {"OnlyLoopbackAndPublicAddressesGiveMinusOneAndLeaveTheOutput",
     "ip addr add 8.8.4.4/32 dev lo label lo:pub; ip addr add 100.64.0.1/32 dev lo label lo:cgn; "
     "ip addr add 172.32.0.1/32 dev lo label lo:above",
     -1, "untouched"},
    {"InterfacesNamedDockerAreSkipped",
     "ip addr add 172.17.0.1/16 dev lo label lo:docker0; ip addr add 10.1.2.3/8 dev lo label lo:eth0", 0, "10.1.2.3"},
    {"DockerAnywhereInTheNameIsSkipped", "ip addr add 10.5.5.5/32 dev lo label lo:mydocker1", -1, "untouched"},
    {"DockerOnlyInLowerCase", "ip addr add 10.6.6.6/32 dev lo label lo:Docker", 0, "10.6.6.6"},
    {"VethPeerNamedDockerIsSkippedWhateverItCarries",
     "ip link add veth0 type veth peer name docker9; ip addr add 10.9.9.9/24 dev docker9; "
     "ip addr add 8.8.8.8/32 dev veth0",
     -1, "untouched"},
    {"FirstAddressMatchingThePrivatePrefixesWins",
     "ip addr add 172.15.0.1/16 dev lo label lo:a; ip addr add 100.1.1.1/32 dev lo label lo:b; "
     "ip addr add 192.168.1.5/24 dev lo label lo:c; ip addr add 10.0.0.7/32 dev lo label lo:d",
     0, "192.168.1.5"},
    {"UpperEndOf172PrivateRange", "ip addr add 172.31.255.1/32 dev lo label lo:e", 0, "172.31.255.1"},
    {"InterfacesWithOnlyIPv6OrNoAddressGiveMinusOne",
     "ip link add bare0 index 10 type veth peer name v6a; ip link set v6a up; "
     "ip -6 addr add fd00::10/64 dev v6a nodad",
     -1, "untouched"},
    {"InterfacesWithOnlyIPv6OrNoAddressArePassedOver",
     "ip link add bare0 index 10 type veth peer name v6a; ip link set v6a up; "
     "ip -6 addr add fd00::10/64 dev v6a nodad; "
     "ip link add v4a type veth peer name v4b; ip addr add 192.168.9.9/24 dev v4a",
     0, "192.168.9.9"},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.setup; }

class LocalAddress : public ::testing::TestWithParam<Case> {};

TEST_P(LocalAddress, Discovers) {
    const Discovery found = DiscoverIn(GetParam().setup);
    if (!found.skipReason.empty()) GTEST_SKIP() << found.skipReason;
    EXPECT_EQ(found.result, GetParam().result);
    EXPECT_EQ(found.address, GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(Interfaces, LocalAddress, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kova::test::localaddr
