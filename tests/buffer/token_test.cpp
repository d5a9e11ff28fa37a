// Access tokens: stable, verifiable, and bounded whatever the lengths of their inputs.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "CData.h"

namespace kova::test::buffer {
namespace {

std::string stampedToken(std::string p1, std::string p2, std::string key) {
    char token[64];
    EXPECT_EQ(CData().getToket2(&p1[0], &p2[0], &key[0], token), 0);
    return token;
}

bool verifies(std::string p1, std::string p2, std::string key, std::string token) {
    return CData().verToket2(&p1[0], &p2[0], &key[0], &token[0]);
}

TEST(Tokens, PlainTokenIsStableUpperCaseHexAndAnyKeyLengthIsSafe) {
    std::string p1(300, 'p'), p2 = "two", key(1000, 'k');
    char first[33], second[33];
    CData data;
    ASSERT_EQ(data.getToket(&p1[0], &p2[0], &key[0], first), 0);
    ASSERT_EQ(data.getToket(&p1[0], &p2[0], &key[0], second), 0);
    EXPECT_STREQ(first, second);
    ASSERT_EQ(strlen(first), 32u);
    for (const char* c = first; *c; ++c) EXPECT_TRUE(isdigit(*c) || (*c >= 'A' && *c <= 'F')) << first;
    std::string otherKey = key + "x";
    data.getToket(&p1[0], &p2[0], &otherKey[0], second);
    EXPECT_STRNE(first, second);
    char ab[] = "ab", c[] = "c", a[] = "a", bc[] = "bc", none[] = "";  // a byte moved from p1 to p2
    data.getToket(ab, c, none, first);
    data.getToket(a, bc, none, second);
    EXPECT_STRNE(first, second);
}

TEST(Tokens, StampedTokenVerifiesOnlyForItsOwnInputs) {
    const std::string key(600, 'k');
    const std::string token = stampedToken("alice", "room", key);
    ASSERT_EQ(token.size(), 32u + std::to_string(time(nullptr)).size());
    std::string upper = token, digitChanged = token;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    const size_t hexAt = token.find_first_of("abcdef");
    ASSERT_NE(hexAt, std::string::npos);
    digitChanged[hexAt] = digitChanged[hexAt] == 'a' ? 'b' : 'a';
    // p1 "2345" with the stamp one digit longer: its eleventh digit goes to position 32.
    std::string shifted = stampedToken("12345", "room", key);
    shifted.insert(32, 1, '1');
    struct Case {
        const char* name;
        std::string p1, token;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"same inputs", "alice", token, true},
        {"upper case", "alice", upper, true},
        {"one digest digit changed", "alice", digitChanged, false},
        {"other p1", "bob", token, false},
        {"a digit of p1 moved into the stamp", "2345", shifted, false},
        {"38 characters", "alice", token.substr(0, 38), false},
        {"46 characters", "alice", token + "0123", false},
    };
    for (const Case& c : cases) EXPECT_EQ(verifies(c.p1, "room", key, c.token), c.valid) << c.name;
}

}  // namespace
}  // namespace kova::test::buffer
