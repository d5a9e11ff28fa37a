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

// The token with its stamp digits (at positions 2, 5, 8, ...) replaced by `stamp`.
std::string restamped(const std::string& token, const std::string& stamp) {
    const size_t oldDigits = token.size() - 32;
    std::string digest, out;
    for (size_t at = 0; at < token.size(); ++at) {
        if (at < 2 || (at - 2) % 3 != 0 || (at - 2) / 3 >= oldDigits) digest += token[at];
    }
    for (size_t at = 0, d = 0, s = 0; at < digest.size() + stamp.size(); ++at) {
        const bool stampHere = at >= 2 && (at - 2) % 3 == 0 && (at - 2) / 3 < stamp.size();
        out += stampHere ? stamp[s++] : digest[d++];
    }
    return out;
}

std::string plainToken(std::string p1, std::string p2, std::string key) {
    char token[33];
    EXPECT_EQ(CData().getToket(&p1[0], &p2[0], &key[0], token), 0);
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
    EXPECT_NE(plainToken("ab", "c", ""), plainToken("a", "bc", ""));  // a byte moved between the texts
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
    const std::string real = stampedToken("12345", "room", key);
    std::string stamp;
    for (size_t at = 2; stamp.size() < real.size() - 32; at += 3) stamp += real[at];
    const std::string shifted = restamped(real, stamp + "1");  // p1 "2345", the stamp one digit longer
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
