// A named lock left locked by a dead process is re-created after a whole orphan period
// of unavailability, and never while a live holder or another recoverer has it.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include <boost/interprocess/sync/named_mutex.hpp>

#include "KOVANamedLock.h"
#include "store_helpers.h"

namespace kova::test::store {
namespace {

namespace bip = boost::interprocess;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kPeriod{400};

struct OrphanCase {
    const char* name;
    double pollFor;        // attempts until then (in orphan periods) or until one owns the lock
    double interval;       // between attempts
    double replaceAt;      // then another recoverer re-creates the semaphore and holds it; < 0: never
    bool recovererAtWork;  // another recoverer holds the semaphore file's lock throughout
    bool recovered;
};

void PrintTo(const OrphanCase& c, std::ostream* os) { *os << c.name; }

class NamedLockOrphans : public ::testing::TestWithParam<OrphanCase> {
protected:
    void SetUp() override { KOVA::KOVANamedLock::setOrphanAfter(kPeriod); }
    void TearDown() override { KOVA::KOVANamedLock::setOrphanAfter(KOVA::KOVANamedLock::kOrphanAfter); }
};

TEST_P(NamedLockOrphans, AreRecoveredOnlyAfterAWholePeriodOfUnavailability) {
    const OrphanCase& c = GetParam();
    UniquePrefix prefix("orphan");
    const std::string name = "/" + prefix.str() + ".lock";
    bip::named_mutex(bip::open_or_create, name.c_str()).lock();  // as a killed holder leaves it
    int guardFd = -1;
    if (c.recovererAtWork) {
        guardFd = ::open(("/dev/shm/sem." + name.substr(1)).c_str(), O_RDWR | O_CLOEXEC);
        struct flock range = {};
        range.l_type = F_WRLCK;
        range.l_len = 1;
        ASSERT_EQ(::fcntl(guardFd, F_OFD_SETLK, &range), 0);
    }
    std::unique_ptr<bip::named_mutex> liveHolder;
    bool owned = false;
    const Clock::time_point start = Clock::now();
    auto periods = [&] { return std::chrono::duration<double>(Clock::now() - start) / kPeriod; };
    while (!owned && periods() < c.pollFor) {
        if (c.replaceAt >= 0 && !liveHolder && periods() >= c.replaceAt) {
            bip::named_mutex::remove(name.c_str());
            liveHolder = std::make_unique<bip::named_mutex>(bip::open_or_create, name.c_str());
            liveHolder->lock();
        }
        owned = KOVA::KOVANamedLock(name, milliseconds(10)).owned();
        if (!owned) std::this_thread::sleep_for(kPeriod * c.interval);
    }
    if (guardFd >= 0) ::close(guardFd);
    EXPECT_EQ(owned, c.recovered);
    if (owned) {
        EXPECT_GE(periods(), 1.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, NamedLockOrphans,
                         ::testing::Values(OrphanCase{"LeftByADeadHolder", 25, 0.05, -1, false, true},
                                           OrphanCase{"SeenOnlyTwiceAPeriodApart", 2, 1.2, -1, false, false},
                                           OrphanCase{"ReCreatedByAnotherRecovererMeanwhile", 1.3, 0.05, 0.7, false,
                                                      false},
                                           OrphanCase{"AnotherRecovererAtWork", 2, 0.05, -1, true, false}),
                         [](const ::testing::TestParamInfo<OrphanCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kova::test::store
