// Clang thread-safety annotations; checked with -Wthread-safety, empty elsewhere.
#pragma once

#if defined(__clang__)
#define ZORSCK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZORSCK_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ZORSCK_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ZORSCK_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ZORSCK_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ZORSCK_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) ZORSCK_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ZORSCK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) ZORSCK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZORSCK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ZORSCK_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(x) ZORSCK_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS ZORSCK_THREAD_ANNOTATION(no_thread_safety_analysis)
