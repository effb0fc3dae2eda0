#pragma once

// Qt's mutexes and semaphores order threads inside Qt's own library, which ThreadSanitizer does
// not see unless Qt itself was built with it, so it would report every access guarded by them.
// These hints tell it about that order: call acquired() right after taking a lock and
// releasing() right before giving it back. Outside ThreadSanitizer builds they do nothing.

#if defined(__SANITIZE_THREAD__)
#define FACELUME_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define FACELUME_THREAD_SANITIZER 1
#endif
#endif

#if defined(FACELUME_THREAD_SANITIZER)
#include <sanitizer/tsan_interface.h>
#endif

namespace threadSanitizer {

inline void acquired(void* lock) {
#if defined(FACELUME_THREAD_SANITIZER)
    __tsan_acquire(lock);
#else
    (void)lock;
#endif
}

inline void releasing(void* lock) {
#if defined(FACELUME_THREAD_SANITIZER)
    __tsan_release(lock);
#else
    (void)lock;
#endif
}

}  // namespace threadSanitizer
