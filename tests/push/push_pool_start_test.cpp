// A push pool one of whose threads cannot start logs an ERROR line and throws, with the
// threads it did start ended, instead of taking the process down. This binary's own
// pthread_create fails when a test asks, so it has a binary of its own.
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <system_error>

#include "KOVAPushPool.h"
#include "log_reader.h"
#include "test_log.h"

namespace {
int startsBeforeFailure = -1;  // thread starts that succeed before one fails; -1: none fails
}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*body)(void*), void* arg) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "pthread_create"));
    if (startsBeforeFailure >= 0 && startsBeforeFailure-- == 0) return EAGAIN;
    return real(thread, attr, body, arg);
}

TEST(PushPool, AThreadThatCannotStartIsReportedNotFatal) {
    startsBeforeFailure = 2;
    EXPECT_THROW(KOVA::KOVAPushPool pool(4), std::system_error);
    const std::string logged = kova::test::fixtures::readLogs(kova::test::fixtures::testLogDir());
    EXPECT_EQ(1u, kova::test::fixtures::countOccurrences(logged, "ERROR: Start 4 thread(s) push pool failed"));
}
