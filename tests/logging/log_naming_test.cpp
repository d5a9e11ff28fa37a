// Where the process logger puts its file. The logger is a process singleton, so each
// case runs in a forked child of a runner that never creates it itself.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "KOVALog.h"
#include "forked_child.h"
#include "log_files.h"
#include "log_reader.h"
#include "temp_dir.h"

namespace kova::test::logging {
namespace {

using fixtures::readLines;
using fixtures::RunForked;
using fixtures::TempDir;
using TQPublicTool::KOVALog;

enum class Env {
    Unset,
    Empty,
    Value
};

// Runs `body` in a child whose working directory is `cwd` and whose
// "envKovaLogPrefix" is as given; the child reports "ok" or what went wrong.
fixtures::ForkedResult InChild(const std::string& cwd, Env env, const std::function<std::string()>& body) {
    return RunForked([&]() -> std::string {
        if (chdir(cwd.c_str()) != 0) return "chdir failed";
        if (env == Env::Unset) unsetenv("envKovaLogPrefix");
        if (env == Env::Empty) setenv("envKovaLogPrefix", "", 1);
        if (env == Env::Value) setenv("envKovaLogPrefix", "qa7", 1);
        return body();
    });
}

void ExpectOneLineContaining(const std::string& file, const std::string& text) {
    const auto lines = readLines(file);
    ASSERT_EQ(lines.size(), 1u) << file;
    EXPECT_NE(lines[0].find(text), std::string::npos) << lines[0];
}

TEST(KOVALogNaming, EnvironmentPrefixWinsOverTheGivenPrefix) {
    TempDir dir;
    auto child = InChild(dir.path(), Env::Value, [&] {
        KOVALog::getLogInstance(dir.file("logs"), "app", "");  // no trailing slash, directory missing
        LOG_ERROR("first %s", "line");
        return std::string("ok");
    });
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.output, "ok");
    EXPECT_EQ(ListDir(dir.file("logs")), std::vector<std::string>{"qa7sdk-cpp.log"});
    ExpectOneLineContaining(dir.file("logs/qa7sdk-cpp.log"), "ERROR: first line");
}

TEST(KOVALogNaming, EmptyEnvironmentPrefixLeavesTheBareSuffix) {
    TempDir dir;
    auto child = InChild(dir.path(), Env::Empty, [&] {
        KOVALog::getLogInstance(dir.path().string() + "/", "app", "");
        LOG_FATAL("fatal line");
        return std::string("ok");
    });
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"sdk-cpp.log"});
    ExpectOneLineContaining(dir.file("sdk-cpp.log"), "FATAL: fatal line");
}

TEST(KOVALogNaming, WithoutEnvironmentThePrefixThenTheProcessIdNameTheFile) {
    TempDir dir;
    auto withPrefix = InChild(dir.path(), Env::Unset, [&] {
        KOVALog::getLogInstance(dir.file("p"), "app", "");
        LOG_WARN("warn line");
        LOG_INFO("below the default level");
        return std::string("ok");
    });
    ASSERT_TRUE(withPrefix.finished);
    EXPECT_EQ(ListDir(dir.file("p")), std::vector<std::string>{"appsdk-cpp.log"});
    ExpectOneLineContaining(dir.file("p/appsdk-cpp.log"), "WARN: warn line");

    auto withoutPrefix = InChild(dir.path(), Env::Unset, [&] {
        KOVALog::getLogInstance(dir.file("q"), "", "");
        LOG_ERROR("pid line");
        return std::string("ok");
    });
    ASSERT_TRUE(withoutPrefix.finished);
    const std::string expected = std::to_string(withoutPrefix.pid) + "sdk-cpp.log";
    EXPECT_EQ(ListDir(dir.file("q")), std::vector<std::string>{expected});
}

TEST(KOVALogNaming, ExplicitNameIsUsedUnchanged) {
    TempDir dir;
    auto child = InChild(dir.path(), Env::Value, [&] {
        KOVALog::getLogInstance(dir.path(), "app", "custom");
        LOG_ERROR("named");
        return std::string("ok");
    });
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"custom.log"});
}

TEST(KOVALogNaming, LaterCallsOfACreatedLoggerChangeNothing) {
    TempDir dir;
    auto child = InChild(dir.path(), Env::Unset, [&] {
        KOVALog* first = KOVALog::getLogInstance(dir.file("a"), "", "one");
        KOVALog* second = KOVALog::getLogInstance(dir.file("b"), "x", "two");
        if (first != second) return std::string("two loggers");
        LOG_ERROR("after the second call");
        return std::string("ok");
    });
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.output, "ok");
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"a"});
    ExpectOneLineContaining(dir.file("a/one.log"), "after the second call");
}

// A site that logs before anyone named the file must neither write at the
// file-system root nor keep the real logger from getting its place later.
TEST(KOVALogNaming, LoggerFromEmptyArgumentsWritesInTheWorkingDirectoryUntilRetargetedOnce) {
    TempDir dir;
    auto child = InChild(dir.path(), Env::Unset, [&] {
        LOG_ERROR("provisional");  // the site creates the logger from empty arguments
        KOVALog::getLogInstance(dir.file("real"), "app", "");
        LOG_ERROR("real");
        KOVALog::getLogInstance(dir.file("other"), "", "late");
        LOG_ERROR("still real");
        return std::string("ok");
    });
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.output, "ok");
    const std::string provisional = std::to_string(child.pid) + "sdk-cpp.log";
    const bool atRoot = PathExists("/" + provisional);
    if (atRoot) std::remove(("/" + provisional).c_str());
    EXPECT_FALSE(atRoot);
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{provisional, "real"}));
    ExpectOneLineContaining(dir.file(provisional), "provisional");
    const auto real = readLines(dir.file("real/appsdk-cpp.log"));
    ASSERT_EQ(real.size(), 2u);
    EXPECT_NE(real[0].find("ERROR: real"), std::string::npos);
    EXPECT_NE(real[1].find("ERROR: still real"), std::string::npos);
}

TEST(KOVALogNaming, ProvisionalLoggerIsRetargetedByANameAlone) {
    TempDir dir;
    auto child = InChild(dir.path(), Env::Unset, [&] {
        LOG_ERROR("provisional");
        KOVALog::getLogInstance("", "", "named");
        LOG_ERROR("named line");
        return std::string("ok");
    });
    ASSERT_TRUE(child.finished);
    ExpectOneLineContaining(dir.file("named.log"), "named line");
}

TEST(KOVALogNaming, ExplicitInitEndsTheProvisionalState) {
    TempDir dir;
    auto child = InChild(dir.path(), Env::Unset, [&] {
        KOVALog* log = KOVALog::getLogInstance();
        log->Log_Init(dir.file("chosen").c_str(), 1 << 20, 3, 0);
        KOVALog::getLogInstance(dir.file("late"), "app", "");
        LOG_ERROR("kept");
        return std::string("ok");
    });
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"chosen.log"});
}

// Eight threads released at once make the first call together; a creation that is not
// serialised hands out two loggers (or half-initialised one) in most rounds.
TEST(KOVALogNaming, ConcurrentFirstCallsCreateOneLogger) {
    TempDir dir;
    for (int round = 0; round < 20; ++round) {
        auto child = InChild(dir.path(), Env::Unset, [&] {
            std::vector<KOVALog*> seen(8, nullptr);
            std::atomic<bool> go{false};
            std::vector<std::thread> threads;
            for (size_t i = 0; i < seen.size(); ++i) {
                threads.emplace_back([&, i] {
                    while (!go.load()) {
                    }
                    seen[i] = KOVALog::getLogInstance(dir.path(), "", "race");
                });
            }
            go = true;
            for (auto& t : threads) t.join();
            for (KOVALog* log : seen) {
                if (log == nullptr || log != seen[0]) return std::string("different loggers");
            }
            return std::string("ok");
        });
        ASSERT_TRUE(child.finished);
        ASSERT_EQ(child.output, "ok") << "round " << round;
    }
}

}  // namespace
}  // namespace kova::test::logging
