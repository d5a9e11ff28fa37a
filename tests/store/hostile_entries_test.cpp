// Entries a store directory may hold that the reader must not trust: a link, a peer's
// file in the making, a record longer than a window, and a dirty file whose shared
// fallback directory /tmp/errKOVAData is not this user's private one; and a link put
// in place of a writer's file, which the writer must not trust either.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "KOVAStoreRecord.h"
#include "largest_allocation.h"
#include "log_reader.h"
#include "store_helpers.h"
#include "temp_dir.h"

namespace kova::test::store {
namespace {

namespace fs = std::filesystem;

struct Scene {
    fixtures::TempDir store{"kova-store-hostile"};
    fixtures::TempDir outside{"kova-store-outside"};
    UniquePrefix prefix{"hostile"};
    std::string name = prefix.str() + ".1.1.0";
    std::string path = store.file(name);
    std::string before;  // bytes that must stay as they were
};

struct HostileCase {
    const char* name;
    void (*plant)(Scene&);
    void (*check)(Scene&);
    mode_t sharedDirMode = 0;  // /tmp/errKOVAData made so for the row (0: left alone)
    uid_t sharedDirOwner = 0;
    int handedBack = 0;  // batches of one message
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

// Aged, counting one message but holding no record; the store's own errKOVAData unusable.
void plantDirtyFile(Scene& s) {
    writeStoreFile(s.path, {}, 1);
    ageHeader(s.path, 120, true);
    s.store.write("errKOVAData", "not a directory");
}

void movedToTmpOnly(Scene& s) {
    EXPECT_FALSE(fs::remove(fs::path("/tmp/errKOVAData") / s.name));
    EXPECT_TRUE(fs::remove("/tmp/" + s.name));
}

// Between two batches of a writer; the second must not be lost. (The writer never
// opens its file by name again, so the link's target is out of its reach anyway.)
void plantLinkOverWriteFile(Scene& s) {
    s.outside.write("target", "not a store file");
    KOVA::KOVAStoreFile writer(s.store.str(), s.prefix.str(), "", true, 0, 0);
    ASSERT_TRUE(writer.Store("a", oneMessageBatch(16), {}));
    fs::create_symlink(s.outside.file("target"), s.store.file("link"));
    fs::rename(s.store.file("link"), storeFiles(s.store.str(), s.prefix.str())[0]);
    EXPECT_TRUE(writer.Store("b", oneMessageBatch(16), {}));
}

class StoreHostileEntries : public ::testing::TestWithParam<HostileCase> {};

TEST_P(StoreHostileEntries, AreLeftAloneOrRefused) {
    const HostileCase& c = GetParam();
    Scene scene;
    c.plant(scene);
    if (c.sharedDirMode != 0) {
        if (c.sharedDirOwner != ::geteuid() && ::geteuid() != 0) GTEST_SKIP() << "needs root";
        if (::mkdir("/tmp/errKOVAData", 0700) != 0) GTEST_SKIP() << "/tmp/errKOVAData is there already";
        ASSERT_EQ(::chown("/tmp/errKOVAData", c.sharedDirOwner, static_cast<gid_t>(-1)), 0);
        ASSERT_EQ(::chmod("/tmp/errKOVAData", c.sharedDirMode), 0);
    }
    KOVA::KOVAStoreFile store(scene.store.path().string(), scene.prefix.str(), "", true, 0, 0);
    int handedBack = 0;
    fixtures::resetLargestAllocation();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(store.Read([&](auto&&...) { return ++handedBack, true; }, 5), i < c.handedBack ? 1 : 0);
    EXPECT_EQ(handedBack, c.handedBack);
    EXPECT_LT(fixtures::largestAllocation(), size_t(4) << 20);
    c.check(scene);
    if (c.sharedDirMode != 0) fs::remove("/tmp/errKOVAData");
}

INSTANTIATE_TEST_SUITE_P(
    Entries, StoreHostileEntries,
    ::testing::Values(HostileCase{"LinkToAFileOutside",
                                  [](Scene& s) {
                                      writeStoreFile(s.outside.file("target"), {}, 0);
                                      ageHeader(s.outside.file("target"), 120, true);
                                      s.before = fixtures::readFile(s.outside.file("target"));
                                      fs::create_symlink(s.outside.file("target"), s.path);
                                  },
                                  [](Scene& s) {
                                      EXPECT_EQ(fixtures::readFile(s.outside.file("target")), s.before);
                                      EXPECT_TRUE(fs::is_symlink(s.path));
                                  }},
                      HostileCase{"PeerFileInTheMaking",
                                  [](Scene& s) {
                                      s.store.write(s.name, std::string("\x39\x30\0\0", 4));  // only the pid so far
                                      fs::resize_file(s.path, 20971520);
                                      s.before = fixtures::readFile(s.path).substr(0, 40);
                                  },
                                  [](Scene& s) { EXPECT_EQ(fixtures::readFile(s.path).substr(0, 40), s.before); }},
                      HostileCase{"RecordOverOneWindow",
                                  [](Scene& s) {
                                      std::string record;
                                      KOVA::storerecord::Encode("big", {}, oneMessageBatch(11 << 20), record);
                                      writeStoreFile(s.path, {record}, 1);
                                      ageHeader(s.path, 120, true);
                                  },
                                  [](Scene& s) { EXPECT_TRUE(fs::exists(s.store.path() / "errKOVAData" / s.name)); }},
                      HostileCase{"SharedDirtyDirWritableByOthers", plantDirtyFile, movedToTmpOnly, 0777, ::geteuid()},
                      HostileCase{"SharedDirtyDirOfAnotherUser", plantDirtyFile, movedToTmpOnly, 0700, 65534},
                      HostileCase{"LinkOverTheWriteFile", plantLinkOverWriteFile, [](Scene&) {}, 0, 0, 1}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kova::test::store
