// Entries a store directory may hold that the reader must not trust: links, a peer's
// file in the making, a record longer than a window, and a shared dirty-file directory
// that is not this user's own.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "KOVAStoreRecord.h"
#include "largest_allocation.h"
#include "log_reader.h"
#include "store_helpers.h"
#include "temp_dir.h"

namespace kova::test::store {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSharedDirtyDir = "/tmp/errKOVAData";

struct Scene {
    fixtures::TempDir store{"kova-store-hostile"};
    fixtures::TempDir outside{"kova-store-outside"};
    UniquePrefix prefix{"hostile"};
    std::string name = prefix.str() + ".1.1.0";
    std::string path = store.file(name);
    std::string before;  // bytes that must stay as they were
};

// An aged file whose header counts one message but holds no record: dirty.
void plantDirtyFile(Scene& scene) {
    writeStoreFile(scene.path, {}, 1);
    ageHeader(scene.path, 120, true);
    if (!fs::exists(scene.store.file("errKOVAData")))
        scene.store.write("errKOVAData", "not a directory");  // the store's own is unusable
}

// /tmp/errKOVAData with the given mode and owner while it lives, as it was afterwards
// (without the file `name`, should it have gone there).
class SharedDirtyDir {
public:
    SharedDirtyDir(mode_t mode, uid_t owner, const std::string& name) : _name(name) {
        struct stat st;
        _existed = ::lstat(kSharedDirtyDir, &st) == 0;
        if (_existed) _mode = st.st_mode & 07777, _owner = st.st_uid;
        _ready = (_existed ? S_ISDIR(st.st_mode) : ::mkdir(kSharedDirtyDir, 0700) == 0) &&
                 ::chown(kSharedDirtyDir, owner, static_cast<gid_t>(-1)) == 0 && ::chmod(kSharedDirtyDir, mode) == 0;
    }
    ~SharedDirtyDir() {
        ::unlink((std::string(kSharedDirtyDir) + "/" + _name).c_str());
        if (!_existed) {
            ::rmdir(kSharedDirtyDir);
        } else if (::chown(kSharedDirtyDir, _owner, static_cast<gid_t>(-1)) != 0 || ::chmod(kSharedDirtyDir, _mode)) {
            ADD_FAILURE() << "cannot restore " << kSharedDirtyDir;
        }
    }
    bool ready() const { return _ready; }

private:
    std::string _name;
    bool _existed = false, _ready = false;
    mode_t _mode = 0;
    uid_t _owner = 0;
};

void expectNotInSharedDirtyDir(Scene& scene, mode_t mode, uid_t owner) {
    SharedDirtyDir shared(mode, owner, scene.name);
    ASSERT_TRUE(shared.ready()) << "cannot prepare " << kSharedDirtyDir;
    KOVA::KOVAStoreFile store(scene.store.path().string(), scene.prefix.str(), "", true, 0, 0);
    EXPECT_EQ(store.Read([](auto&&...) { return true; }, 5), 0);
    EXPECT_FALSE(fs::exists(fs::path(kSharedDirtyDir) / scene.name));
    EXPECT_TRUE(fs::remove("/tmp/" + scene.name)) << "the dirty file was not moved to /tmp/";
}

struct HostileCase {
    const char* name;
    std::function<void(Scene&)> plant;
    // Runs the reader itself when set; otherwise the reader runs and check follows.
    std::function<void(Scene&)> read;
    std::function<void(Scene&)> check;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class StoreHostileEntries : public ::testing::TestWithParam<HostileCase> {};

TEST_P(StoreHostileEntries, AreLeftAloneOrRefused) {
    Scene scene;
    GetParam().plant(scene);
    if (GetParam().read) return GetParam().read(scene);
    KOVA::KOVAStoreFile store(scene.store.path().string(), scene.prefix.str(), "", true, 0, 0);
    int handedBack = 0;
    fixtures::resetLargestAllocation();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(store.Read([&](auto&&...) { return ++handedBack, true; }, 5), 0);
    EXPECT_EQ(handedBack, 0);
    EXPECT_LT(fixtures::largestAllocation(), size_t(4) << 20);
    GetParam().check(scene);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, StoreHostileEntries,
    ::testing::Values(HostileCase{"LinkToAFileOutside",
                                  [](Scene& s) {
                                      const std::string target = s.outside.file("target");
                                      writeStoreFile(target, {}, 0);
                                      ageHeader(target, 120, true);
                                      s.before = fixtures::readFile(target);
                                      fs::create_symlink(target, s.path);
                                  },
                                  nullptr,
                                  [](Scene& s) {
                                      EXPECT_EQ(fixtures::readFile(s.outside.file("target")), s.before);
                                      EXPECT_TRUE(fs::is_symlink(s.path));
                                  }},
                      HostileCase{"PeerFileInTheMaking",
                                  [](Scene& s) {
                                      // Full size, only the creator's pid: its header is not written yet.
                                      s.store.write(s.name, std::string("\x39\x30\0\0", 4));
                                      fs::resize_file(s.path, 20971520);
                                      s.before = fixtures::readFile(s.path).substr(0, 40);
                                  },
                                  nullptr,
                                  [](Scene& s) { EXPECT_EQ(fixtures::readFile(s.path).substr(0, 40), s.before); }},
                      HostileCase{"RecordOverOneWindow",
                                  [](Scene& s) {
                                      std::string record;
                                      KOVA::storerecord::Encode("big", {}, oneMessageBatch(11 << 20), record);
                                      writeStoreFile(s.path, {record}, 1);
                                      ageHeader(s.path, 120, true);
                                  },
                                  nullptr,
                                  [](Scene& s) { EXPECT_TRUE(fs::exists(s.store.path() / "errKOVAData" / s.name)); }},
                      // One row, so that no two tests change /tmp/errKOVAData at the same time.
                      HostileCase{"SharedDirtyDirWritableByOthersOrForeign", plantDirtyFile,
                                  [](Scene& s) {
                                      expectNotInSharedDirtyDir(s, 0777, ::geteuid());
                                      if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a directory away";
                                      plantDirtyFile(s);
                                      expectNotInSharedDirtyDir(s, 0700, 65534);
                                  },
                                  nullptr}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kova::test::store
