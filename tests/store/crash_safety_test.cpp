// Writers and readers killed with SIGKILL at random moments lose no batch that a
// writer acknowledged: each is handed back at least once, and again only for a reader
// killed with it pending.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "KOVANamedLock.h"
#include "child_process.h"
#include "log_reader.h"
#include "store_helpers.h"
#include "temp_dir.h"
#include "test_log.h"

namespace kova::test::store {
namespace {

using std::chrono::milliseconds;

// One round: a writer killed between 0 and 8 ms after it was ready and, when
// `withReader`, a reader started beside it once it has been handed its first batch
// and killed up to 4 ms after the writer. The writer's acknowledged ids; the ids the
// reader was handed go to `readerGot`.
std::vector<std::string> runRound(const std::string& dir, const std::string& prefix, bool sync, const std::string& tag,
                                  bool withReader, std::mt19937& random, std::vector<std::string>& readerGot) {
    fixtures::ChildProcess writer, reader;
    auto readerLines = [&](std::optional<size_t> until) {
        while (auto line = reader.readLine(milliseconds(until ? 10000 : 2000))) {
            if (line->rfind("GOT ", 0) != 0) continue;
            const size_t space = line->rfind(' ');
            EXPECT_EQ(line->substr(space + 1), "ok") << *line;
            readerGot.push_back(line->substr(4, space - 4));
            if (until && readerGot.size() > *until) return;
        }
    };
    writer.start({{storeToolPath(), "write", dir, prefix, sync ? "sync" : "async", tag}, "", false, true});
    EXPECT_EQ(writer.readLine(milliseconds(10000)), std::optional<std::string>("READY"));
    if (withReader) {
        reader.start({{storeToolPath(), "read", dir, prefix}, "", true, true});
        for (int i = 0; i < 3000; ++i) reader.writeLine("y");  // accepts every batch
        readerLines(readerGot.size());
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 8000));
    writer.kill();
    std::vector<std::string> acked;
    while (auto line = writer.readLine(milliseconds(2000))) {
        if (line->rfind("ACK ", 0) == 0) acked.push_back(line->substr(4));
    }
    if (withReader) {
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
        reader.kill();
        readerLines(std::nullopt);
    }
    return acked;
}

// Every store file holds no record left to read (a file cut short while it was made
// holds none).
bool allRead(const std::string& dir, const std::string& prefix) {
    for (const std::string& file : storeFiles(dir, prefix)) {
        if (std::filesystem::file_size(file) <= 40) continue;
        const Header header = readHeader(file);
        if (header.readNums != header.writeNums) return false;
    }
    return true;
}

// Reads until every file is read to its end, however long the semaphores that killed
// readers held take to count as orphaned (the period is shortened meanwhile; with
// several such names one recovery can restart another's count), within a bound.
std::vector<std::string> drainPatiently(KOVA::KOVAStoreFile& reader, const std::string& dir,
                                        const std::string& prefix) {
    KOVA::KOVANamedLock::setOrphanAfter(milliseconds(500));
    std::vector<std::string> rids;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::vector<std::string> got = drain(reader, 1);
        rids.insert(rids.end(), got.begin(), got.end());
        if (got.empty() && allRead(dir, prefix)) break;
        if (got.empty()) std::this_thread::sleep_for(milliseconds(100));
    }
    KOVA::KOVANamedLock::setOrphanAfter(KOVA::KOVANamedLock::kOrphanAfter);
    return rids;
}

// Each file the readers moved aside: its header and the log lines that name it.
std::string movedAside(const std::string& dirtyDir, const std::string& logs) {
    std::ostringstream out;
    for (const auto& entry : std::filesystem::directory_iterator(dirtyDir)) {
        const std::string name = entry.path().filename().string();
        const Header h = readHeader(entry.path().string());
        out << name << ": owner " << h.owner << ", last read " << h.lastRead << ", last write " << h.lastWrite
            << ", totalLen " << h.totalLen << ", writeOffset " << h.writeOffset << ", writeNums " << h.writeNums
            << ", readOffset " << h.readOffset << ", readNums " << h.readNums << "\n";
        std::istringstream lines(logs);
        for (std::string line; std::getline(lines, line);) {
            if (line.find(name) != std::string::npos) out << "  " << line << "\n";
        }
    }
    return out.str();
}

TEST(StoreCrashSafety, HundredKilledWritersAndFiftyKilledReadersLoseNoAcknowledgedBatch) {
    fixtures::LogMark log(fixtures::testLogDir());
    fixtures::TempDir dir("kova-store-crash");
    UniquePrefix prefix("crash");
    const std::string storeDir = (dir.path() / "store").string();  // the children log beside it
    std::mt19937 random(20261207);
    std::map<std::string, std::vector<std::string>> ackedByWriter;
    std::map<std::string, std::set<std::string>> readByWriter;
    auto writerOf = [](const std::string& rid) { return rid.substr(0, rid.find('-')); };
    std::vector<std::string> readerGot;
    size_t readersKilled = 0;
    for (int round = 0; round < 100; ++round) {
        const std::string tag = "w" + std::to_string(round);
        readersKilled += round % 2 == 0;
        ackedByWriter[tag] = runRound(storeDir, prefix.str(), round % 4 == 3, tag, round % 2 == 0, random, readerGot);
    }
    for (const std::string& rid : readerGot) readByWriter[writerOf(rid)].insert(rid);
    for (const std::string& file : storeFiles(storeDir, prefix.str())) {
        if (std::filesystem::file_size(file) > 40) ageHeader(file, 120, true);
    }

    KOVA::KOVAStoreFile reader(storeDir, prefix.str(), "", true, 0, 0);
    std::set<std::string> drained;
    for (const std::string& rid : drainPatiently(reader, storeDir, prefix.str())) {
        ASSERT_EQ(rid.rfind("corrupt:", 0), std::string::npos) << rid;
        ASSERT_TRUE(drained.insert(rid).second) << rid << " handed back twice by one reader";
        readByWriter[writerOf(rid)].insert(rid);
    }
    // One batch at most pending in each killed reader: handed back, never accepted.
    size_t distinct = 0;
    for (const auto& [tag, read] : readByWriter) distinct += read.size();
    EXPECT_LE(readerGot.size() + drained.size() - distinct, readersKilled);
    size_t ackedTotal = 0;
    for (const auto& [tag, acked] : ackedByWriter) {
        ackedTotal += acked.size();
        // Every acknowledged batch; at most the one record a kill cut off after its
        // write and before its acknowledgement comes on top.
        const std::set<std::string>& read = readByWriter[tag];
        for (const std::string& rid : acked) EXPECT_EQ(read.count(rid), 1u) << rid << " lost";
        EXPECT_LE(read.size(), acked.size() + 1) << tag;
    }
    EXPECT_GT(ackedTotal, 100u);
    EXPECT_GE(readerGot.size(), 50u) << "a killed reader was handed nothing";
    const std::string dirtyDir = storeDir + "/errKOVAData";
    const bool damaged = std::filesystem::exists(dirtyDir);
    EXPECT_FALSE(damaged) << "a file was read as damaged:\n"
                          << movedAside(dirtyDir, log.text() + fixtures::readLogs(dir.str()));
    for (const std::string& file : storeFiles(storeDir, prefix.str())) {
        if (std::filesystem::file_size(file) <= 40) continue;  // killed while creating it
        const Header header = readHeader(file);
        EXPECT_EQ(header.readNums, header.writeNums) << file;
    }
    if (damaged) {  // kept for a closer look, children's logs included
        std::filesystem::rename(dir.path(), dir.str() + "-kept");
        ADD_FAILURE() << "kept " << dir.str() << "-kept";
    }
}

}  // namespace
}  // namespace kova::test::store
