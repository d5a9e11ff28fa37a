// ${NAME} expansion and secret masking of the client configuration. Item
// splitting and the flush-mode prefix are covered through the adapter
// (adapter_config_test: ListForm, FailStore).
#include <stdlib.h>

#include <gtest/gtest.h>

#include "KOVAClientAdapter.h"
#include "KOVAConfigText.h"

namespace kova::test::adapter {
namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : _name(name) {
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedEnv() { unsetenv(_name); }

private:
    const char* _name;
};

}  // namespace

TEST(TransConfigWithVar, ReplacesReferencesByEnvironmentValues) {
    ScopedEnv a("KOVA_T_A", "alpha");
    ScopedEnv b("KOVA_T_B", "beta");
    ScopedEnv unset("KOVA_T_UNSET", nullptr);

    EXPECT_EQ(KOVA::TransConfigWithVar(""), "");
    EXPECT_EQ(KOVA::TransConfigWithVar("/plain/path"), "/plain/path");
    EXPECT_EQ(KOVA::TransConfigWithVar("${HOME}/logs"), std::string(getenv("HOME")) + "/logs");
    EXPECT_EQ(KOVA::TransConfigWithVar("${KOVA_T_UNSET}x"), "x");
    EXPECT_EQ(KOVA::TransConfigWithVar("a${KOVA_T_A}b${KOVA_T_B}"), "aalphabbeta");
    EXPECT_EQ(KOVA::TransConfigWithVar("${KOVA_T_A}-${KOVA_T_A}"), "alpha-alpha");
    // Unterminated references stay as they are.
    EXPECT_EQ(KOVA::TransConfigWithVar("x${KOVA_T_A"), "x${KOVA_T_A");
    EXPECT_EQ(KOVA::TransConfigWithVar("${KOVA_T_A}/${"), "alpha/${");
}

TEST(TransConfigWithVar, SpecialCharactersPassVerbatim) {
    // Endpoints, format escapes and regex metacharacters in values and around them.
    ScopedEnv ep("KOVA_T_EP", "tcp -h 127.0.0.1 -p 1:$1 $& \\1 (?1x) ${KOVA_T_A}");
    ScopedEnv a("KOVA_T_A", "alpha");
    EXPECT_EQ(KOVA::TransConfigWithVar("[${KOVA_T_EP}]"), "[tcp -h 127.0.0.1 -p 1:$1 $& \\1 (?1x) ${KOVA_T_A}]");
    EXPECT_EQ(KOVA::TransConfigWithVar("c:\\dir$(x)/${KOVA_T_A}"), "c:\\dir$(x)/alpha");
    EXPECT_EQ(KOVA::TransConfigWithVar("${KOVA (T}z"), "z");
}

TEST(MaskSecretOption, HidesValuesOfPasswordKeysOnly) {
    EXPECT_EQ(KOVA::MaskSecretOption("--Ice.Default.Router.Password=hunter2"), "--Ice.Default.Router.Password=******");
    EXPECT_EQ(KOVA::MaskSecretOption("--c1.Router.Password=a=b"), "--c1.Router.Password=******");
    EXPECT_EQ(KOVA::MaskSecretOption("--c1.Router.User=bob"), "--c1.Router.User=bob");
    EXPECT_EQ(KOVA::MaskSecretOption("--c1.PasswordHint=x"), "--c1.PasswordHint=x");
    EXPECT_EQ(KOVA::MaskSecretOption("--c1.Router.Password="), "--c1.Router.Password=");
}

}  // namespace kova::test::adapter
