// Adapter behaviour that is process-wide (the logger, the process client id), seen
// from fresh probe processes.
#include <pwd.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adapter_fixture.h"

namespace kova::test::adapter {
namespace {

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

struct ProbeRun {
    int exitCode = -1;
    std::vector<std::string> clientIds;
    std::map<std::string, std::string> values;  // last value of every other key
};

// Runs `prefix` (environment settings, wrappers) followed by the probe and its
// arguments, and parses its "key=value" lines. Lines of other shapes are ignored.
ProbeRun RunProbe(const std::string& prefix, const std::vector<std::string>& args) {
    std::string command = prefix + " " + ShellQuote(ADAPTER_PROBE_PATH);
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    command += " 2>/dev/null";

    ProbeRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char line[4096];
    while (fgets(line, sizeof(line), pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const std::string::size_type eq = text.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = text.substr(0, eq);
        if (key == "clientid") run.clientIds.push_back(text.substr(eq + 1));
        else run.values[key] = text.substr(eq + 1);
    }
    const int status = pclose(pipe);
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    return run;
}

std::vector<std::string> ValidList(const std::vector<std::string>& extra) {
    std::vector<std::string> args{"list", "c1", std::string("c1Server.Proxy=") + kAgentX,
                                  std::string("c1Server.Proxy.Locator=") + kLocatorL};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

bool CommandSucceeds(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace

TEST(ProcessLog, PasswordsAreMaskedAndWrittenKeysLogged) {
    TempDir dir;
    const ProbeRun run =
        RunProbe("env -u envKovaLogPrefix",
                 ValidList({"c1.LogDir=" + dir.str(), "c1.Router.User=bob", "c1.Router.Password=s3cret-adapter",
                            "Ice.Default.Router.Password=s3cret-default", "c1SeparateRes.List=rNone"}));
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.clientIds.size(), 1u);

    const std::string log = readLogs(dir.str());
    const std::string prefix = "WARN: [INFO] client:`" + run.clientIds[0] + "' config:`--";
    EXPECT_EQ(log.find("s3cret"), std::string::npos);
    EXPECT_EQ(countOccurrences(log, prefix + "c1.Router.Password=******'"), 1u);
    EXPECT_EQ(countOccurrences(log, prefix + "Ice.Default.Router.Password=******'"), 1u);
    EXPECT_EQ(countOccurrences(log, prefix + "c1.Router.User=bob'"), 1u);
    EXPECT_EQ(countOccurrences(log, prefix + "rNone=" + kAgentX + "'"), 1u);
    EXPECT_EQ(countOccurrences(log, prefix + "rNone.Locator=" + kLocatorL + "'"), 1u);
    EXPECT_EQ(countOccurrences(log, prefix + "Ice.MessageSizeMax=0'"), 1u);
}

TEST(ProcessLog, LogNameGetsThePidAndExpandsVariables) {
    TempDir dir;
    const ProbeRun run = RunProbe("env KOVA_T_LOGDIR=" + ShellQuote(dir.str()) + " KOVA_T_APP=app",
                                  ValidList({"c1.LogDir=${KOVA_T_LOGDIR}/sub", "c1.LogName=${KOVA_T_APP}"}));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.values.at("logstem"), dir.str() + "/sub/app." + run.values.at("pid"));
    EXPECT_NE(readFile(run.values.at("logstem") + ".log").find("config:`--c1.LogName=${KOVA_T_APP}'"),
              std::string::npos);
}

TEST(ProcessLog, LoggerStartsEvenWhenAListItemIsBad) {
    TempDir dir;
    ProbeRun run = RunProbe("", ValidList({"c1.LogDir=" + dir.str(), "c1.LogName=bad", "Broken"}));
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.values["error"], "Invalid config for item:Broken");
    EXPECT_EQ(run.values["logstem"], dir.str() + "/bad." + run.values["pid"]);
}

TEST(ProcessLog, EmptyLogDirMeansHomeKovaLogs) {
    TempDir home;
    const ProbeRun run = RunProbe("env -u envKovaLogPrefix HOME=" + ShellQuote(home.str()), ValidList({}));
    ASSERT_EQ(run.exitCode, 0);
    const std::string stem = home.str() + "/kovalogs/kova-cpp/" + run.values.at("pid") + "-KOVAClient_kovasdk-cpp";
    EXPECT_EQ(run.values.at("logstem"), stem);
    EXPECT_NE(readFile(stem + ".log").find("config:`--c1Server.Proxy="), std::string::npos);
}

TEST(ProcessLog, NoHomeAndNoUserEntryFallsBackToTmp) {
    const uid_t stranger = 54321;
    if (geteuid() != 0 || getpwuid(stranger) != nullptr || !CommandSucceeds("command -v setpriv")) {
        GTEST_SKIP() << "needs root, setpriv and a uid without a user entry";
    }
    const std::string as = "env -u HOME -u envKovaLogPrefix setpriv --reuid=54321 --regid=54321 --clear-groups";
    if (RunProbe(as, {}).exitCode != 2) GTEST_SKIP() << "the probe cannot run as uid 54321 here";
    const ProbeRun run = RunProbe(as, ValidList({}));
    ASSERT_EQ(run.exitCode, 0);
    const std::string stem = "/tmp/kovalogs/kova-cpp/" + run.values.at("pid") + "-KOVAClient_kovasdk-cpp";
    EXPECT_EQ(run.values.at("logstem"), stem);
    std::remove((stem + ".log").c_str());
}

// Only without a private address can a second build append its pid to the
// id the first one left (with one, the address overwrites it): a network
// namespace with nothing but loopback, both forms.
TEST(ProcessClientId, NoPrivateAddressGivesDashPidWithoutGrowthInBothForms) {
    if (geteuid() != 0 || !CommandSucceeds("unshare -n true")) GTEST_SKIP() << "unshare -n refused here";
    TempDir dir;
    dir.write("client.cfg", std::string("c1Server.Proxy=") + kAgentX + "\nc1Server.Proxy.Locator=" + kLocatorL +
                                "\nc1.LogDir=" + dir.str() + "\n");
    const std::vector<std::string> forms[] = {ValidList({"c1.LogDir=" + dir.str()}),
                                              {"file", "c1", dir.file("client.cfg")}};
    for (const std::vector<std::string>& args : forms) {
        const ProbeRun run = RunProbe("PROBE_BUILDS=2 unshare -n", args);
        ASSERT_EQ(run.exitCode, 0) << args[0];
        ASSERT_EQ(run.clientIds.size(), 2u) << args[0];
        for (const std::string& id : run.clientIds) EXPECT_EQ(id, "-" + run.values.at("pid")) << args[0];
    }
}

}  // namespace kova::test::adapter
