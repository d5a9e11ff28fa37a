// Internal. Clang's thread-safety attributes, so that the compiler checks which lock
// guards which field (clang with -Wthread-safety; other compilers ignore them).
//
// Put GUARDED_BY on a field, REQUIRES/EXCLUDES on a function that must be called
// with or without a lock held, and lock through KOVA::Mutex and KOVA::MutexLock
// (KOVAMutex.h), which carry the capability. A field read without its lock on
// purpose says why on that line.
#pragma once

#if defined(__clang__)
#define KOVA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KOVA_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) KOVA_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY KOVA_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) KOVA_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) KOVA_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) KOVA_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) KOVA_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) KOVA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) KOVA_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) KOVA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) KOVA_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KOVA_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define RELEASE(...) KOVA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) KOVA_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define EXCLUDES(...) KOVA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) KOVA_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) KOVA_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS KOVA_THREAD_ANNOTATION(no_thread_safety_analysis)
