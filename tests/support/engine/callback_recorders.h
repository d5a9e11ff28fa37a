// Recorders of the engine's asynchronous callbacks: pulls, produce and commit
// completions, and push consumers. Each callback handed out records into state
// it keeps alive (see call_recorder.h), so a late call after a failed test is
// harmless.
// Thread-safety: every member is safe from any thread; the callbacks run on
// whatever thread the engine calls them from.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KOVAClientLibImpl.h"
#include "call_recorder.h"

namespace kova::test::engine {

// What one asynchronous pull callback received.
struct PullCallback {
    std::string rid;
    std::string sid;
    KOVA::ConsumeStatusPtr status;
    void* cookie = nullptr;
    std::thread::id thread;
};

class PullRecorder : public kova::test::fixtures::CallRecorder<PullCallback> {
public:
    KOVA::PullConsumerCallback callback() const;
};

// One call of a `void(int code, void* cookie)` callback: a produce or commit
// completion.
struct CodeCallback {
    int code = -1;
    void* cookie = nullptr;
    std::thread::id thread;
};

// Cookies are indexes (cookie(i)), so that many calls in flight can be told apart.
class CodeRecorder : public kova::test::fixtures::CallRecorder<CodeCallback> {
public:
    std::function<void(int, void*)> callback() const;
    static void* cookie(size_t index) { return reinterpret_cast<void*>(index); }
    // Of the calls with cookie(index): the last code (-1 when none), how many, the last thread.
    int code(size_t index) const;
    int calls(size_t index) const;
    std::thread::id thread(size_t index) const;

private:
    std::vector<CodeCallback> callsWith(size_t index) const;
};

// One pushed message as the consumer saw it.
struct Received {
    void* cookie = nullptr;
    std::string rid;
    std::string sid;
    std::string body;
};

// A push consumer that records every message and answers from a script (0
// once the script is used up); a scripted value of -1 throws instead.
class RecordingConsumer : public kova::test::fixtures::CallRecorder<Received> {
public:
    void script(std::vector<int> results);
    KOVA::PushConsumerCallback callback() const;

private:
    struct Script {
        std::mutex mutex;
        std::vector<int> results;
    };
    std::shared_ptr<Script> script_ = std::make_shared<Script>();
};

}  // namespace kova::test::engine
