// ReplaceString ends soon on every rule, and a growing rule is refused before its text takes
// more memory than the output limit allows. A binary of its own: it counts allocations.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "Tools.h"
#include "largest_allocation.h"

namespace kova::test::toolkit {
namespace {

struct ReplaceCase {
    const char* name;
    std::string text;
    const char* from;
    std::string to;
    int result;
    std::string after;
};

TEST(ToolkitReplace, EveryRuleEndsAndGrowthIsBounded) {
    const std::string commas((1u << 20) + 1, ','), growing = std::string(40, 'a') + "b";
    const std::string aThenB = std::string(1u << 15, 'a') + std::string(1u << 15, 'b');
    const std::string a4096(4096, 'a'), a65536(1u << 16, 'a'), b65536(1u << 16, 'b');
    const std::string a4096b = a4096 + "b", a65536b = a65536 + "b";
    const ReplaceCase cases[] = {
        {"one-byte rule", "hello world", "o", "0", 0, "hell0 w0rld"},
        {"searching again from the start", "abb", "ab", "a", 0, "a"},
        {"equal length", "bbbaaa", "ba", "ab", 0, "aaabbb"},
        {"replacement holds what it replaces", "aaa", "a", "aa", -1, "aaa"},
        {"nothing to replace", "xyz", "a", "aa", 0, "xyz"},
        {"empty search text", "abc", "", "x", -1, "abc"},
        {"2^20 + 1 equal-length replacements", commas, ",", ";", 0, std::string(commas.size(), ';')},
        // Each "a" moving right multiplies the b's by 100 000: refused near the limit.
        {"growing", growing, "ab", std::string(100000, 'b') + "a", -1, growing},
        // Every "a" passes every "b": 2^30 replacements, far past the work allowed.
        {"re-forming its own pattern", aThenB, "ab", "ba", -1, aThenB},
        {"every b passes every a", std::string(2048, 'b') + std::string(2048, 'a'), "ba", "ab", 0,
         std::string(2048, 'a') + std::string(2048, 'b')},
        {"each a doubles the b's after it", std::string(21, 'a') + "b", "ab", "bba", 0,
         std::string(1u << 21, 'b') + std::string(21, 'a')},
        {"a 4 KiB pattern passing 2^16 b's", a4096 + b65536, a4096b.c_str(), "b" + a4096, 0, b65536 + a4096},
        // Each of the 2^16 steps moves 64 KiB: past the work allowed.
        {"a 64 KiB pattern passing 2^16 b's", a65536 + b65536, a65536b.c_str(), "b" + a65536, -1, a65536 + b65536},
    };
    Tools tools;
    for (const ReplaceCase& c : cases) {
        std::string text = c.text;
        fixtures::resetLargestAllocation();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.result, tools.ReplaceString(text, c.from, c.to.c_str())) << c.name;
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 30) << c.name;
        EXPECT_TRUE(c.after == text) << c.name;
        EXPECT_LE(fixtures::largestAllocation(), 2 * Tools::kReplaceOutputLimit) << c.name;
    }
}

}  // namespace
}  // namespace kova::test::toolkit
