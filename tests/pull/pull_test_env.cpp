#include "pull_test_env.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "batches.h"
#include "client_items.h"

namespace kova::pulltest {

namespace {

std::vector<std::filesystem::path> logFiles() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(kova::test::engine::processLogDir())) {
        if (entry.path().extension() == ".log") files.push_back(entry.path());
    }
    return files;
}

}  // namespace

KOVA::KOVAClientAdapterPtr makeAdapter(const std::vector<std::string>& items) {
    std::vector<std::string> all{"Ice.ThreadPool.Client.SizeMax=4"};
    all.insert(all.end(), items.begin(), items.end());
    // Long polls stay below the invocation timeout.
    return kova::test::engine::makeTestAdapter("pt", all, std::chrono::seconds(30));
}

KOVA::KOVAClientLibImplPtr makeEngine(const std::string& agentProxy, const std::vector<std::string>& extra) {
    std::vector<std::string> items{std::string(kAgentKey) + "=" + agentProxy};
    items.insert(items.end(), extra.begin(), extra.end());
    return std::make_shared<KOVA::KOVAClientLibImpl>(kAgentKey, makeAdapter(items));
}

KOVAMsg::KOVABatchMessage batchOf(int records, const std::string& prefix) {
    return kova::test::engine::keyedBatch(records, 32, prefix);
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
