#include "LogCapture.h"

#include "KOVALog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace model_test {

namespace {

class LogDirectory : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/kova-model-log-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        // The first request creates the logger, so it lands here and nowhere else.
        TQPublicTool::KOVALog::getLogInstance(dir, "", "model")->setLogLevel(KOVA::COMMON::eLOG_LEVEL_WARN);
        file = dir + "/model.log";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string dir;
    std::string file;
    std::streamoff consumed = 0;
};

LogDirectory* const environment =
    static_cast<LogDirectory*>(::testing::AddGlobalTestEnvironment(new LogDirectory));

}  // namespace

std::string LogCapture::NewText() {
    std::ifstream in(environment->file, std::ios::binary);
    if (!in) return std::string();
    in.seekg(0, std::ios::end);
    std::streamoff end = in.tellg();
    if (end < environment->consumed) environment->consumed = 0;  // rotated underneath us
    in.seekg(environment->consumed);
    std::string text(static_cast<size_t>(end - environment->consumed), '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    environment->consumed = end;
    return text;
}

int LogCapture::CountLines(const std::string& text, const std::string& needle) {
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find(needle) != std::string::npos) ++count;
    }
    return count;
}

}  // namespace model_test
