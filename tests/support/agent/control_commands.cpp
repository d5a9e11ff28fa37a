#include "control_commands.h"

#include <algorithm>
#include <sstream>

namespace kova::test::standin {

namespace {

std::string clean(std::string value) {
    std::replace(value.begin(), value.end(), '\t', ' ');
    std::replace(value.begin(), value.end(), '\n', ' ');
    std::replace(value.begin(), value.end(), '\r', ' ');
    return value;
}

std::string field(const std::string& key, const std::string& value) { return "\t" + key + "=" + clean(value); }

const char* outcomeName(CallOutcome outcome) {
    switch (outcome) {
        case CallOutcome::Pending: return "pending";
        case CallOutcome::Answered: return "answered";
        case CallOutcome::Closed: return "closed";
        case CallOutcome::Dropped: return "dropped";
    }
    return "unknown";
}

std::string callLine(const AgentCall& call) {
    std::string line = "CALL";
    line += field("op", opName(call.op));
    line += field("rid", call.resource);
    line += field("sid", call.sid);
    line += field("cid", call.cid);
    line += field("peer", call.peerAddress + ":" + std::to_string(call.peerPort));
    line += field("outcome", outcomeName(call.outcome));
    line += field("code", std::to_string(call.code));
    line += field("msgs", std::to_string(call.messageCount));
    line += field("count", std::to_string(call.count));
    line += field("timeout", std::to_string(call.timeout));
    line += field("status", std::to_string(call.status));
    line += field("offset", std::to_string(call.commit.offset));
    line += field("delay", std::to_string(call.delay));
    line += field("listener", call.listener);
    for (const auto& [key, value] : call.context) line += field("ctx." + key, value);
    return line;
}

std::string pushLine(const PushRecord& push) {
    std::string line = "PUSH";
    line += field("rid", push.resource);
    line += field("cid", push.cid);
    line += field("sid", push.sid);
    line += field("kind", push.kind == PushKind::ConsumeMessage ? "consume_message" : "on_message");
    line += field("by", push.byIdentity ? "identity" : "proxy");
    line += field("msgs", std::to_string(push.messageCount));
    line += field("answered", push.answered ? "1" : "0");
    line += field("reply", std::to_string(push.reply));
    line += field("error", push.error);
    return line;
}

std::string registrationLine(const ListenerRegistration& reg) {
    std::string line = "REG";
    line += field("rid", reg.resource);
    line += field("cid", reg.cid);
    line += field("sid", reg.sid);
    line += field("by", reg.byIdentity ? "identity" : "proxy");
    line += field("identity", reg.identity.category + "/" + reg.identity.name);
    line += field("paused", reg.paused ? "1" : "0");
    line += field("keepalive", reg.lastKeepAlive ? "1" : "0");
    line += field("registrations", std::to_string(reg.registrations));
    return line;
}

KOVAMsg::KOVABatchMessage makeMessages(int count, const std::string& body) {
    KOVAMsg::KOVABatchMessage messages;
    for (int i = 0; i < count; ++i) {
        KOVAMsg::KOVAMessage message{};
        const std::string text = body.empty() ? "m" + std::to_string(i) : body;
        message.message.assign(text.begin(), text.end());
        messages.push_back(std::move(message));
    }
    return messages;
}

std::vector<Ice::Long> parseLongList(const std::string& text) {
    std::vector<Ice::Long> values;
    if (text == "-") return values;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) values.push_back(std::stoll(item));
    return values;
}

const char* kHelp =
    "code <op> <n>...|delay <op> <n>|delay_cycle <op> <n,n,...|->|sleep <op> <ms>|hold <op> [calls]|"
    "close <op> [calls]|release|held|preload <rid> <count> [body]|push <rid> <count> [body]|calls [op]|"
    "count <op>|pushes|registrations|committed <rid>|clear|reset_script|restart|ready|quit";

ControlResult ok(const std::string& value = std::string()) {
    return ControlResult{{value.empty() ? "OK" : "OK " + value}, false};
}

ControlResult err(const std::string& reason) { return ControlResult{{"ERR " + reason}, false}; }

ControlResult listing(std::vector<std::string> lines) {
    lines.push_back("END");
    return ControlResult{std::move(lines), false};
}

}  // namespace

std::string readyLine(const StandinAgent& agent) {
    std::string line = "READY";
    line += field("agent", agent.agentProxyString());
    line += field("callback", agent.callbackProxyString());
    line += field("agent_port", std::to_string(agent.agentPort()));
    line += field("callback_port", std::to_string(agent.callbackPort()));
    return line;
}

ControlResult runControlCommand(StandinAgent& agent, const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    if (!(in >> verb)) return err("empty command");
    std::vector<std::string> args;
    for (std::string word; in >> word;) args.push_back(word);

    auto needOp = [&](size_t index) -> std::optional<AgentOp> {
        return index < args.size() ? parseOp(args[index]) : std::nullopt;
    };
    try {
        if (verb == "help") return ok(kHelp);
        if (verb == "quit") return ControlResult{{"OK"}, true};
        if (verb == "ready") return ControlResult{{readyLine(agent)}, false};
        if (verb == "release") return ok(std::to_string(agent.releaseHeld()));
        if (verb == "held") return ok(std::to_string(agent.heldCount()));
        if (verb == "clear") {
            agent.clearRecords();
            return ok();
        }
        if (verb == "reset_script") {
            agent.script().clear();
            return ok();
        }
        if (verb == "restart") {
            agent.restart();
            return ControlResult{{readyLine(agent)}, false};
        }
        if (verb == "pushes") {
            std::vector<std::string> lines;
            for (const auto& push : agent.pushes()) lines.push_back(pushLine(push));
            return listing(std::move(lines));
        }
        if (verb == "registrations") {
            std::vector<std::string> lines;
            for (const auto& reg : agent.registrations()) lines.push_back(registrationLine(reg));
            return listing(std::move(lines));
        }
        if (verb == "calls") {
            std::optional<AgentOp> op = needOp(0);
            if (!args.empty() && !op) return err("unknown operation " + args[0]);
            std::vector<std::string> lines;
            for (const auto& call : op ? agent.calls(*op) : agent.calls()) lines.push_back(callLine(call));
            return listing(std::move(lines));
        }
        if (verb == "committed") {
            if (args.size() != 1) return err("usage: committed <rid>");
            auto offset = agent.committedOffset(args[0]);
            return ok(offset ? std::to_string(*offset) : "none");
        }
        if (verb == "preload" || verb == "push") {
            if (args.size() < 2) return err("usage: " + verb + " <rid> <count> [body]");
            auto messages = makeMessages(std::stoi(args[1]), args.size() > 2 ? args[2] : std::string());
            if (verb == "push") {
                agent.push(args[0], std::move(messages));
            } else {
                agent.preload(args[0], messages);
            }
            return ok();
        }
        std::optional<AgentOp> op = needOp(0);
        if (!op) return err(args.empty() ? "missing operation" : "unknown operation " + args[0]);
        if (verb == "count") return ok(std::to_string(agent.callCount(*op)));
        if (verb == "code" && args.size() >= 2) {
            for (size_t i = 1; i < args.size(); ++i) agent.script().nextCode(*op, std::stoi(args[i]));
            return ok();
        }
        if (verb == "delay" && args.size() == 2) {
            agent.script().nextDelay(*op, std::stoll(args[1]));
            return ok();
        }
        if (verb == "delay_cycle" && args.size() == 2) {
            agent.script().delayCycle(*op, parseLongList(args[1]));
            return ok();
        }
        if (verb == "sleep" && args.size() == 2) {
            agent.script().nextSleep(*op, std::chrono::milliseconds(std::stoll(args[1])));
            return ok();
        }
        if (verb == "hold" || verb == "close") {
            const int calls = args.size() > 1 ? std::stoi(args[1]) : 1;
            if (verb == "hold") {
                agent.script().holdNext(*op, calls);
            } else {
                agent.script().closeNext(*op, calls);
            }
            return ok();
        }
        return err("unknown command or wrong arguments: " + line);
    } catch (const std::exception& e) {
        return err(clean(e.what()));
    }
}

}  // namespace kova::test::standin
