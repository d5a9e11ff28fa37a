// Writers killed with SIGKILL at random moments lose no batch they acknowledged.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "child_process.h"
#include "store_helpers.h"
#include "temp_dir.h"

namespace kova::test::store {
namespace {

using std::chrono::milliseconds;

// The acknowledged ids of one writer, killed between 0 and 8 ms after it was ready.
std::vector<std::string> runWriterAndKill(const std::string& dir, const std::string& prefix, bool sync,
                                          const std::string& tag, std::mt19937& random) {
    fixtures::ChildProcess writer;
    writer.start({{storeToolPath(), "write", dir, prefix, sync ? "sync" : "async", tag}, "", false, true});
    EXPECT_EQ(writer.readLine(milliseconds(10000)), std::optional<std::string>("READY"));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 8000));
    writer.kill();
    std::vector<std::string> acked;
    while (auto line = writer.readLine(milliseconds(2000))) {
        if (line->rfind("ACK ", 0) == 0) acked.push_back(line->substr(4));
    }
    return acked;
}

TEST(StoreCrashSafety, HundredKilledWritersLoseNoAcknowledgedBatch) {
    fixtures::TempDir dir("kova-store-crash");
    UniquePrefix prefix("crash");
    const std::string storeDir = (dir.path() / "store").string();  // the writers log beside it
    std::mt19937 random(20261207);
    std::map<std::string, std::vector<std::string>> ackedByWriter;
    for (int round = 0; round < 100; ++round) {
        const std::string tag = "w" + std::to_string(round);
        ackedByWriter[tag] = runWriterAndKill(storeDir, prefix.str(), round % 4 == 3, tag, random);
    }
    for (const std::string& file : storeFiles(storeDir, prefix.str())) {
        if (std::filesystem::file_size(file) > 40) ageHeader(file, 120, true);
    }

    KOVA::KOVAStoreFile reader(storeDir, prefix.str(), "", true, 0, 0);
    std::map<std::string, std::vector<std::string>> readByWriter;
    std::set<std::string> seen;
    for (const std::string& rid : drain(reader, 5)) {
        ASSERT_EQ(rid.rfind("corrupt:", 0), std::string::npos) << rid;
        ASSERT_TRUE(seen.insert(rid).second) << rid << " handed back twice";
        readByWriter[rid.substr(0, rid.find('-'))].push_back(rid);
    }
    size_t ackedTotal = 0;
    for (const auto& [tag, acked] : ackedByWriter) {
        ackedTotal += acked.size();
        // In order, nothing missing; at most the one record a kill cut off after
        // its write and before its acknowledgement comes on top.
        const std::vector<std::string>& read = readByWriter[tag];
        ASSERT_GE(read.size(), acked.size()) << tag;
        ASSERT_LE(read.size(), acked.size() + 1) << tag;
        EXPECT_TRUE(std::equal(acked.begin(), acked.end(), read.begin())) << tag;
    }
    EXPECT_GT(ackedTotal, 100u);
    EXPECT_FALSE(std::filesystem::exists(storeDir + "/errKOVAData")) << "a killed writer left a damaged file";
    for (const std::string& file : storeFiles(storeDir, prefix.str())) {
        if (std::filesystem::file_size(file) <= 40) continue;  // killed while creating it
        const Header header = readHeader(file);
        EXPECT_EQ(header.readNums, header.writeNums) << file;
    }
}

}  // namespace
}  // namespace kova::test::store
