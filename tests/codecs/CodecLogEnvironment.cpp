// Sends the log lines of every codec test binary to a temp directory (see
// CodecLogFile), so failure paths leave no files behind in the build tree.
#include <gtest/gtest.h>

#include "CodecTestSupport.h"

namespace {

class CodecLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { codec_test::CodecLogFile(); }
};

::testing::Environment* const kCodecLogEnvironment = ::testing::AddGlobalTestEnvironment(new CodecLogEnvironment);

}  // namespace
