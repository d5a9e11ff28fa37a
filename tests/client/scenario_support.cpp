#include "scenario_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <thread>

namespace kova::test::client {

void check(bool condition, const std::string& what) {
    if (!condition) {
        std::fprintf(stderr, "SCENARIO FAILED: %s\n", what.c_str());
        std::fflush(stderr);
        std::_Exit(1);
    }
}

void announce(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void waitForQuit() {
    std::string line;
    while (std::getline(std::cin, line) && line != "quit") {
    }
}

std::vector<std::string> clientItems(const ScenarioArgs& args, const std::string& item,
                                     const std::vector<std::string>& extra) {
    std::vector<std::string> items{item + ".LogDir=" + args.at("log"), item + ".LogLevel=INFO",
                                   item + "Server.Proxy=" + args.at("agent"),
                                   // Required by the configuration check; a direct proxy ignores it.
                                   item + "Server.Proxy.Locator=TGrid/Locator:tcp -h 127.0.0.1 -p 9",
                                   "Ice.Default.InvocationTimeout=15000"};
    auto store = args.find("store");
    if (store != args.end()) {
        items.push_back(item + ".Fail.CacheDir=" + store->second);
        // 200 instead of 0 for a stored batch, so a stored batch is told apart
        // from a delivered one.
        items.push_back(item + ".Fail.EnableSucc=0");
    }
    items.insert(items.end(), extra.begin(), extra.end());
    return items;
}

KOVA::KOVAClientLibPtr requireClient(const ScenarioArgs& args, const std::vector<std::string>& extra) {
    KOVA::KOVAClientLibPtr client = KOVA::KOVAClientLib::GetInstance(clientItems(args, "scenario", extra), "scenario");
    check(client.get() != nullptr, "GetInstance returned null");
    return client;
}

std::vector<KOVA::OMessage> messages(const std::vector<std::string>& bodies) {
    std::vector<KOVA::OMessage> out;
    for (const std::string& body : bodies) {
        out.emplace_back(body, KOVA::COMMON::E_RAW);
    }
    return out;
}

bool logMentions(const std::string& logDir, const std::string& text) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(logDir)) {
        std::ifstream file(entry.path());
        const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (content.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

int threadsNamed(const std::string& name) {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string threadName;
        std::getline(comm, threadName);
        count += threadName == name ? 1 : 0;
    }
    return count;
}

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace kova::test::client
