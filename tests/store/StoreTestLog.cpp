// Sends the store's log lines of the whole test binary to a temporary directory.
#include <gtest/gtest.h>

#include "KOVALog.h"
#include "temp_dir.h"

namespace {

class LogToTempDir : public ::testing::Environment {
public:
    void SetUp() override { TQPublicTool::KOVALog::getLogInstance(_dir.path().string(), "store-test"); }

private:
    kova::test::fixtures::TempDir _dir{"kova-store-log"};
};

const ::testing::Environment* const gLogEnvironment = ::testing::AddGlobalTestEnvironment(new LogToTempDir);

}  // namespace
