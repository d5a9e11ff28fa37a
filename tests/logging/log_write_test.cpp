// What the logger writes: line format, levels, echo, rotation, concurrent writers
// and directory creation. Each case points the process logger at its own files.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "KOVALog.h"
#include "log_files.h"
#include "log_reader.h"
#include "temp_dir.h"

namespace kova::test::logging {
namespace {

using fixtures::readLines;
using fixtures::TempDir;
using TQPublicTool::KOVALog;

// Groups 1 to 7: year, month, day, hour, minute, second, microseconds.
const std::string kDatePattern = R"(\[([0-9]{4})-([0-9]{2})-([0-9]{2}) ([0-9]{2}):([0-9]{2}):([0-9]{2}) ([0-9]{6})\] )";

class KOVALogWrite : public ::testing::Test {
protected:
    void SetUp() override {
        log_ = KOVALog::getLogInstance();
        previousLevel_ = log_->getLogLevel();
    }
    void TearDown() override { log_->setLogLevel(previousLevel_); }

    // Points the logger at `stem` in this case's directory.
    std::string Target(const std::string& name, long maxSize = 1 << 20, int show = 0) {
        const std::string stem = dir_.file(name);
        log_->Log_Init(stem.c_str(), maxSize, 3, show);
        return stem;
    }

    TempDir dir_;
    KOVALog* log_ = nullptr;
    KOVA::COMMON::elogLevel previousLevel_ = KOVA::COMMON::eLOG_LEVEL_WARN;
};

std::string HexThreadId() {
    char text[16];
    snprintf(text, sizeof text, "%x", static_cast<unsigned>(static_cast<unsigned long>(pthread_self())));
    return text;
}

TEST_F(KOVALogWrite, SiteLineHasDateSourcePidThreadFunctionLevelAndMessage) {
    const std::string stem = Target("format");
    log_->setLogLevel(KOVA::COMMON::eLOG_LEVEL_DEBUG);
    const int firstLine = __LINE__ + 1;
    LOG_FATAL("f %d", 1);
    LOG_ERROR("e %s", "two");
    LOG_WARN("w %05.1f", 3.25);
    LOG_INFO("i %c", '4');
    LOG_DEBUG("d%%");
    const time_t now = time(nullptr);

    const auto lines = readLines(stem + ".log");
    ASSERT_EQ(lines.size(), 5u);
    const char* const words[] = {"FATAL", "ERROR", "WARN", "INFO", "DEBUG"};
    const char* const messages[] = {"f 1", "e two", "w 003\\.2", "i 4", "d%"};  // ERE
    for (int i = 0; i < 5; ++i) {
        const std::string expected = kDatePattern + "log_write_test\\.cpp:" + std::to_string(firstLine + i) + "\\[" +
                                     std::to_string(getpid()) + " " + HexThreadId() + "\\]\\(TestBody\\) " + words[i] +
                                     ": " + messages[i];
        std::vector<std::string> match;
        ASSERT_TRUE(FullMatch(lines[i], expected, &match)) << lines[i];
        struct tm local;
        localtime_r(&now, &local);
        EXPECT_EQ(std::stoi(match[1]), local.tm_year + 1900);
        EXPECT_EQ(std::stoi(match[2]), local.tm_mon + 1);
    }
}

TEST_F(KOVALogWrite, LevelDecidesWhichSitesWriteAndSuppressedSitesEvaluateNothing) {
    const std::string stem = Target("levels");
    int evaluated = 0;
    auto count = [&evaluated] { return ++evaluated; };

    log_->setLogLevel(KOVA::COMMON::eLOG_LEVEL_WARN);
    LOG_WARN("warn %d", count());
    LOG_INFO("info %d", count());
    LOG_DEBUG("debug %d", count());
    EXPECT_EQ(evaluated, 1);

    log_->setLogLevel(KOVA::COMMON::eLOG_LEVEL_TRACE);
    LOG_DEBUG("debug at trace %d", count());
    EXPECT_EQ(evaluated, 2);

    const auto lines = readLines(stem + ".log");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("WARN: warn 1"), std::string::npos);
    EXPECT_NE(lines[1].find("DEBUG: debug at trace 2"), std::string::npos);
}

TEST_F(KOVALogWrite, LevelByNameKnowsOnlyTheTableNames) {
    log_->setLogLevel(KOVA::COMMON::eLOG_LEVEL_FATAL);
    log_->setLogLevel(std::string("warn"));
    EXPECT_EQ(log_->getLogLevel(), KOVA::COMMON::eLOG_LEVEL_WARN);
    log_->setLogLevel(std::string("TRACE"));
    EXPECT_EQ(log_->getLogLevel(), KOVA::COMMON::eLOG_LEVEL_TRACE);
    log_->setLogLevel(std::string("fatal"));
    EXPECT_EQ(log_->getLogLevel(), KOVA::COMMON::eLOG_LEVEL_FATAL);
    log_->setLogLevel(std::string("info"));
    for (const char* unknown : {"Warn", "WARNING", "", "3", " warn"}) {
        log_->setLogLevel(std::string(unknown));
        EXPECT_EQ(log_->getLogLevel(), KOVA::COMMON::eLOG_LEVEL_INFO) << unknown;
    }
}

// The echo and the file both consume the argument list; each needs its own copy.
TEST_F(KOVALogWrite, EchoedMessageIsFormattedTwiceFromTheSameArguments) {
    const std::string stem = Target("echo", 1 << 20, 1);
    testing::internal::CaptureStdout();
    log_->Log_Msg("echo %d %s %.2f", 7, "seven", 7.5);
    const std::string echoed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(FullMatch(echoed, kDatePattern + "echo 7 seven 7\\.50\n")) << echoed;
    const auto lines = readLines(stem + ".log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(FullMatch(lines[0], kDatePattern + "echo 7 seven 7\\.50")) << lines[0];
}

// Lines of exactly 60 bytes ("[" 26-byte date "] " + 30 + "\n") against a 100-byte limit.
TEST_F(KOVALogWrite, RotationAtTheLimitKeepsAtMostThreeFiles) {
    const std::string stem = Target("rot", 100);
    auto message = [](int i) {
        char text[31];
        snprintf(text, sizeof text, "line %04d %020d", i, 0);
        return std::string(text);
    };
    for (int i = 1; i <= 9; ++i) {
        log_->Log_Msg("%s", message(i).c_str());
        const auto files = ListDir(dir_.path());
        for (const auto& name : files) {
            EXPECT_TRUE(name == "rot.log" || name == "rot1.log" || name == "rot2.log") << name;
        }
        if (i % 2 == 1) {
            // An odd line starts a fresh file and stays under the limit.
            const auto current = readLines(stem + ".log");
            ASSERT_EQ(current.size(), 1u) << "after line " << i;
            EXPECT_EQ(current[0].size(), 59u);
            EXPECT_EQ(current[0].substr(29), message(i));
        } else {
            // An even line passes the limit and the pair moves to rot1.log.
            EXPECT_FALSE(PathExists(stem + ".log")) << "after line " << i;
            const auto rotated = readLines(stem + "1.log");
            ASSERT_EQ(rotated.size(), 2u);
            EXPECT_EQ(rotated[0].substr(29), message(i - 1));
            EXPECT_EQ(rotated[1].substr(29), message(i));
            if (i >= 4) {
                const auto older = readLines(stem + "2.log");
                ASSERT_EQ(older.size(), 2u);
                EXPECT_EQ(older[0].substr(29), message(i - 3));
            }
        }
    }
}

// Reaching the limit exactly counts as reaching it.
TEST_F(KOVALogWrite, FileThatReachesTheLimitExactlyIsRotated) {
    char stem[512];
    snprintf(stem, sizeof stem, "%s/exact", dir_.path().c_str());
    char error[128] = "";
    ASSERT_EQ(log_->Log_WriteLog(stem, 60, 3, error, "%030d", 0), 0) << error;  // 60 bytes
    EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"exact1.log"});
    ASSERT_EQ(log_->Log_WriteLog(stem, 61, 3, error, "%030d", 1), 0) << error;  // under 61
    EXPECT_EQ(ListDir(dir_.path()), (std::vector<std::string>{"exact.log", "exact1.log"}));
}

TEST_F(KOVALogWrite, ConcurrentWritersAcrossRotationsLeaveWholeOrderedLines) {
    const long limit = 4096;
    const std::string stem = Target("mt", limit);
    const int kThreads = 8;
    const int kLinesEach = 150;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([this, t] {
            for (int n = 0; n < kLinesEach; ++n) log_->Log_Msg("T%d N%03d %s", t, n, std::string(40, 'a' + t).c_str());
        });
    }
    for (auto& w : writers) w.join();

    EXPECT_LE(ListDir(dir_.path()).size(), 3u);
    const std::string whole = kDatePattern + R"(T([0-7]) N([0-9]{3}) ([a-h]{40}))";
    std::vector<int> lastSeen(kThreads, -1);
    size_t total = 0;
    for (const std::string& file : {stem + "2.log", stem + "1.log", stem + ".log"}) {  // oldest first
        if (!PathExists(file)) continue;
        struct stat st;
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_LT(st.st_size, limit + 100) << file;  // passes the limit by one line at most
        for (const auto& line : readLines(file)) {
            std::vector<std::string> match;
            ASSERT_TRUE(FullMatch(line, whole, &match)) << file << ": " << line;
            const size_t first = 8;  // after the date's groups
            const int thread = std::stoi(match[first]);
            ASSERT_EQ(match[first + 2], std::string(40, 'a' + thread)) << line;
            const int n = std::stoi(match[first + 1]);
            EXPECT_GT(n, lastSeen[thread]) << line;
            lastSeen[thread] = n;
            ++total;
        }
    }
    EXPECT_GT(total, 40u);  // the three files together hold at least two full ones
}

TEST_F(KOVALogWrite, StemIsCutTo199Characters) {
    const std::string longStem = dir_.path().string() + "/" + std::string(300, 's');
    log_->Log_Init(longStem.c_str(), 1 << 20, 3, 0);
    EXPECT_EQ(log_->getLogBaseName(), longStem.substr(0, 199));
}

TEST_F(KOVALogWrite, WriteCreatesMissingDirectoriesAndReportsAFileInTheWay) {
    char stem[512];
    snprintf(stem, sizeof stem, "%s/new dir/sub/app", dir_.path().c_str());
    char error[128] = "";
    EXPECT_EQ(log_->Log_WriteLog(stem, 1 << 20, 3, error, "created %d", 1), 0) << error;
    const auto lines = readLines(std::string(stem) + ".log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(29), "created 1");

    std::ofstream(dir_.file("plain"));  // a file where a directory would have to be
    snprintf(stem, sizeof stem, "%s/plain/sub/app", dir_.path().c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(log_->Log_WriteLog(stem, 1 << 20, 3, error, "lost"), -1);
    const std::string complaint = testing::internal::GetCapturedStderr();
    EXPECT_STREQ(error, "Fail to open log file");
    EXPECT_EQ(complaint, "Can't create dir[" + dir_.path().string() + "/plain/sub/]\n");
}

TEST(KOVALogMakeDir, BlanksAndShellCharactersAreJustCharacters) {
    TempDir dir;
    const std::string odd = dir.file("a b/$(touch pwned)/c;d|e&f'g\"h`id`/x*y");
    EXPECT_EQ(KOVALog::MakeDir(odd, true), 0);
    struct stat st;
    ASSERT_EQ(stat(odd.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_FALSE(PathExists("pwned"));
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"a b"});

    // A file path: only its directory part is made.
    EXPECT_EQ(KOVALog::MakeDir(dir.file("p q/r s/file.log"), false), 0);
    EXPECT_TRUE(PathExists(dir.file("p q/r s")));
    EXPECT_FALSE(PathExists(dir.file("p q/r s/file.log")));
}

TEST(KOVALogMakeDir, PathsLongerThan255CharactersAreCreatedWhole) {
    TempDir dir;
    std::string deep = dir.path();
    for (int i = 0; i < 8; ++i) deep += "/" + std::string(40, static_cast<char>('a' + i));
    ASSERT_GT(deep.size(), 255u);
    EXPECT_EQ(KOVALog::MakeDir(deep, true), 0);
    struct stat st;
    ASSERT_EQ(stat(deep.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(KOVALogMakeDir, FailuresGiveMinusOne) {
    TempDir dir;
    EXPECT_EQ(KOVALog::MakeDir("no-slash.log", false), -1);
    std::ofstream(dir.file("file"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(KOVALog::MakeDir(dir.file("file/sub"), true), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // a directory request fails quietly
    EXPECT_EQ(KOVALog::MakeDir(dir.path(), true), 0);       // an existing directory is fine
}

}  // namespace
}  // namespace kova::test::logging
