#include "callback_recorders.h"

#include <stdexcept>

namespace kova::test::engine {

KOVA::PullConsumerCallback PullRecorder::callback() const {
    return
        [sink = sink()](const std::string& rid, const std::string& sid, KOVA::ConsumeStatusPtr status, void* cookie) {
            sink(PullCallback{rid, sid, status, cookie, std::this_thread::get_id()});
        };
}

std::function<void(int, void*)> CodeRecorder::callback() const {
    return [sink = sink()](int code, void* cookie) { sink(CodeCallback{code, cookie, std::this_thread::get_id()}); };
}

std::vector<CodeCallback> CodeRecorder::callsWith(size_t index) const {
    std::vector<CodeCallback> found;
    for (const CodeCallback& call : all()) {
        if (call.cookie == cookie(index)) found.push_back(call);
    }
    return found;
}

int CodeRecorder::code(size_t index) const {
    const std::vector<CodeCallback> found = callsWith(index);
    return found.empty() ? -1 : found.back().code;
}

int CodeRecorder::calls(size_t index) const { return static_cast<int>(callsWith(index).size()); }

std::thread::id CodeRecorder::thread(size_t index) const {
    const std::vector<CodeCallback> found = callsWith(index);
    return found.empty() ? std::thread::id() : found.back().thread;
}

void RecordingConsumer::script(std::vector<int> results) {
    std::lock_guard<std::mutex> lock(script_->mutex);
    script_->results = std::move(results);
}

KOVA::PushConsumerCallback RecordingConsumer::callback() const {
    return [sink = sink(), script = script_](void* cookie, const std::string& rid, const std::string& sid,
                                             KOVA::IMessage&& message) {
        sink(Received{cookie, rid, sid, message.Message()});
        int result = 0;
        {
            std::lock_guard<std::mutex> lock(script->mutex);
            if (!script->results.empty()) {
                result = script->results.front();
                script->results.erase(script->results.begin());
            }
        }
        if (result == -1) throw std::runtime_error("consumer refuses the message");
        return result;
    };
}

}  // namespace kova::test::engine
