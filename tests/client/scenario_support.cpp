#include "scenario_support.h"

#include "client_items.h"
#include "log_reader.h"
#include "waits.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

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
    std::vector<std::string> items;
    auto store = args.find("store");
    if (store != args.end()) {
        items = {item + ".Fail.CacheDir=" + store->second, item + ".Fail.CacheMatch=" + args.at("match"),
                 item + ".Fail.EnableSucc=0"};
    }
    items.insert(items.end(), extra.begin(), extra.end());
    return engine::testClientItems(item, args.at("agent"), items);
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

bool logMentions(const std::string& text) {
    return fixtures::readLogs(engine::processLogDir()).find(text) != std::string::npos;
}

bool eventually(const std::function<bool()>& condition) {
    return engine::eventually(condition, std::chrono::seconds(20), std::chrono::milliseconds(5));
}

}  // namespace kova::test::client
