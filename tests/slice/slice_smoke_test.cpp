#include <KOVAMessageService.h>
#include <gtest/gtest.h>

TEST(SliceSmoke, RecordsValueInitialise) {
    KOVA::ConsumeResultInfo info{};
    EXPECT_EQ(info.code, 0);
    EXPECT_EQ(info.commit.type, KOVA::StateNone);
    EXPECT_FALSE(info.callback);
}
