#include "pull_test_env.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "temp_dir.h"

namespace kova::pulltest {

namespace {

// One log directory per test binary, removed at exit.
const kova::fixtures::TempDir& logDir() {
    static const kova::fixtures::TempDir dir("kova-pull-log");
    return dir;
}

std::vector<std::filesystem::path> logFiles() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(logDir().path())) {
        if (entry.path().extension() == ".log") files.push_back(entry.path());
    }
    return files;
}

}  // namespace

KOVA::KOVAClientAdapterPtr makeAdapter(const std::vector<std::string>& items) {
    std::vector<std::string> all{"pt.LogDir=" + logDir().path().string(), "pt.LogLevel=INFO",
                                 "ptServer.Proxy=KOVAAgent:tcp -h 127.0.0.1 -p 9",
                                 "ptServer.Proxy.Locator=TGrid/Locator:tcp -h 127.0.0.1 -p 9",
                                 // Long polls stay below it; a call that hangs fails the test.
                                 "Ice.Default.InvocationTimeout=30000", "Ice.ThreadPool.Client.SizeMax=4"};
    all.insert(all.end(), items.begin(), items.end());
    return new KOVA::KOVAClientAdapter(all, "pt");
}

KOVA::KOVAClientLibImplPtr makeEngine(const std::string& agentProxy, const std::vector<std::string>& extra) {
    std::vector<std::string> items{std::string(kAgentKey) + "=" + agentProxy};
    items.insert(items.end(), extra.begin(), extra.end());
    return std::make_shared<KOVA::KOVAClientLibImpl>(kAgentKey, makeAdapter(items));
}

KOVAMsg::KOVABatchMessage batchOf(int records, const std::string& prefix) {
    KOVAMsg::KOVABatchMessage batch;
    for (int i = 0; i < records; ++i) {
        KOVAMsg::KOVAMessage message{};
        message.properties["KEYS"] = prefix + std::to_string(i);
        message.message.assign(32, static_cast<Ice::Byte>('a' + i % 26));
        batch.push_back(message);
    }
    return batch;
}

std::string keyOf(const KOVA::IMessage& message) {
    return message.GetProperty("KEYS");
}

LogMark::LogMark() {
    for (const auto& file : logFiles()) sizes_[file.string()] = std::filesystem::file_size(file);
}

std::string LogMark::text() const {
    std::string all;
    for (const auto& file : logFiles()) {
        std::ifstream in(file, std::ios::binary);
        auto known = sizes_.find(file.string());
        if (known != sizes_.end()) in.seekg(static_cast<std::streamoff>(known->second));
        all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return all;
}

size_t LogMark::count(const std::string& needle) const {
    const std::string all = text();
    size_t n = 0;
    for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + needle.size())) ++n;
    return n;
}

CompletionPool::CompletionPool(int threads)
    : service_(std::make_shared<boost::asio::io_context>()), work_(service_->get_executor()) {
    for (int i = 0; i < threads; ++i) {
        threads_.emplace_back([service = service_] { service->run(); });
        ids_.insert(threads_.back().get_id());
    }
}

CompletionPool::~CompletionPool() {
    work_.reset();
    service_->stop();
    for (std::thread& t : threads_) t.join();
}

KOVA::PullConsumerCallback PullRecorder::callback() {
    return [this](const std::string& rid, const std::string& sid, KOVA::ConsumeStatusPtr status, void* cookie) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(PullCallback{rid, sid, status, cookie, std::this_thread::get_id()});
        arrived_.notify_all();
    };
}

bool PullRecorder::waitFor(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return calls_.size() >= n; });
}

std::vector<PullCallback> PullRecorder::all() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

size_t PullRecorder::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

}  // namespace kova::pulltest
