// kova_agent: the stand-in agent as a process of its own.
//
//   kova_agent [-p PORT] [--callback-port PORT] [--locator PROXY --adapter-id ID]
//              [--auto-push] [--timeout-unit ms|s] [--push-settle-ms N] [--no-stdin]
//
// Prints one READY line (see control_commands.h) once both ports accept calls,
// then serves line commands from standard input. It ends on SIGTERM or SIGINT,
// on "quit", or when standard input closes; with --no-stdin only a signal ends
// it (for callers that cannot keep a pipe open).
#include "control_commands.h"

#include <Ice/Ice.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <string>

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) { stopRequested = true; }

struct Arguments {
    kova::test::standin::StandinAgentOptions options;
    bool readStdin = true;
};

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "kova_agent: " << problem << "\n"
              << "usage: kova_agent [-p PORT] [--callback-port PORT] [--locator PROXY --adapter-id ID]\n"
              << "                  [--auto-push] [--timeout-unit ms|s] [--push-settle-ms N] [--no-stdin]\n";
    std::exit(2);
}

Arguments parseArguments(int argc, char** argv) {
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage("missing value after " + arg);
            return argv[++i];
        };
        if (arg == "-p" || arg == "--port") {
            args.options.agentPort = std::stoi(value());
        } else if (arg == "--callback-port") {
            args.options.callbackPort = std::stoi(value());
        } else if (arg == "--locator") {
            args.options.locator = value();
        } else if (arg == "--adapter-id") {
            args.options.adapterId = value();
        } else if (arg == "--auto-push") {
            args.options.autoPush = true;
        } else if (arg == "--timeout-unit") {
            const std::string unit = value();
            if (unit != "ms" && unit != "s") usage("--timeout-unit takes ms or s");
            args.options.consumeTimeoutUnitMs = unit == "s" ? 1000 : 1;
        } else if (arg == "--push-settle-ms") {
            args.options.pushSettle = std::chrono::milliseconds(std::stoi(value()));
        } else if (arg == "--no-stdin") {
            args.readStdin = false;
        } else {
            usage("unknown argument " + arg);
        }
    }
    if (args.options.locator.empty() != args.options.adapterId.empty()) {
        usage("--locator and --adapter-id go together");
    }
    return args;
}

// Serves commands until quit, end of input or a signal.
void serveCommands(kova::test::standin::StandinAgent& agent, bool readStdin) {
    std::string pending;
    char buffer[4096];
    while (!stopRequested) {
        if (!readStdin) {
            ::poll(nullptr, 0, 100);
            continue;
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, 100);
        if (ready <= 0) continue;
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) return;  // end of input: the parent went away
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            kova::test::standin::ControlResult result = kova::test::standin::runControlCommand(agent, line);
            for (const auto& out : result.lines) std::cout << out << '\n';
            std::cout.flush();
            if (result.quit) return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args = parseArguments(argc, argv);
    // Before any thread exists, so that every later thread inherits the mask and
    // the signals reach the handler's own thread.
    Ice::CtrlCHandler ctrlC;
    ctrlC.setCallback(onSignal);
    try {
        kova::test::standin::StandinAgent agent(args.options);
        agent.start();
        std::cout << kova::test::standin::readyLine(agent) << std::endl;
        serveCommands(agent, args.readStdin);
        agent.stop();
    } catch (const std::exception& e) {
        std::cerr << "kova_agent: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
